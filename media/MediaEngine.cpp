#include <gio/gio.h> // before Qt: its headers use the name "signals"
#include "MediaEngine.h"

#include "BoundedGet.h"
#include "GstWarmUp.h"
#include "PipelineThread.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <atomic>
#include <cmath>
#include <mutex>

namespace {

void InitGStreamer()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        // A stream whose first read leaves the MP3 typefinder unsure (a frame
        // or two of the 128 kbit/s stream) is offered to every typefinder. The
        // subtitle one among them loads its plugin, PCRE2's JIT and a charset
        // converter, 0.75 MB kept for the rest of the process's life; a radio
        // stream is never a subtitle file.
        GstRegistry* registry = gst_registry_get();
        if (GstPluginFeature* subtitles = gst_registry_lookup_feature(registry, "subparse_typefind")) {
            gst_registry_remove_feature(registry, subtitles);
            gst_object_unref(subtitles);
        }
        // Likewise FFmpeg's two dozen typefinders (film and game formats)
        // would load all of FFmpeg, 35 MB and 160 ms, for an MP3 stream.
        GList* ffmpeg = gst_registry_get_feature_list_by_plugin(registry, "libav");
        for (GList* item = ffmpeg; item; item = item->next)
            if (GST_IS_TYPE_FIND_FACTORY(item->data))
                gst_registry_remove_feature(registry, GST_PLUGIN_FEATURE(item->data));
        gst_plugin_feature_list_free(ffmpeg);
        // MP3 is decoded by mpg123: FFmpeg's decoders share its rank and
        // come first by name, and loading them costs 35 MB and 150 ms before
        // the first sound. FFmpeg stays for what only it decodes (AAC).
        if (GstPluginFeature* mpg123 = gst_registry_lookup_feature(registry, "mpg123audiodec")) {
            gst_plugin_feature_set_rank(mpg123, std::max<guint>(gst_plugin_feature_get_rank(mpg123), GST_RANK_SECONDARY));
            gst_object_unref(mpg123);
        }
    });
}

// A TLS database of the certificates given, kept in `pem` (read again
// whenever it is used); none for an empty list (the system's own database is
// then used).
GTlsDatabasePtr TlsDatabaseOf(const QList<QSslCertificate>& certificates, QTemporaryFile& pem)
{
    if (certificates.isEmpty() || !pem.open())
        return {};
    for (const QSslCertificate& certificate : certificates)
        pem.write(certificate.toPem());
    pem.flush();
    GError* error = nullptr;
    GTlsDatabasePtr database{g_tls_file_database_new(QFile::encodeName(pem.fileName()).constData(), &error)};
    GErrorPtr owned(error);
    if (owned)
        qWarning("station certificates: %s", owned->message);
    return database;
}

} // namespace

MediaEngine::MediaEngine(EngineOptions options, QObject* parent)
    : MediaPlayer(parent)
    , m_options(std::move(options))
    , m_policy(m_options.timings, std::random_device{}())
{
    InitGStreamer();
    if (const GstElementPtr probe = Adopt(gst_element_factory_make("playbin", nullptr)); !probe)
        throw std::runtime_error("The media engine cannot be created: GStreamer's playbin is missing");
    m_warmUp = std::jthread(WarmUpGStreamer, m_options.secure);
    // A station that serves https under a certificate authority of its own
    // names it (a PEM file); the system's store is trusted besides.
    m_trusted = TrustedWith(m_options.caFile);
    m_tlsDatabase = TlsDatabaseOf(m_trusted, m_anchors);
    m_pipelines = std::make_unique<PipelineThread>();
    connect(m_pipelines.get(), &PipelineThread::Reported, this, &MediaEngine::OnEvent);
    m_clock.start();
    m_wait.setSingleShot(true);
    connect(&m_wait, &QTimer::timeout, this, [this] {
        // On a busy machine the wait may run out with news of the stream
        // still unheard (audio that came in time ends a dip): it goes first.
        // The policy's wait is then due only if nothing set it anew.
        QCoreApplication::sendPostedEvents(m_pipelines.get(), QEvent::MetaCall);
        Apply(m_policy.WaitEnded(Now()));
    });
}

MediaEngine::~MediaEngine()
{
    m_pipelines.reset();
    // A probe stuck on a hanging audio server is left to end by itself.
    if (m_probe)
        m_probe->disconnect(this);
}

void MediaEngine::setURL(const QString& url)
{
    m_url = url;
    Apply(m_policy.AddressChanged(Now()));
}

void MediaEngine::play() { Apply(m_policy.Play(Now())); }
void MediaEngine::pause() { Apply(m_policy.Pause(Now())); }
void MediaEngine::stop() { Apply(m_policy.Stop(Now())); }
void MediaEngine::SetNetworkReachable(bool reachable) { Apply(m_policy.NetworkReachable(reachable, Now())); }
void MediaEngine::PrepareForSleep(bool sleeping) { Apply(m_policy.Sleep(sleeping, Now())); }

double MediaEngine::Gain() const
{
    return std::pow(m_volume / 100.0, 3.0);
}

void MediaEngine::setVolume(int value)
{
    m_volume = std::clamp(value, 0, 100);
    m_pipelines->Post([gain = Gain()](StreamConnection& connection) { connection.SetGain(gain); });
}

void MediaEngine::SetTitle(const QString& title)
{
    if (title == m_title)
        return;
    m_title = title;
    emit TitleChanged(m_title);
}

void MediaEngine::Apply(const PolicyStep& step)
{
    if (step.teardown)
        DropConnection();
    if (step.connect)
        Connect();
    if (step.playEntry)
        m_pipelines->Post([entry = *step.playEntry](StreamConnection& connection) { connection.PlayEntry(entry); });
    if (step.hold)
        m_pipelines->Post(&StreamConnection::Hold);
    if (step.release)
        m_pipelines->Post(&StreamConnection::Release);
    if (step.retireSink)
        m_pipelines->Post(&StreamConnection::RetireSink);
    if (step.probeOutput)
        ProbeOutput();
    if (step.restoreOutput)
        m_pipelines->Post(&StreamConnection::RestoreOutput);
    if (step.settle)
        m_pipelines->Post([ms = m_options.timings.steadyBufferMs](StreamConnection& connection) { connection.Settle(ms); });
    if (step.wakeInMs >= 0)
        m_wait.start(int(std::min<qint64>(step.wakeInMs, INT_MAX)));
    else
        m_wait.stop();
    if (step.failure.kind != PlayFailure::Kind::None)
        emit FailureReported(step.failure);
    if (step.report)
        emit PlayStateChange(*step.report);
}

void MediaEngine::DropConnection()
{
    // Whatever the stream said of itself went with it.
    SetTitle(QString());
    m_pipelines->Close();
}

void MediaEngine::Connect()
{
    ConnectionSetup setup;
    setup.audioSink = m_options.audioSink;
    setup.trusted = m_trusted;
    setup.tlsDatabase = m_tlsDatabase.get();
    setup.proxies = m_options.proxies;
    setup.userAgent = m_options.userAgent;
    setup.bufferBytes = m_options.timings.bufferBytes;
    setup.bufferMs = m_options.timings.bufferMs;
    setup.startMarkMs = m_options.timings.startMarkMs;
    setup.outputQueueMs = m_options.timings.outputQueueMs;
    m_pipelines->Connect(QUrl(m_url), setup, Gain());
}

void MediaEngine::OnEvent(const ConnectionEvent& event)
{
    if (event.kind == ConnectionEvent::Kind::Title)
        SetTitle(event.title);
    else if (event.kind == ConnectionEvent::Kind::FirstAudio && event.realOutput)
        emit AudioStarted();
    Apply(m_policy.Heard(event, Now()));
}

void MediaEngine::ProbeOutput()
{
    // Opening the output talks to the audio server, which may hang: it is
    // asked on a helper thread, and its answer taken when it comes.
    auto available = std::make_shared<std::atomic<bool>>(false);
    QThread* probe = QThread::create([sink = m_options.audioSink, available] { *available = OutputAvailable(sink); });
    m_probe = probe;
    connect(probe, &QThread::finished, this, [this, available] { Apply(m_policy.OutputProbed(*available, Now())); });
    connect(probe, &QThread::finished, probe, &QObject::deleteLater);
    probe->start();
}
