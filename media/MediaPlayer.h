#pragma once

#include "PlayFailure.h"
#include "PlayState.h"

#include <QObject>
#include <QString>

// What the player needs of its media engine. Calls return at once; problems
// with the stream show only as state changes.
class MediaPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The address most recently set; empty at first.
    virtual QString URL() const = 0;
    // Opens an address, replacing what was open, without starting it.
    virtual void setURL(const QString& url) = 0;
    // Starts the open address, or resumes it when paused.
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    // 0 to 100.
    virtual int volume() const = 0;
    virtual void setVolume(int value) = 0;
    virtual PlayState playState() const = 0;

    // The machine around the player: the network became reachable or not;
    // the machine is about to sleep (true) or has woken (false).
    virtual void SetNetworkReachable(bool) {}
    virtual void PrepareForSleep(bool) {}

signals:
    void PlayStateChange(PlayState NewState);
    // The stream's title (ICY "StreamTitle"); emptied as its connection
    // closes, and empty at every new connection until that stream sends one.
    void TitleChanged(const QString& title);
    // Why the play is failing: before the state it led to (Stopped after a
    // play that gave up, Reconnecting).
    void FailureReported(const PlayFailure& why);
};
