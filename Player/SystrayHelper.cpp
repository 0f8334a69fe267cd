#include "SystrayHelper.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMenu>
#include <QMouseEvent>

namespace SystrayHelper {

bool ShowsForm(QSystemTrayIcon::ActivationReason reason, bool statusNotifierHost)
{
    return reason == QSystemTrayIcon::DoubleClick || (statusNotifierHost && reason == QSystemTrayIcon::Trigger);
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
{
    AskForStatusNotifierHost();
    m_icon.setToolTip(tip);
    m_icon.setContextMenu(menu);
    menu->installEventFilter(this);
    menu->setProperty(TrayMenuProperty, true);
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (ShowsForm(reason, m_statusNotifierHost))
            emit ShowFormRequested();
    });
}

void SystrayIcon::AskForStatusNotifierHost()
{
    // Asked without waiting: the window does not wait for the bus.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return;
    auto* watcher = new QDBusPendingCallWatcher(
        bus.interface()->asyncCall(QStringLiteral("NameHasOwner"), QStringLiteral("org.kde.StatusNotifierWatcher")), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answered) {
        const QDBusPendingReply<bool> reply = *answered;
        m_statusNotifierHost = reply.isValid() && reply.value();
        answered->deleteLater();
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
