#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <vector>

// The X11 display's top-level windows, read with xcb through Qt's own
// connection: every window of the tree, mapped or not, with its title and
// its class.
struct TopLevelWindow {
    std::uint32_t id = 0;
    QByteArray title;     // _NET_WM_NAME, else WM_NAME; empty when there is none
    QByteArray wmClass;   // the class part of WM_CLASS
};

// The windows in the order of the tree walk; empty without an X11 display.
std::vector<TopLevelWindow> ListTopLevelWindows();

// Maps (shows) a window of any client, in its current size and place.
void MapTopLevelWindow(std::uint32_t id);

class QWidget;
class QAbstractNativeEventFilter;

// Keeps a top-level widget's idea of its visibility in line when another
// program maps its X window (a second start showing the first one): the
// widget is then shown through Qt as well, so that a later hide works.
// The watch ends when the returned filter is destroyed.
std::unique_ptr<QAbstractNativeEventFilter> WatchMapsFromOutside(QWidget* window);
