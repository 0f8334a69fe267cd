#include "TransparencyHelper.h"

#include <QImage>
#include <QWidget>
#include <algorithm>
#include <stdexcept>

namespace TransparencyHelper {
namespace {

constexpr int MaxExtent = 32767;

// Runs that stop at a transparent pixel between column 26 and W-11 are carried
// on to the end of the scan, so lettering inside the picture cuts no holes.
constexpr int MiddleZoneStart = 25;
constexpr int MiddleZoneEndMargin = 10;

} // namespace

std::vector<RowRect> ComputeWindowShape(int stride, int height, std::span<const std::uint8_t> bottomUpBits,
    int& transparentIndex)
{
    if (stride > MaxExtent || height > MaxExtent)
        throw std::overflow_error("Overflow: picture larger than 32,767 pixels");
    if (stride <= 0 || height <= 0 || bottomUpBits.size() < std::size_t(stride) * std::size_t(height))
        return {};

    // Top-down view of the bottom-up store: row y is stored row height-1-y.
    const auto work = [&](int x, int y) { return bottomUpBits[std::size_t(height - 1 - y) * stride + x]; };
    if (transparentIndex < 1)
        transparentIndex = work(0, 0);
    const int t = transparentIndex;
    const int w = stride - 1;

    std::vector<RowRect> rects;
    for (int y = 0; y < height; ++y) {
        int x = 0;
        for (;;) {
            while (x < w && work(x, y) == t)
                ++x;
            if (x >= w)
                break;
            const int start = x;
            while (x < w && work(x, y) != t)
                ++x;
            int end = x;
            if (end > MiddleZoneStart && end < w - MiddleZoneEndMargin)
                end = w;
            rects.push_back({start, y, end, y + 1});
            x = end;
        }
    }
    return rects;
}

QRegion PictureShape(const QImage& picture, int& transparentIndex)
{
    if (picture.isNull() || picture.depth() != 8)
        return {};
    const int stride = int(picture.bytesPerLine());
    const int height = picture.height();
    if (stride > MaxExtent || height > MaxExtent)
        throw std::overflow_error("Overflow: picture larger than 32,767 pixels");

    std::vector<std::uint8_t> bottomUp(std::size_t(stride) * height);
    for (int y = 0; y < height; ++y)
        std::copy_n(picture.constScanLine(y), stride, bottomUp.begin() + std::ptrdiff_t(height - 1 - y) * stride);
    QRegion region;
    for (const RowRect& rect : ComputeWindowShape(stride, height, bottomUp, transparentIndex))
        region += QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1));
    return region;
}

void ShapeWindow(QWidget& window, const QImage& picture, int& transparentIndex)
{
    // Computed in full before anything changes, so a refused picture leaves
    // the window and the caller's index as they were.
    int index = transparentIndex;
    const QRegion shape = PictureShape(picture, index);
    transparentIndex = index;
    window.setVisible(false);
    // Qt reads an empty mask as "no mask"; an outline of nothing must show
    // nothing, so it becomes a pixel outside the window.
    window.setMask(shape.isEmpty() ? QRegion(-1, -1, 1, 1) : shape);
    window.setVisible(true);
}

} // namespace TransparencyHelper
