#pragma once

#include "ConnectionPolicy.h"
#include "GstHandles.h"
#include "MediaPlayer.h"
#include "ProxySettings.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSslCertificate>
#include <QTemporaryFile>
#include <QTimer>
#include <memory>
#include <thread>

class QThread;
class PipelineThread;
struct ConnectionEvent;

struct EngineOptions {
    QByteArray audioSink;  // a gst-launch bin description; empty: the desktop's output
    QString caFile;        // a PEM file of the station's own authority, trusted besides the system's store
    EngineTimings timings;
    bool secure = false;   // the station is reached over https
    ProxySettings proxies; // the playlist's and the stream's way out
    QByteArray userAgent;  // what the playlist fetch and the stream's source call the program
};

// The player's media engine on GStreamer: a thin layer that turns what its
// connection to the station reports into events of the connection policy,
// and carries out the policy's answers. The policy lives here, on the UI
// thread, and decides at once; the connections (the playlist fetch, then a
// playbin for the entry the policy chooses) live on the pipelines' thread,
// so that nothing here ever waits on GStreamer or the audio server.
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
    PlayState playState() const override { return m_policy.State(); }
    void SetNetworkReachable(bool reachable) override;
    void PrepareForSleep(bool sleeping) override;

signals:
    // The first audio of a connection reached the audio output.
    void AudioStarted();

private:
    qint64 Now() const { return m_clock.elapsed(); }
    void Apply(const PolicyStep& step);
    void OnEvent(const ConnectionEvent& event);
    void Connect();
    void DropConnection();
    void ProbeOutput();
    void SetTitle(const QString& title);
    double Gain() const;

    const EngineOptions m_options;
    ConnectionPolicy m_policy;
    QElapsedTimer m_clock;
    QTimer m_wait;                      // the policy's one wait
    QString m_url;
    QString m_title;
    int m_volume = 100;

    QTemporaryFile m_anchors;           // the same as a PEM file, for the stream's source
    GTlsDatabasePtr m_tlsDatabase;      // on that file; none: the system's
    QList<QSslCertificate> m_trusted;   // for https playlists; empty: the system's store
    std::unique_ptr<PipelineThread> m_pipelines;
    QPointer<QThread> m_probe;          // looks for an audio output; never waited for
    std::jthread m_warmUp;
};
