#pragma once

#include "GstHandles.h"
#include "PlayFailure.h"
#include "ProxySettings.h"

#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QUrl>
#include <atomic>
#include <memory>

class BoundedGet;
class QSocketNotifier;

// What every connection to the station is made with.
struct ConnectionSetup {
    QByteArray audioSink;            // a gst-launch bin description; empty: the desktop's output
    QList<QSslCertificate> trusted;  // for https playlists; empty: the system's store
    GTlsDatabase* tlsDatabase = nullptr; // the same for the stream's source; none: the system's
    ProxySettings proxies;
    int bufferBytes = 0;             // the network buffer
    int bufferMs = 0;
    int startMarkMs = 0;             // playback starts once the buffer holds this
    int outputQueueMs = 0;           // decoded audio waiting for the output
};

// Whether an audio output can be opened now: the sink alone, made ready
// (which connects to the audio server) and taken down again. May block on
// a hanging audio server: for a helper thread.
bool OutputAvailable(const QByteArray& sinkDescription);

// One connection to the station: the playlist fetch, then the pipeline that
// plays the first of its entries that plays (or the address itself, when
// that is audio).
// What happens to it is reported by its signals, on the UI thread; any
// handler may destroy it. Destroying it closes everything at once.
class StreamConnection : public QObject {
    Q_OBJECT
public:
    StreamConnection(const QUrl& address, const ConnectionSetup& setup, double gain, QObject* parent = nullptr);
    ~StreamConnection() override;

    // Closes everything now, as destroying it does; nothing is reported after.
    void Close();
    void Hold();    // pause, keeping the connection
    void Release(); // play
    // A new audio sink in place of one that failed: the stream, held since,
    // plays on where it stopped.
    void RestoreOutput();
    // The network buffer's size once playing has settled.
    void Settle(int steadyMs);
    void SetGain(double gain);
    // Handles what the pipeline has said and not yet been heard (it is
    // read as it comes, too); may close the connection.
    void ReadBus();

    // What the stream's source is set up with, read on whichever thread
    // makes it; fixed before the pipeline starts.
    struct SourceSettings {
        GTlsDatabase* tlsDatabase = nullptr;
        QByteArray proxy; // empty: straight to the server
        QByteArray proxyUser;
        QByteArray proxyPassword;
    };

signals:
    void AudioStarted();       // the first audio reached the output
    void PipelinePlaying();
    void BufferLevel(int percent);
    void SourceEnded();        // the server ended the stream; the buffer still plays
    void Broke(const PlayFailure& why);
    void OutputLost();
    void TitleChanged(const QString& title);

private:
    // The network buffer: its size in time, in bytes once the bitrate is
    // known, and its start mark.
    void SizeBuffer(int bufferMs);
    void Fetch();
    void OnPlaylistData();
    void OnPlaylistFinished();
    void PlayEntries(const QList<QUrl>& entries);
    void FailEntry(const PlayFailure& why);
    void ClosePipeline();
    void DropFetch();
    void StartPipeline(const QUrl& stream);
    void FailSoon(const PlayFailure& why);
    void WatchFirstAudio(GstElement* guard);
    void RetireSink(GstObject* failedPart);
    void HandleMessage(GstMessage* message);
    void OnError(GstMessage* message);

    const QUrl m_address;
    const ConnectionSetup m_setup;
    double m_gain;
    QPointer<BoundedGet> m_fetch;
    GstElementPtr m_pipeline;
    std::shared_ptr<std::atomic<bool>> m_closed; // the pipeline's, for work it does on its own threads
    GstElement* m_volume = nullptr;  // the output's volume, owned by m_pipeline
    GstElement* m_guard = nullptr;   // keeps the stream through the sink's loss, owned by m_pipeline
    GstElement* m_sink = nullptr;    // the audio sink, owned by m_pipeline
    GstObjectPtr m_failedPart;       // what failed in the latest sink taken out
    GstElement* m_queue = nullptr;   // the network buffer, once it has its start mark; owned by m_pipeline
    int m_bufferMs = 0;              // its size in time
    guint m_bitrate = 0;             // the stream's, in bits per second, once its parser has named it
    GstBusPtr m_bus;
    std::unique_ptr<QSocketNotifier> m_busNotifier;
    QString m_missingFormat;         // a decoder GStreamer looked for and did not find
    QList<QUrl> m_entries;           // the playlist's entries not yet tried
    bool m_audioStarted = false;
    bool m_switching = false;        // to the next entry
    SourceSettings m_source;
};
