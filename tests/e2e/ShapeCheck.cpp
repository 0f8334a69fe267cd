// sonvale-shape-check WINDOW_ID: exits 0 when the window's X bounding shape
// is exactly the outline computed from the skin's background, 1 otherwise,
// and prints both when they differ.
#include "Picture.h"
#include "TransparencyHelper.h"

#include <QRegion>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace {

QRegion ExpectedShape()
{
    int transparent = 0;
    return TransparencyHelper::PictureShape(LoadPictureFile(QStringLiteral(":/skin/background.gif")), transparent);
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
    if (argc != 2)
        return 2;
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
    const QRegion expected = ExpectedShape();
    if (actual == expected)
        return 0;
    Print("window", actual);
    Print("expected", expected);
    return 1;
}
