#pragma once

#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>

// What the machine around the player does: the network coming and going
// (QNetworkInformation, NetworkManager's on Linux) and sleep and wake
// (logind's PrepareForSleep). While the player plays it asks the desktop not
// to suspend for idleness (the portal's Inhibit, where a portal runs) and
// takes logind's delay lock, so that the stream is dropped before the
// machine sleeps; it never blocks a suspend the user asks for.
class MachineEvents : public QObject {
    Q_OBJECT
public:
    explicit MachineEvents(QObject* parent = nullptr);
    ~MachineEvents() override;

    // Whether the player plays: the inhibitors are held while it does.
    void SetPlaying(bool playing);

signals:
    void NetworkReachable(bool reachable);
    void PrepareForSleep(bool sleeping);

private slots:
    void OnPrepareForSleep(bool sleeping);

private:
    void TakeDelayLock();
    void InhibitIdleSuspend();
    void ReleaseIdleSuspend();

    bool m_playing = false;
    bool m_sleeping = false;
    QDBusUnixFileDescriptor m_delayLock;  // logind's, while playing and awake
    QDBusObjectPath m_idleInhibitor;      // the portal's request, while playing
    bool m_inhibitPending = false;
};
