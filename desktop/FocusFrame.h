#pragma once

#include <QRect>
#include <QWidget>

// A dotted frame on the screen around a rectangle: an input-transparent
// outline window of its own, shown, moved and hidden (compositors break
// drawing onto the screen).
class FocusFrame : public QWidget {
public:
    FocusFrame();
    // Shows the frame around the rectangle, or hides it for an empty one.
    void ShowAt(const QRect& rect);
    // Where the frame stands while it is shown; empty while hidden.
    QRect Shown() const { return isVisible() ? geometry() : QRect(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
