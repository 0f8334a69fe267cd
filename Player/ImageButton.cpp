#include "ImageButton.h"

#include "ButtonHelper.h"
#include "PictureBox.h"
#include "Picture.h"
#include "PropertyBag.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace {

QPixmap ReadPicture(const PropertyBag& bag, const QString& key)
{
    const QVariant value = bag.ReadProperty(key);
    if (!value.isValid())
        return {};
    if (value.typeId() == QMetaType::QPixmap)
        return value.value<QPixmap>();
    return QPixmap::fromImage(LoadPicture(value.toByteArray()));
}

} // namespace

ImageButton::ImageButton(QWidget* parent)
    : QWidget(parent)
{
    resize(56, 52);
    // Reached with Tab, never taken by a click: the mouse behaves as before.
    setFocusPolicy(Qt::TabFocus);
}

ImageButton::~ImageButton()
{
    if (m_hooked)
        ButtonHelper::UnhookButtonWindow(this);
}

void ImageButton::SetUpImage(const QPixmap& vNewValue)
{
    m_upImage = vNewValue;
    SetImage(m_upImage);
}

void ImageButton::SetDisabledImage(const QPixmap& vNewValue)
{
    m_disabledImage = vNewValue;
}

void ImageButton::SetOverImage(const QPixmap& vNewValue)
{
    m_overImage = vNewValue;
}

void ImageButton::SetDownImage(const QPixmap& vNewValue)
{
    m_downImage = vNewValue;
}

void ImageButton::SetRadioButtonMode(bool vNewValue)
{
    m_radioButtonMode = vNewValue;
}

void ImageButton::SetChecked(bool vNewValue)
{
    DrawPressed(vNewValue);
    m_checked = vNewValue;
}

void ImageButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        SetImage(isEnabled() ? m_upImage : m_disabledImage);
    QWidget::changeEvent(event);
}

void ImageButton::SetImage(const QPixmap& image)
{
    m_face = image;
    update();
}

void ImageButton::DrawHover()
{
    if (!m_overImage.isNull())
        SetImage(m_overImage);
}

void ImageButton::DrawNormal()
{
    DrawPressed(m_checked);
}

void ImageButton::Deselect()
{
    m_checked = false;
    SetImage(m_upImage);
}

void ImageButton::DrawPressed(bool pressed)
{
    if (pressed && m_radioButtonMode)
        DeselectOthers();
    SetImage(pressed ? m_downImage : m_upImage);
}

void ImageButton::DeselectOthers()
{
    // Every control of the whole window counts, as in the window's own
    // control list; there are no groups.
    QWidget* container = window();
    if (container == this)
        return;
    for (QWidget* control : container->findChildren<QWidget*>()) {
        if (QString::fromLatin1(control->metaObject()->className()).toUpper() != QLatin1String("IMAGEBUTTON"))
            continue;
        auto* sibling = static_cast<ImageButton*>(control);
        if (sibling->RadioButtonMode() && sibling->Checked() && sibling->objectName() != objectName())
            sibling->Deselect();
    }
}

void ImageButton::ReadProperties(const PropertyBag& bag, bool userMode)
{
    m_radioButtonMode = bag.ReadProperty(QStringLiteral("RadioButtonMode"), false).toBool();
    m_checked = bag.ReadProperty(QStringLiteral("Checked"), false).toBool();
    m_upImage = ReadPicture(bag, QStringLiteral("UpImage"));
    m_downImage = ReadPicture(bag, QStringLiteral("DownImage"));
    m_disabledImage = ReadPicture(bag, QStringLiteral("DisabledImage"));
    m_overImage = ReadPicture(bag, QStringLiteral("OverImage"));
    setEnabled(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
    DrawPressed(m_checked);
    if (userMode) {
        ButtonHelper::HookButtonWindow(this);
        m_hooked = true;
        setProperty("Button", QVariant::fromValue<QObject*>(this));
    }
}

void ImageButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_face.isNull())
        painter.drawPixmap(0, 0, m_face);
    if (m_keyboardFocus && hasFocus()) {
        // A dotted outline around the face, in the skin's amber.
        QPen dots(QColor(0xff, 0xc8, 0x60), 1, Qt::DotLine);
        painter.setPen(dots);
        const QRect face = m_face.isNull() ? rect() : rect().intersected(QRect(QPoint(0, 0), m_face.deviceIndependentSize().toSize()));
        painter.drawRect(face.adjusted(2, 2, -3, -3));
    }
}

void ImageButton::Press()
{
    if (m_radioButtonMode) {
        DeselectOthers();
        SetImage(m_downImage);
    }
    // A Click handler may close the whole window.
    QPointer<ImageButton> self(this);
    emit Click();
    if (self && m_radioButtonMode)
        m_checked = true;
}

void ImageButton::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) && !event->isAutoRepeat()) {
        Press();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ImageButton::focusInEvent(QFocusEvent* event)
{
    const Qt::FocusReason reason = event->reason();
    m_keyboardFocus = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
    update();
    QWidget::focusInEvent(event);
}

void ImageButton::focusOutEvent(QFocusEvent* event)
{
    // Focus that only left for a popup comes back as it was.
    if (event->reason() != Qt::PopupFocusReason)
        m_keyboardFocus = false;
    update();
    QWidget::focusOutEvent(event);
}

void ImageButton::mousePressEvent(QMouseEvent* event)
{
    const int button = MouseButtonCode(event->button());
    // The pressed face only: siblings are un-checked when the click happens,
    // so a press released elsewhere changes nothing.
    if (button == 1) {
        m_leftPressed = true;
        SetImage(m_downImage);
    }
    const QPointF twips = MouseTwips(event, this);
    emit MouseDown(button, ShiftCode(event->modifiers()), float(twips.x()), float(twips.y()));
}

void ImageButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double-click is no new click: a double-click on
    // play must not play and pause again at once.
    if (event->button() != Qt::LeftButton)
        mousePressEvent(event);
}

void ImageButton::mouseReleaseEvent(QMouseEvent* event)
{
    const bool clicked = event->button() == Qt::LeftButton && m_leftPressed && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_leftPressed = false;
    if (!m_radioButtonMode)
        SetImage(m_upImage);
    else if (!clicked)
        SetImage(m_checked ? m_downImage : m_upImage);
    if (clicked)
        Press();
}

