#pragma once

#include "FailureWords.h"
#include "MediaPlayer.h"
#include "StationConfig.h"

#include <QObject>
#include <memory>

enum class Quality { Low, High };

// Whether the listener is being played to, as the desktop's media controls tell it.
enum class Playback { Stopped, Paused, Playing };

// What every view of the player shows, derived from the engine's play state,
// the listener's intent and the quality chosen when playing began.
struct PlayerStatus {
    PlayState state = Undefined;
    QString text = QStringLiteral("Ready"); // the status label's text
    // Set by the last stopped, paused or playing state; other states keep them.
    bool pauseFaces = false;   // the play/pause button shows pause
    bool stopEnabled = false;
    bool green = false;        // the tray icon
    Playback playback = Playback::Stopped;

    // Whether the state sets the faces, the stop button and the icon.
    static bool IsMainState(PlayState state) { return state == Stopped || state == Paused || state == Playing; }
};

// The status text for a play state; `highQuality` picks the suffix of state 3.
QString StatusTextFor(PlayState state, bool highQuality);

// The status after the engine reports `state`.
PlayerStatus NextStatus(const PlayerStatus& previous, PlayState state, Quality quality, bool wantsPlayback);

// The player itself, without widgets: it owns the engine, the listener's
// intent, the quality choice, the station's configuration and the stream's
// title, and says one status that the window, the tray and the desktop's
// media controls all render. Views send it commands.
class RadioPlayer : public QObject {
    Q_OBJECT
public:
    RadioPlayer(std::unique_ptr<MediaPlayer> engine, StationConfig config, QObject* parent = nullptr);
    ~RadioPlayer() override;

    // The play/pause command: pauses while the listener wants playback and
    // the stream is alive, else plays the chosen quality's address.
    void PlayPause();
    // Play, or pause, only where PlayPause would do that.
    void Play();
    void Pause();
    void Stop();
    // Which address the next play uses; what plays now goes on.
    void SetQuality(Quality quality);
    Quality CurrentQuality() const { return m_quality; }
    void SetVolume(int volume);
    int Volume() const;
    // The machine's events, for the engine: the network became reachable or
    // not; the machine is about to sleep (true) or has woken (false).
    void SetNetworkReachable(bool reachable) { m_engine->SetNetworkReachable(reachable); }
    void PrepareForSleep(bool sleeping) { m_engine->PrepareForSleep(sleeping); }
    // Ask the views to show the window, or to end the program.
    void Raise() { emit RaiseRequested(); }
    void Quit() { emit QuitRequested(); }

    const PlayerStatus& Status() const { return m_status; }
    // Whether the play/pause command pauses now (else it plays).
    bool PlayPauseWouldPause() const;
    // The stream's current title, empty when it has sent none.
    QString Title() const { return m_title; }
    // The tray's tip: the player's name, and a second line while playing
    // (the title), reconnecting, or after the station could not be reached.
    QString TrayTip() const;
    // Why the last play ended in Stopped by itself, in plain words; empty
    // when it did not (cleared by the next play).
    QString Problem() const { return m_stoppedBy.kind == PlayFailure::Kind::None ? QString() : FailureWords(m_stoppedBy); }

signals:
    // The engine reported a state (every report, also a repeated one).
    void StateReported(PlayState state);
    // PlaybackStatus changed.
    void PlaybackStatusChanged();
    void TitleChanged();
    void ProblemChanged();
    void QualityChanged(Quality quality);
    void VolumeChanged(int volume);
    void RaiseRequested();
    void QuitRequested();

private:
    void OnPlayStateChange(PlayState state);
    void SetWantsPlayback(bool wants);
    void SetTitle(const QString& title);
    void SetStoppedBy(const PlayFailure& failure);
    void OnFailure(const PlayFailure& why);
    void PublishPlaybackStatus();

    std::unique_ptr<MediaPlayer> m_engine;
    const StationConfig m_config;
    static constexpr int StartingVolume = 100;
    Quality m_quality = Quality::Low; // the starting quality too
    bool m_wantsPlayback = false;
    QString m_title;
    PlayFailure m_failure;   // the engine's latest failure, while it lasts
    PlayFailure m_stoppedBy; // what ended the last play by itself
    PlayerStatus m_status;
    Playback m_publishedPlayback = Playback::Stopped;
};
