#pragma once

#include "GstHandles.h"
#include "MediaPlayer.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSslCertificate>
#include <QTimer>
#include <memory>
#include <thread>

class PlaylistFetch;
class QSocketNotifier;

// The player's media engine on GStreamer. It resolves the station's playlist
// with Qt Network, plays the first stream entry through playbin, and follows
// the stream: a first connection that fails is retried a few times and then
// ends in Stopped; a stream that breaks while playing is reconnected with
// growing delays until it plays again or the listener stops, pauses or
// changes the address. Bus messages are read on the UI thread.
class MediaEngine : public MediaPlayer, private MediaPlayer::Settings, private MediaPlayer::Controls {
    Q_OBJECT
public:
    explicit MediaEngine(QObject* parent = nullptr);
    ~MediaEngine() override;

    MediaPlayer::Settings& settings() override { return *this; }
    MediaPlayer::Controls& controls() override { return *this; }
    QString uiMode() const override { return m_uiMode; }
    void setUiMode(const QString& mode) override { m_uiMode = mode; }
    QString URL() const override { return m_url; }
    void setURL(const QString& url) override;
    int playState() const override { return m_state; }

    QString currentTitle() const override { return m_title; }

    // Delay before the next reconnect attempt after `failures` failed ones:
    // 1, 2, 4 … seconds, never more than 30.
    static int ReconnectDelaySeconds(int failures);

signals:
    // The first audio of a connection reached the audio output.
    void AudioStarted();

private:
    bool autoStart() const override { return m_autoStart; }
    void setAutoStart(bool value) override { m_autoStart = value; }
    int volume() const override { return m_volume; }
    void setVolume(int value) override;
    void play() override;
    void pause() override;
    void stop() override;

    void SetState(int state);
    void Connect();
    void StartAttempt();
    void FetchPlaylist();
    void OnPlaylistData(const QUrl& url, const QString& contentType, const QByteArray& body);
    void OnPlaylistFinished(const QByteArray& body);
    void DropFetch();
    void StartPipeline(const QUrl& stream);
    void AttemptFailed();
    void StreamBroke();
    void Teardown();
    void MaybePlaying();
    void ReadBus();
    void HandleMessage(GstMessage* message);
    void ApplyVolume();

    QString m_url;
    QString m_uiMode = QStringLiteral("full");
    QString m_title;
    bool m_autoStart = true;
    int m_volume = 50;
    int m_state = Undefined;

    QPointer<PlaylistFetch> m_fetch;
    QByteArray m_caFile;                // SONVALE_STREAM_CA, if set
    QList<QSslCertificate> m_trusted;   // for https playlists; empty: the system's store
    GstElementPtr m_pipeline;
    GstElement* m_gain = nullptr;       // the output's volume, owned by m_pipeline
    GstBusPtr m_bus;
    std::unique_ptr<QSocketNotifier> m_busNotifier;

    bool m_hasPlayed = false;    // reached Playing since the last connect from idle
    bool m_buffering = false;
    bool m_wantPlaying = false;  // the listener wants sound; buffering may hold the pipeline
    bool m_audioSeen = false;    // the first audio of this connection reached the output
    bool m_queueTuned = false;   // this connection's network buffer got its start threshold
    quint64 m_generation = 0;    // bumped at every teardown; deferred work checks it
    int m_failures = 0;          // failed attempts in a row
    QElapsedTimer m_pausedFor;
    QElapsedTimer m_resumedAt;   // a break soon after a resume reconnects quietly
    QElapsedTimer m_sourceEnded; // the server ended the stream; the buffer still plays
    QTimer m_retryTimer;
    QTimer m_attemptTimer;       // an attempt that neither plays nor fails in time has failed
    QTimer m_stallTimer;         // buffering that does not recover has broken the stream
    std::jthread m_warmUp;
};
