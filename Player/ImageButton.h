#pragma once

#include <QPixmap>
#include <QWidget>

class PropertyBag;

// A button without drawing of its own: it shows one of four pictures as its
// face. Hover comes from ButtonHelper, which calls DrawHover and DrawNormal by
// name. In radio mode a click un-checks the other checked radio-mode buttons
// of the same window and checks the button; a click never un-checks, so a set
// of radio-mode buttons always keeps one checked, and a press released
// elsewhere changes nothing.
class ImageButton : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QPixmap UpImage READ UpImage WRITE SetUpImage)
    Q_PROPERTY(QPixmap DisabledImage READ DisabledImage WRITE SetDisabledImage)
    Q_PROPERTY(QPixmap OverImage READ OverImage WRITE SetOverImage)
    Q_PROPERTY(QPixmap DownImage READ DownImage WRITE SetDownImage)
    Q_PROPERTY(bool RadioButtonMode READ RadioButtonMode WRITE SetRadioButtonMode)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)

public:
    explicit ImageButton(QWidget* parent = nullptr);
    ~ImageButton() override;

    QPixmap UpImage() const { return m_upImage; }
    void SetUpImage(const QPixmap& vNewValue);
    QPixmap DisabledImage() const { return m_disabledImage; }
    void SetDisabledImage(const QPixmap& vNewValue);
    QPixmap OverImage() const { return m_overImage; }
    void SetOverImage(const QPixmap& vNewValue);
    QPixmap DownImage() const { return m_downImage; }
    void SetDownImage(const QPixmap& vNewValue);
    bool RadioButtonMode() const { return m_radioButtonMode; }
    void SetRadioButtonMode(bool vNewValue);
    bool Checked() const { return m_checked; }
    void SetChecked(bool vNewValue);

    void SetImage(const QPixmap& image);
    // What a click does, from the keyboard or an assistive technology: one
    // Click (in radio mode the button becomes the checked one).
    void Press();
    Q_INVOKABLE void DrawHover();
    Q_INVOKABLE void DrawNormal();
    Q_INVOKABLE void Deselect();

    // Loads the stored design; a live button (userMode) also hooks its window
    // for hover tracking. Pictures are stored as image file bytes; one that
    // cannot be decoded throws PictureError and the button shows no face.
    void ReadProperties(const PropertyBag& bag, bool userMode = true);

    // The picture last shown through SetImage.
    const QPixmap& Face() const { return m_face; }

signals:
    void Click();
    void MouseDown(int Button, int Shift, float X, float Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    // Enabling shows the up face, disabling the disabled one.
    void changeEvent(QEvent* event) override;
    // Space and Enter press the focused button; the mark of keyboard focus
    // shows only when focus came from the keyboard.
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void DrawPressed(bool pressed);
    void DeselectOthers();

    QPixmap m_upImage;
    QPixmap m_downImage;
    QPixmap m_overImage;
    QPixmap m_disabledImage;
    QPixmap m_face;
    bool m_radioButtonMode = false;
    bool m_checked = false;
    bool m_hooked = false;
    bool m_leftPressed = false;
    bool m_keyboardFocus = false;
};
