#pragma once

#include <QRegion>
#include <cstdint>
#include <span>
#include <vector>

class QImage;
class QObject;
class QWidget;

// Cuts a window's outline from an 8-bit indexed picture: in each row the
// pixels of the transparent index are cut away where they form the left and
// right margins; transparent pixels in the middle of a row stay.
namespace TransparencyHelper {

// One row rectangle in window pixels, the picture's own: right and bottom
// exclusive.
struct RowRect {
    int left, top, right, bottom;
    bool operator==(const RowRect&) const = default;
};

// The pure computation over a bottom-up 8-bit pixel store of `stride` bytes a
// row. A transparentIndex below 1 stands for the top-left pixel's index and is
// replaced by it. Throws std::overflow_error for more than 32,767 columns or rows.
std::vector<RowRect> ComputeWindowShape(int stride, int height, std::span<const std::uint8_t> bottomUpBits,
    int& transparentIndex);

// The outline of an 8-bit picture as a region (empty for any other depth).
// Throws std::overflow_error for more than 32,767 columns or rows.
QRegion PictureShape(const QImage& picture, int& transparentIndex);

void BeginWindowShape(QWidget* form);
// Adds the opaque runs of the source's "Picture" property (a QImage). A picture
// that is not 8 bits a pixel adds nothing and leaves transparentIndex alone.
void AddPictureToWindowShape(const QObject& source, int& transparentIndex);
void EndWindowShape(QWidget* form);
void ApplyWindowShape(QWidget* form);

} // namespace TransparencyHelper
