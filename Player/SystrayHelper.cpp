#include "SystrayHelper.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QMouseEvent>

namespace SystrayHelper {

bool ShowsForm(QSystemTrayIcon::ActivationReason reason, bool statusNotifierHost)
{
    return reason == QSystemTrayIcon::DoubleClick || (statusNotifierHost && reason == QSystemTrayIcon::Trigger);
}

bool StatusNotifierHostPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

namespace {
const char* const TrayMenuProperty = "SystrayMenu";
} // namespace

bool KeepsMenuOnDeactivation(const QWidget* popup)
{
    const QWidget* window = popup && popup->parentWidget() ? popup->parentWidget()->window() : nullptr;
    return window && popup->property(TrayMenuProperty).toBool() && !window->isVisible();
}

SystrayIcon::SystrayIcon(const QString& tip, QMenu* menu, QObject* parent)
    : QObject(parent)
    , m_icon(this)
    , m_statusNotifierHost(StatusNotifierHostPresent())
{
    m_icon.setToolTip(tip);
    m_icon.setContextMenu(menu);
    menu->installEventFilter(this);
    menu->setProperty(TrayMenuProperty, true);
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (ShowsForm(reason, m_statusNotifierHost))
            emit ShowFormRequested();
    });
}

bool SystrayIcon::Show()
{
    if (!m_icon.isVisible())
        m_icon.show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool SystrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    // The icon's menu is open and the right button goes down on the icon
    // again (where the menu, kept on the screen, may cover the icon): the
    // listener asks for the menu, so it stays open. Left alone, the click
    // would close it, and a quick second right-click would open nothing.
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick && type != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonRelease) {
        const bool swallowed = m_rightPressKept && mouse->button() == Qt::RightButton;
        if (swallowed)
            m_rightPressKept = false;
        return swallowed;
    }
    const auto* menu = qobject_cast<QMenu*>(watched);
    const QPoint at = mouse->globalPosition().toPoint();
    m_rightPressKept = menu && mouse->button() == Qt::RightButton && m_icon.isVisible() && m_icon.geometry().contains(at);
    return m_rightPressKept;
}

} // namespace SystrayHelper
