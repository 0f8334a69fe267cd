// sonvale-shape-check WINDOW_ID [SCALE]: exits 0 when the window's X bounding
// shape is exactly the outline computed from the skin's background (each
// pixel SCALE x SCALE device pixels, 1 unless given), 1 otherwise, and prints
// both when they differ.
#include "Picture.h"
#include "TransparencyHelper.h"

#include <QRegion>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace {

QRegion ExpectedShape(int scale)
{
    int transparent = 0;
    const QRegion shape = TransparencyHelper::PictureShape(LoadPictureFile(QStringLiteral(":/skin/background.gif")), transparent);
    QRegion scaled;
    for (const QRect& r : shape)
        scaled += QRect(r.topLeft() * scale, r.size() * scale);
    return scaled;
}

void Print(const char* label, const QRegion& region)
{
    std::printf("%s:", label);
    for (const QRect& r : region)
        std::printf(" %d,%d %dx%d", r.x(), r.y(), r.width(), r.height());
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    const int scale = argc == 3 ? std::atoi(argv[2]) : 1;
    const auto window = xcb_window_t(std::strtoul(argv[1], nullptr, 0));
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 2;
    std::unique_ptr<xcb_shape_get_rectangles_reply_t, decltype(&std::free)> reply(
        xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_BOUNDING), nullptr), &std::free);
    if (!reply)
        return 2;
    QRegion actual;
    const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(reply.get());
    for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply.get()); ++i)
        actual += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    xcb_disconnect(c);
    const QRegion expected = ExpectedShape(scale);
    if (actual == expected)
        return 0;
    Print("window", actual);
    Print("expected", expected);
    return 1;
}
