#pragma once

#include "GstHandles.h"
#include "MediaPlayer.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSslCertificate>
#include <QTemporaryFile>
#include <QTimer>
#include <future>
#include <memory>
#include <thread>

class BoundedGet;
class QSocketNotifier;

// How long the engine waits for what. The defaults are the player's; tests
// run on shorter ones.
struct EngineTimings {
    int firstConnectAttempts = 3;      // tries of a play from idle before Stopped
    int firstAttemptMs = 4000;         // one such try that neither plays nor fails in time has failed
    int quickRetryMs = 500;            // times the failures so far, between those tries
    int reconnectAttemptMs = 10000;    // one reconnect attempt
    int stallMs = 10000;               // buffering that does not recover has broken the stream
    int backoffBaseMs = 1000;          // first reconnect delay, doubled after every failure
    int backoffCapMs = 10000;          // the longest reconnect delay
    int outputProbeMs = 1000;          // how often a lost audio output is looked for
    // A pause longer than this resumes on a fresh connection: the server may
    // have dropped a listener that stopped reading, and radio resumes live anyway.
    int resumeOnSameConnectionMs = 10000;
    int quietReconnectAfterResumeMs = 5000; // a break this soon after a resume reconnects quietly
    int bufferBytes = 64 * 1024;       // the network buffer
    int bufferMs = 3000;
    int steadyBufferMs = 2000;         // the network buffer once playing has settled
};

struct EngineOptions {
    QByteArray audioSink;  // a gst-launch bin description; empty: the desktop's output
    QString caFile;        // a PEM file of the station's own authority, trusted besides the system's store
    EngineTimings timings;
    bool secure = false;   // the station is reached over https
};

// The player's media engine on GStreamer. It resolves the station's playlist
// with the bounded GET, plays the first stream entry through playbin, and
// follows the stream: a first connection that fails is retried a few times
// and then ends in Stopped; a stream that breaks while playing is reconnected
// with growing delays until it plays again or the listener stops, pauses or
// changes the address. Bus messages are read on the UI thread.
class MediaEngine : public MediaPlayer {
    Q_OBJECT
public:
    explicit MediaEngine(EngineOptions options = {}, QObject* parent = nullptr);
    ~MediaEngine() override;

    QString URL() const override { return m_url; }
    void setURL(const QString& url) override;
    void play() override;
    void pause() override;
    void stop() override;
    int volume() const override { return m_volume; }
    void setVolume(int value) override;
    int playState() const override { return m_state; }
    void SetNetworkReachable(bool reachable) override;
    void PrepareForSleep(bool sleeping) override;

    // Delay before the next reconnect attempt after `failures` failed ones:
    // the base, doubled after each failure, never more than the cap.
    static int ReconnectDelayMs(int failures, const EngineTimings& timings);

signals:
    // The first audio of a connection reached the audio output.
    void AudioStarted();

private:
    void SetState(int state);
    void SetTitle(const QString& title);
    void Connect();
    void StartAttempt();
    void FetchPlaylist();
    void OnPlaylistData();
    void OnPlaylistFinished();
    void DropFetch();
    void StartPipeline(const QUrl& stream);
    void AttemptFailed();
    void StreamBroke();
    void OutputLost();
    void ProbeOutput();
    void CollectProbe();
    bool WaitingToReconnect() const;
    void Teardown();
    void MaybePlaying();
    void SettleQueue();
    void ReadBus();
    void HandleMessage(GstMessage* message);
    void ApplyVolume();

    const EngineOptions m_options;
    QString m_url;
    QString m_title;
    int m_volume = 100;
    int m_state = Undefined;

    QPointer<BoundedGet> m_fetch;
    QTemporaryFile m_anchors;           // the same as a PEM file, for the stream's source
    GTlsDatabasePtr m_tlsDatabase;      // on that file; none: the system's
    QList<QSslCertificate> m_trusted;   // for https playlists; empty: the system's store
    GstElementPtr m_pipeline;
    GstElement* m_gain = nullptr;       // the output's volume, owned by m_pipeline
    GstElement* m_sink = nullptr;       // the audio sink, owned by m_pipeline
    GstBusPtr m_bus;
    std::unique_ptr<QSocketNotifier> m_busNotifier;

    bool m_hasPlayed = false;    // reached Playing since the last connect from idle
    bool m_buffering = false;
    bool m_wantPlaying = false;  // the listener wants sound; buffering may hold the pipeline
    bool m_audioSeen = false;    // the first audio of this connection reached the output
    GstElement* m_queue = nullptr; // this connection's network buffer, given its start threshold; owned by m_pipeline
    bool m_queueSettled = false; // and once it has its steady size
    quint64 m_generation = 0;    // bumped at every teardown; deferred work checks it
    int m_failures = 0;          // failed attempts in a row
    bool m_offline = false;      // the network is known to be down
    bool m_asleep = false;       // the machine sleeps; wake reconnects
    QElapsedTimer m_pausedFor;
    QElapsedTimer m_resumedAt;   // a break soon after a resume reconnects quietly
    QElapsedTimer m_sourceEnded; // the server ended the stream; the buffer still plays
    QTimer m_retryTimer;
    QTimer m_attemptTimer;       // an attempt that neither plays nor fails in time has failed
    QTimer m_stallTimer;         // buffering that does not recover has broken the stream
    QTimer m_settleTimer;        // playing long enough to give the network buffer its steady size
    QTimer m_outputProbe;        // the audio output is gone: looks for it again
    std::future<bool> m_probeAnswer; // whether an output opens, asked off the UI thread
    QTimer m_probePoll;          // collects that answer
    std::jthread m_warmUp;
};
