#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

class QMenu;

// The player's icon in the notification area.
namespace SystrayHelper {

// Whether an activation of the icon asks for the window. An XEmbed tray
// reports the left double-click; a StatusNotifierItem host reports no
// double-click, so its activation (a single click) stands for it.
bool ShowsForm(QSystemTrayIcon::ActivationReason reason, bool statusNotifierHost);

// Whether the application's deactivation must leave this popup open: the
// icon's menu, opened while the player's window is hidden. Hiding the window
// deactivates the application a moment later, and Qt closes every popup then,
// so a menu asked for in that moment would open and close at once.
bool KeepsMenuOnDeactivation(const QWidget* popup);

// One QSystemTrayIcon for the whole run, carrying the player's menu (a host
// that shows menus itself takes it from there; on an XEmbed tray Qt pops it
// up at the right button). Its picture changes in place, so a tray never
// un-docks and re-docks it.
class SystrayIcon : public QObject {
    Q_OBJECT
public:
    SystrayIcon(const QString& tip, QMenu* menu, QObject* parent);

    void SetIcon(const QIcon& icon) { m_icon.setIcon(icon); }
    // Shows the icon; false where there is no notification area (yet).
    bool Show();
    void Hide() { m_icon.hide(); }
    void SetTip(const QString& tip) { m_icon.setToolTip(tip); }

signals:
    // Double-click on an XEmbed tray, activation on a StatusNotifierItem host.
    void ShowFormRequested();

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Whether a StatusNotifierItem watcher is on the session bus, so that Qt
    // shows the icon through it rather than through an XEmbed tray.
    void AskForStatusNotifierHost();

    QSystemTrayIcon m_icon;
    bool m_statusNotifierHost = false;
    bool m_rightPressKept = false;
};

} // namespace SystrayHelper
