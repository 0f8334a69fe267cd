#pragma once

#include <QRect>
#include <QWidget>

// A dotted frame on the screen, drawn like an XOR focus rectangle: drawing the
// rectangle that is shown takes it away again, and an empty rectangle draws
// nothing. It is an input-transparent outline window of its own, because
// compositors break drawing onto the screen.
class FocusFrame : public QWidget {
public:
    FocusFrame();
    void Draw(const QRect& rect);
    QRect Shown() const { return m_shown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect m_shown;
};
