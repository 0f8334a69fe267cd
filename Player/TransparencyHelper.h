#pragma once

#include <QRegion>
#include <cstdint>
#include <span>
#include <vector>

class QImage;
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

// Cuts the window's outline from the picture: the window is hidden while its
// shape changes and shown in its new outline. A picture that is not 8 bits a
// pixel gives an outline of nothing and leaves transparentIndex alone; one
// that is refused (std::overflow_error) changes nothing.
void ShapeWindow(QWidget& window, const QImage& picture, int& transparentIndex);

} // namespace TransparencyHelper
