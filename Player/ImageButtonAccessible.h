#pragma once

#include <QAccessibleWidget>

class ImageButton;

// An image button as assistive technologies meet it: a named button whose
// Press action does what a click does; a radio-mode button is a checkable
// radio button with its checked state.
class ImageButtonAccessible : public QAccessibleWidget {
public:
    explicit ImageButtonAccessible(ImageButton* button);
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

    // Makes every image button, and a label marked as the window's status,
    // known to the accessibility framework; once at start, before any
    // control exists.
    static void Install();

private:
    ImageButton* Button() const;
};
