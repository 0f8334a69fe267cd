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

// True where a StatusNotifierItem watcher is on the session bus, so that Qt
// shows the icon through it rather than through an XEmbed tray.
bool StatusNotifierHostPresent();

// One QSystemTrayIcon for the whole run, carrying the player's menu (a host
// that shows menus itself takes it from there; on an XEmbed tray Qt pops it
// up at the right button). Add shows it with its tip and a picture, Delete
// removes it. Inside a Change a Delete followed by an Add is one change of
// the picture, so a tray never un-docks and re-docks the icon.
class SystrayIcon : public QObject {
    Q_OBJECT
public:
    SystrayIcon(const QString& tip, QMenu* menu, QObject* parent);

    bool Add(const QIcon& icon);
    void Delete();
    void SetTip(const QString& tip) { m_icon.setToolTip(tip); }

    class Change {
    public:
        explicit Change(SystrayIcon& icon);
        ~Change();
        Change(const Change&) = delete;
        Change& operator=(const Change&) = delete;

    private:
        SystrayIcon& m_icon;
    };

signals:
    // Double-click on an XEmbed tray, activation on a StatusNotifierItem host.
    void ShowFormRequested();

private:
    bool eventFilter(QObject* watched, QEvent* event) override;

    QSystemTrayIcon m_icon;
    const bool m_statusNotifierHost;
    bool m_shown = false;
    bool m_changing = false;
    bool m_rightPressKept = false;
};

} // namespace SystrayHelper
