#pragma once

#include <QObject>
#include <QString>

// The published play-state numbers of a media player.
enum PlayState : int {
    Undefined = 0,
    Stopped = 1,
    Paused = 2,
    Playing = 3,
    ScanForward = 4,
    ScanReverse = 5,
    Buffering = 6,
    Waiting = 7,
    MediaEnded = 8,
    Transitioning = 9,
    Ready = 10,
    Reconnecting = 11,
};

// What the player window relies on of its media engine. Calls return at once;
// problems with the stream show only as state changes.
class MediaPlayer : public QObject {
    Q_OBJECT
public:
    class Settings {
    public:
        virtual ~Settings() = default;
        virtual bool autoStart() const = 0;
        virtual void setAutoStart(bool value) = 0;
        virtual int volume() const = 0;
        virtual void setVolume(int value) = 0;
    };
    class Controls {
    public:
        virtual ~Controls() = default;
        virtual void play() = 0;
        virtual void pause() = 0;
        virtual void stop() = 0;
    };

    using QObject::QObject;
    virtual Settings& settings() = 0;
    virtual Controls& controls() = 0;
    virtual QString uiMode() const = 0;
    virtual void setUiMode(const QString& mode) = 0;
    virtual QString URL() const = 0;
    virtual void setURL(const QString& url) = 0;
    virtual int playState() const = 0;
    // The stream's current title (ICY "StreamTitle"), empty when it sends none.
    virtual QString currentTitle() const = 0;

signals:
    void PlayStateChange(int NewState);
    void TitleChanged(const QString& title);
};
