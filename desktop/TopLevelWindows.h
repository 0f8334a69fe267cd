#pragma once

#include <QByteArray>
#include <cstdint>
#include <functional>
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

// Asks the program that owns the window to show it (a client message to the
// window; only its own program receives it). Nothing is done to the window.
void RequestShow(std::uint32_t id);

class QWidget;
class QAbstractNativeEventFilter;

// Calls `show` whenever another process asks, through RequestShow, for this
// top-level widget to be shown. The watch ends when the filter is destroyed.
std::unique_ptr<QAbstractNativeEventFilter> WatchShowRequests(QWidget* window, std::function<void()> show);
