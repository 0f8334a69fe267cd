#include "ImageButton.h"

#include "ButtonHelper.h"
#include "PictureBox.h"
#include "Picture.h"
#include "PropertyBag.h"

#include <QBuffer>
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

QVariant PictureBytes(const QPixmap& picture)
{
    if (picture.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes;
}

void WriteBoolean(PropertyBag& bag, const QString& key, bool value, bool defaultValue)
{
    // Stored designs write true as -1.
    bag.WriteProperty(key, value ? -1 : 0, defaultValue ? -1 : 0);
}

} // namespace

ImageButton::ImageButton(QWidget* parent)
    : QWidget(parent)
{
    resize(56, 52);
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
    emit PropertyChanged(QStringLiteral("UpImage"));
}

void ImageButton::SetDisabledImage(const QPixmap& vNewValue)
{
    m_disabledImage = vNewValue;
    emit PropertyChanged(QStringLiteral("DisabledImage"));
}

void ImageButton::SetOverImage(const QPixmap& vNewValue)
{
    m_overImage = vNewValue;
    emit PropertyChanged(QStringLiteral("OverImage"));
}

void ImageButton::SetDownImage(const QPixmap& vNewValue)
{
    m_downImage = vNewValue;
    emit PropertyChanged(QStringLiteral("DownImage"));
}

void ImageButton::SetRadioButtonMode(bool vNewValue)
{
    m_radioButtonMode = vNewValue;
    emit PropertyChanged(QStringLiteral("RadioButtonMode"));
}

void ImageButton::SetChecked(bool vNewValue)
{
    DrawPressed(vNewValue);
    m_checked = vNewValue;
    emit PropertyChanged(QStringLiteral("Checked"));
}

void ImageButton::SetEnabled(bool vNewValue)
{
    setEnabled(vNewValue);
    SetImage(vNewValue ? m_upImage : m_disabledImage);
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
    emit PropertyChanged(QStringLiteral("Checked"));
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

void ImageButton::WriteProperties(PropertyBag& bag) const
{
    bag.WriteProperty(QStringLiteral("UpImage"), PictureBytes(m_upImage));
    bag.WriteProperty(QStringLiteral("DownImage"), PictureBytes(m_downImage));
    bag.WriteProperty(QStringLiteral("DisabledImage"), PictureBytes(m_disabledImage));
    bag.WriteProperty(QStringLiteral("OverImage"), PictureBytes(m_overImage));
    WriteBoolean(bag, QStringLiteral("Enabled"), isEnabled(), true);
    WriteBoolean(bag, QStringLiteral("RadioButtonMode"), m_radioButtonMode, false);
    WriteBoolean(bag, QStringLiteral("Checked"), m_checked, false);
}

void ImageButton::paintEvent(QPaintEvent*)
{
    if (m_face.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_face);
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
    if (!clicked)
        return;
    if (m_radioButtonMode)
        DeselectOthers();
    // A Click handler may close the whole window.
    QPointer<ImageButton> self(this);
    emit Click();
    if (self && m_radioButtonMode)
        m_checked = true;
}
