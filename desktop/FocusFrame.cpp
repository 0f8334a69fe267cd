#include "FocusFrame.h"

#include <QPainter>

FocusFrame::FocusFrame()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
            | Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

void FocusFrame::ShowAt(const QRect& rect)
{
    if (rect.isEmpty()) {
        hide();
        return;
    }
    setGeometry(rect);
    // Only the outline belongs to the window, so what lies under it stays visible.
    setMask(QRegion(rect.translated(-rect.topLeft())) - QRegion(1, 1, rect.width() - 2, rect.height() - 2));
    show();
    update();
}

void FocusFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    QPen dots(Qt::black, 1, Qt::CustomDashLine);
    dots.setDashPattern({1, 1});
    painter.setPen(dots);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
