#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

class RadioPlayer;

// The player on the session bus as an MPRIS 2 media player, so that media
// keys and the desktop's media controls reach it. It is a view of the player
// object, like the window: its commands are the window's, and what it says
// is the player's status and title.
class MprisService : public QObject {
    Q_OBJECT
public:
    explicit MprisService(RadioPlayer& player, QObject* parent = nullptr);
    ~MprisService() override;

    // Takes the bus name and publishes the object; false without a session
    // bus or when another program holds the name (the player runs on without).
    bool Register();

    RadioPlayer& Player() const { return m_player; }
    QString PlaybackStatus() const;
    QVariantMap Metadata() const;

private:
    void NotifyChanged(const QString& interface, const QVariantMap& changed);

    RadioPlayer& m_player;
    bool m_registered = false;
};

// org.mpris.MediaPlayer2
class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool CanSetFullscreen READ CanSetFullscreen)
    Q_PROPERTY(bool Fullscreen READ Fullscreen)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

public:
    explicit MprisRoot(MprisService& service);
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool CanSetFullscreen() const { return false; }
    bool Fullscreen() const { return false; }
    bool HasTrackList() const { return false; }
    QString Identity() const;
    QString DesktopEntry() const;
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public slots:
    void Raise();
    void Quit();

private:
    MprisService& m_service;
};

// org.mpris.MediaPlayer2.Player
class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ No)
    Q_PROPERTY(bool CanGoPrevious READ No)
    Q_PROPERTY(bool CanPlay READ Yes)
    Q_PROPERTY(bool CanPause READ Yes)
    Q_PROPERTY(bool CanSeek READ No)
    Q_PROPERTY(bool CanControl READ Yes)

public:
    explicit MprisPlayer(MprisService& service);
    QString PlaybackStatus() const { return m_service.PlaybackStatus(); }
    double Rate() const { return 1.0; }
    void SetRate(double) {}
    QVariantMap Metadata() const { return m_service.Metadata(); }
    double Volume() const;
    void SetVolume(double volume);
    qlonglong Position() const { return 0; }
    bool Yes() const { return true; }
    bool No() const { return false; }

public slots:
    void PlayPause();
    void Play();
    void Pause();
    void Stop();
    // A live stream has no next, previous or position to go to.
    void Next() {}
    void Previous() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    MprisService& m_service;
};
