#pragma once

class QEvent;
class QObject;
class QWidget;

// Tells image buttons when the pointer enters and leaves them. A button
// window is hooked with an event filter that runs in front of the window's
// own event handling; the filter reaches the button only through the window's
// "Button" property and the method names "DrawHover" and "DrawNormal", and
// keeps its per-window state in the "Hot" property.
namespace ButtonHelper {

void HookButtonWindow(QWidget* window);
void UnhookButtonWindow(QWidget* window);

// The filter itself; returns false so every event goes on to the window.
bool ButtonWindowProc(QObject* window, QEvent* event);

// Calls the named method on the object held in the window's "Button"
// property. A missing object or a failing call is ignored.
void CallButtonMethod(QObject* window, const char* methodName);

} // namespace ButtonHelper
