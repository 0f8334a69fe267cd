#pragma once

#include "MediaPlayer.h"

#include <QStringList>
#include <stdexcept>

// A media engine that writes every call the window makes into a shared log.
class FakeEngine : public MediaPlayer, private MediaPlayer::Settings, private MediaPlayer::Controls {
public:
    explicit FakeEngine(QStringList& log)
        : m_log(log)
    {
    }
    MediaPlayer::Settings& settings() override { return *this; }
    MediaPlayer::Controls& controls() override { return *this; }
    QString uiMode() const override { return m_uiMode; }
    void setUiMode(const QString& mode) override { m_log << "uiMode=" + mode; m_uiMode = mode; }
    QString URL() const override { return m_url; }
    void setURL(const QString& url) override { m_log << "URL=" + url; m_url = url; }
    int playState() const override { return state; }
    QString currentTitle() const override { return title; }
    void SetTitle(const QString& newTitle)
    {
        title = newTitle;
        emit TitleChanged(title);
    }
    void Report(int newState)
    {
        state = newState;
        emit PlayStateChange(newState);
    }

    int state = Undefined;
    QString title;
    bool stopFails = false;

private:
    bool autoStart() const override { return m_autoStart; }
    void setAutoStart(bool value) override { m_log << QStringLiteral("settings.autoStart=%1").arg(value); m_autoStart = value; }
    int volume() const override { return m_volume; }
    void setVolume(int value) override { m_log << QStringLiteral("settings.volume=%1").arg(value); m_volume = value; }
    void play() override { m_log << "controls.play"; }
    void pause() override { m_log << "controls.pause"; }
    void stop() override
    {
        m_log << "controls.stop";
        if (stopFails)
            throw std::runtime_error("stop failed");
    }

    QStringList& m_log;
    QString m_uiMode, m_url;
    bool m_autoStart = true;
    int m_volume = 50;
};
