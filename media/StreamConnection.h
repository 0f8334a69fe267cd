#pragma once

#include "ConnectionEvent.h"
#include "GstHandles.h"
#include "PipelineMessages.h"
#include "ProxySettings.h"

#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QUrl>
#include <memory>
#include <optional>

class BoundedGet;
class QSocketNotifier;

// What every connection to the station is made with.
struct ConnectionSetup {
    QByteArray audioSink;            // a gst-launch bin description; empty: the desktop's output
    QList<QSslCertificate> trusted;  // for https playlists; empty: the system's store
    GTlsDatabase* tlsDatabase = nullptr; // the same for the stream's source; none: the system's
    ProxySettings proxies;
    QByteArray userAgent;
    int bufferBytes = 0;             // the network buffer
    int bufferMs = 0;
    int startMarkMs = 0;             // playback starts once the buffer holds this
    int outputQueueMs = 0;           // decoded audio waiting for the output
};

// Whether an audio output can be opened now: the sink alone, made ready
// (which connects to the audio server) and taken down again. May block on
// a hanging audio server: for a helper thread.
bool OutputAvailable(const QByteArray& sinkDescription);

// One connection to the station: the playlist fetch, then a pipeline for
// the entry the owner chooses (or the address itself, when that is audio).
// It lives on the thread that owns the pipelines: every call may wait on
// GStreamer or the audio server. What happens is reported, translated but not
// judged, by Reported, on that thread. Destroying it closes everything.
class StreamConnection : public QObject {
    Q_OBJECT
public:
    StreamConnection(const QUrl& address, const ConnectionSetup& setup, double gain, QObject* parent = nullptr);
    ~StreamConnection() override;

    // Fetches the playlist; its entries are reported (EntriesFound).
    void Start();
    // Plays one entry, in place of whatever played before.
    void PlayEntry(const QUrl& stream);
    void Hold();    // pause, keeping the connection
    void Release(); // play
    // Takes out the sink that failed: audio servers are reached through
    // connections that sinks share, and one that failed would fail the next
    // too. The stream waits in front of it.
    void RetireSink();
    // A new audio sink in place of the one retired: the stream, held since,
    // plays on where it stopped.
    void RestoreOutput();
    // The network buffer's size once playing has settled.
    void Settle(int steadyMs);
    void SetGain(double gain);

    // What the stream's source is set up with, read on whichever thread
    // makes it; fixed before the pipeline starts.
    struct SourceSettings {
        GTlsDatabase* tlsDatabase = nullptr;
        QByteArray proxy; // empty: straight to the server
        QByteArray proxyUser;
        QByteArray proxyPassword;
        QByteArray userAgent;
    };

signals:
    void Reported(const ConnectionEvent& event);

private:
    // Handles what the pipeline has said and not yet been heard.
    void ReadBus();
    // The network buffer: its size in time, in bytes once the bitrate is
    // known, and its start mark.
    void SizeBuffer(int bufferMs);
    // The network buffer's fill now, as its buffering messages give it.
    std::optional<int> BufferFill() const;
    void OnPlaylistData();
    void OnPlaylistFinished();
    void FoundTheStreamItself();
    void Fail(const PlayFailure& why) { emit Reported(ConnectionEvent::Failed(why)); }
    void ClosePipeline();
    void DropFetch();
    void WatchFirstAudio(GstElement* guard);

    const QUrl m_address;
    const ConnectionSetup m_setup;
    double m_gain;
    QPointer<BoundedGet> m_fetch;
    GstElementPtr m_pipeline;
    GstElement* m_volume = nullptr;  // the output's volume, owned by m_pipeline
    GstElement* m_guard = nullptr;   // keeps the stream through the sink's loss, owned by m_pipeline
    std::optional<PipelineMessages> m_messages; // m_pipeline's, and what they named: its sink, its network buffer
    int m_bufferMs = 0;              // the network buffer's size in time
    GstBusPtr m_bus;
    std::unique_ptr<QSocketNotifier> m_busNotifier;
    SourceSettings m_source;
};
