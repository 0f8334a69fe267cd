#include "DragFrame.h"

#include "Twips.h"

#include <cstdint>
#include <stdexcept>

DragRect ComputeDragFrame(QPoint pointer, const DragRect& windowRect, QPoint startPoint, int twipsPerPixelX,
    int twipsPerPixelY)
{
    const auto edge = [](double pointerPart, int windowEdge, double startPart) {
        return int(RoundHalfEven(pointerPart + windowEdge - startPart));
    };
    const double px = double(pointer.x()) / twipsPerPixelX, sx = double(startPoint.x()) / twipsPerPixelX;
    const double py = double(pointer.y()) / twipsPerPixelY, sy = double(startPoint.y()) / twipsPerPixelY;
    return {edge(px, windowRect.left, sx), edge(py, windowRect.top, sy), edge(px, windowRect.right, sx),
        edge(py, windowRect.bottom, sy)};
}

QPointF DragEndPosition(float x, float y, int dragStartX, int dragStartY, const DragRect& windowRect,
    int twipsPerPixelX, int twipsPerPixelY)
{
    std::int32_t left = 0, top = 0;
    if (__builtin_mul_overflow(std::int32_t(twipsPerPixelX), std::int32_t(windowRect.left), &left)
        || __builtin_mul_overflow(std::int32_t(twipsPerPixelY), std::int32_t(windowRect.top), &top))
        throw std::overflow_error("Overflow");
    return QPointF(x - float(dragStartX) + float(left), y - float(dragStartY) + float(top));
}
