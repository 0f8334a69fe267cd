#include "ButtonHelper.h"

#include <QEvent>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

namespace ButtonHelper {
namespace {

class ButtonWindowFilter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override { return ButtonWindowProc(watched, event); }
};

ButtonWindowFilter& Filter()
{
    static ButtonWindowFilter filter;
    return filter;
}

bool IsDisabledWidget(QObject* window)
{
    const auto* widget = qobject_cast<QWidget*>(window);
    return widget && !widget->isEnabled();
}

} // namespace

void HookButtonWindow(QWidget* window)
{
    // Moves must arrive without a button held; Qt then reports the leave by itself.
    window->setMouseTracking(true);
    window->installEventFilter(&Filter());
}

void UnhookButtonWindow(QWidget* window)
{
    window->removeEventFilter(&Filter());
}

bool ButtonWindowProc(QObject* window, QEvent* event)
{
    const int hot = window->property("Hot").toInt();
    if (event->type() == QEvent::MouseMove && hot == 0) {
        // A disabled button gets no mouse input, so it never shows a hover face.
        if (!IsDisabledWidget(window)) {
            window->setProperty("Hot", 1);
            CallButtonMethod(window, "DrawHover");
        }
    } else if (event->type() == QEvent::Leave) {
        window->setProperty("Hot", 0);
        // A button disabled under the pointer keeps its disabled face.
        if (!IsDisabledWidget(window))
            CallButtonMethod(window, "DrawNormal");
    }
    return false;
}

void CallButtonMethod(QObject* window, const char* methodName)
{
    auto* button = window->property("Button").value<QObject*>();
    if (!button)
        return;
    QMetaObject::invokeMethod(button, methodName, Qt::DirectConnection);
}

} // namespace ButtonHelper
