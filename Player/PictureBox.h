#pragma once

#include <QPixmap>
#include <QWidget>

// A borderless picture surface that reports its mouse events with the
// button codes (1 left, 2 right, 4 middle; for moves the set held) and the
// position in twips relative to itself.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void SetPicture(const QPixmap& picture);
    QPixmap Picture() const { return m_picture; }

signals:
    void MouseDown(int Button, int Shift, float X, float Y);
    void MouseMove(int Button, int Shift, float X, float Y);
    void MouseUp(int Button, int Shift, float X, float Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_picture;
};

// An image kept on the window for later use; it is placed outside the
// visible area and never seen. Icons keep their icon as well.
class QMouseEvent;

class ImageHolder : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    QPixmap Picture() const { return m_picture; }
    QIcon Icon() const { return m_icon; }
    void SetPicture(const QPixmap& picture) { m_picture = picture; }
    void SetIcon(const QIcon& icon) { m_icon = icon; }

private:
    QPixmap m_picture;
    QIcon m_icon;
};

// Mouse codes shared by the window's surfaces.
int MouseButtonCode(Qt::MouseButton button);
int MouseButtonsCode(Qt::MouseButtons buttons);
int ShiftCode(Qt::KeyboardModifiers modifiers);
// The event's position within the widget, in twips.
QPointF MouseTwips(const QMouseEvent* event, const QWidget* widget);
