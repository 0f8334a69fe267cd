#pragma once

#include "MediaPlayer.h"

#include <QStringList>
#include <stdexcept>

// A media engine that writes every call the player makes into a shared log.
// Like the real one, it forgets the stream's title with the connection: at
// stop, at a new address, and when it reports a new connection or none.
class FakeEngine : public MediaPlayer {
public:
    explicit FakeEngine(QStringList& log)
        : m_log(log)
    {
    }
    QString URL() const override { return m_url; }
    void setURL(const QString& url) override
    {
        m_log << "URL=" + url;
        m_url = url;
        SetTitle(QString());
    }
    void play() override { m_log << "play"; }
    void pause() override { m_log << "pause"; }
    void stop() override
    {
        m_log << "stop";
        if (stopFails)
            throw std::runtime_error("stop failed");
        SetTitle(QString());
    }
    int volume() const override { return m_volume; }
    void setVolume(int value) override { m_log << QStringLiteral("volume=%1").arg(value); m_volume = value; }
    PlayState playState() const override { return state; }

    void SetTitle(const QString& title) { emit TitleChanged(title); }
    void Fail(const PlayFailure& why) { emit FailureReported(why); }
    void Report(PlayState newState)
    {
        state = newState;
        if (newState == Stopped || newState == Transitioning || newState == Reconnecting)
            SetTitle(QString());
        emit PlayStateChange(newState);
    }

    PlayState state = Undefined;
    bool stopFails = false;

private:
    QStringList& m_log;
    QString m_url;
    int m_volume = 50;
};
