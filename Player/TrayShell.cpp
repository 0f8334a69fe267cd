#include "TrayShell.h"

#include "SystrayHelper.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {

bool StatusNotifierHostPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

} // namespace

QtTrayShell::QtTrayShell()
    : m_hostShowsMenu(StatusNotifierHostPresent())
{
}

QtTrayShell::~QtTrayShell() = default;

int QtTrayShell::Shell_NotifyIconA(int message, const QByteArray& record)
{
    using namespace SystrayHelper;
    const TrayRecordFields fields = ParseTrayRecord(record);
    const auto key = std::make_pair(fields.hWnd, fields.uID);
    if (message == NIM_DELETE)
        return m_icons.erase(key) ? 1 : 0;
    if (message != NIM_ADD || m_icons.count(key) || !QSystemTrayIcon::isSystemTrayAvailable())
        return 0;

    auto icon = std::make_unique<QSystemTrayIcon>();
    if (fields.uFlags & NIF_ICON)
        icon->setIcon(IconFromHandle(fields.hIcon));
    if (fields.uFlags & NIF_TIP)
        icon->setToolTip(QString::fromLatin1(fields.szTip.constData(), qstrnlen(fields.szTip.constData(), fields.szTip.size())));
    if (m_hostShowsMenu && m_hostMenu)
        icon->setContextMenu(m_hostMenu);
    if (fields.uFlags & NIF_MESSAGE) {
        QPointer<QWidget> window = QWidget::find(WId(fields.hWnd));
        const bool hostShowsMenu = m_hostShowsMenu;
        QObject::connect(icon.get(), &QSystemTrayIcon::activated, [window, hostShowsMenu](QSystemTrayIcon::ActivationReason reason) {
            int mouseMessage = 0;
            if (reason == QSystemTrayIcon::DoubleClick || (hostShowsMenu && reason == QSystemTrayIcon::Trigger))
                mouseMessage = WM_LBUTTONDBLCLK;
            else if (reason == QSystemTrayIcon::Context && !hostShowsMenu)
                mouseMessage = WM_RBUTTONUP;
            if (window && mouseMessage)
                QCoreApplication::postEvent(window, new TrayMessageEvent(mouseMessage));
        });
    }
    icon->show();
    m_icons[key] = std::move(icon);
    return 1;
}
