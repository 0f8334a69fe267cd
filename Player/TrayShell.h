#pragma once

#include <QByteArray>
#include <QObject>
#include <QMenu>
#include <QPointer>
#include <cstdint>
#include <map>
#include <memory>

class QMenu;
class QSystemTrayIcon;

// The notification-area service the player talks to with tray records.
class NotifyIconShell {
public:
    virtual ~NotifyIconShell() = default;
    // NIM_ADD or NIM_DELETE with a tray record; non-zero on success.
    virtual int Shell_NotifyIconA(int message, const QByteArray& record) = 0;
};

// The service on Qt's tray icon. With an XEmbed tray the icon's left
// double-click and right click come back to the record's window as tray
// messages. A StatusNotifierItem host has no double-click and shows the menu
// itself: its activation stands for the double-click, and it gets the menu.
class QtTrayShell : public NotifyIconShell {
public:
    QtTrayShell();
    ~QtTrayShell() override;
    // The menu a host that shows menus itself is given with each icon.
    void SetHostMenu(QMenu* menu) { m_hostMenu = menu; }
    int Shell_NotifyIconA(int message, const QByteArray& record) override;

private:
    QPointer<QMenu> m_hostMenu;
    bool m_hostShowsMenu;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::unique_ptr<QSystemTrayIcon>> m_icons;
};
