#include "PictureBox.h"

#include "Twips.h"

#include <QMouseEvent>
#include <QPainter>

int MouseButtonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

int MouseButtonsCode(Qt::MouseButtons buttons)
{
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) | (buttons & Qt::MiddleButton ? 4 : 0);
}

int ShiftCode(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0)
        | (modifiers & Qt::AltModifier ? 4 : 0);
}

QPointF MouseTwips(const QMouseEvent* event, const QWidget* widget)
{
    return event->position() * TwipsPerPixel(widget);
}

void PictureBox::SetPicture(const QPixmap& picture)
{
    m_picture = picture;
    update();
}

void PictureBox::paintEvent(QPaintEvent*)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    // A sharp picture drawn at a fractional scale is drawn smoothly.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(0, 0, m_picture);
}

void PictureBox::mousePressEvent(QMouseEvent* event)
{
    const QPointF twips = MouseTwips(event, this);
    emit MouseDown(MouseButtonCode(event->button()), ShiftCode(event->modifiers()), float(twips.x()), float(twips.y()));
}

void PictureBox::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF twips = MouseTwips(event, this);
    emit MouseMove(MouseButtonsCode(event->buttons()), ShiftCode(event->modifiers()), float(twips.x()), float(twips.y()));
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event)
{
    const QPointF twips = MouseTwips(event, this);
    emit MouseUp(MouseButtonCode(event->button()), ShiftCode(event->modifiers()), float(twips.x()), float(twips.y()));
}
