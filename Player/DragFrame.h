#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>

// A rectangle as the drag keeps it: screen pixels, right and bottom exclusive.
struct DragRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const DragRect&) const = default;
    QRect ToQRect() const { return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)); }
    static DragRect FromQRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
};

// The frame for a pointer at `pointer` (twips, offset like `startPoint`): the
// window's rectangle at the press shifted by the pointer's movement, each
// edge computed in double precision and rounded half to even.
DragRect ComputeDragFrame(QPoint pointer, const DragRect& windowRect, QPoint startPoint, int twipsPerPixelX,
    int twipsPerPixelY);

// The window's new left and top edge in twips after a drag released at
// (x, y): the products are 32-bit and throw std::overflow_error when they
// leave that range; the sums are single precision.
QPointF DragEndPosition(float x, float y, int dragStartX, int dragStartY, const DragRect& windowRect,
    int twipsPerPixelX, int twipsPerPixelY);
