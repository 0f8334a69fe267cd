#include <gio/gio.h> // before Qt: its headers use the name "signals"
#include "MediaEngine.h"

#include "GstWarmUp.h"
#include "Playlist.h"
#include "BoundedGet.h"
#include "StreamTitle.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <cmath>
#include <malloc.h>
#include <mutex>
#include <chrono>

namespace {

const char* const FirstAudioMessage = "sonvale-first-audio";
const char* const SourceEndedMessage = "sonvale-source-ended";

// The network buffer (the timings' default 64 KiB, 3 s): Icecast's
// burst-on-connect (64 KiB, 4 s of the 128 kbit/s stream) fills 3 s at once,
// so playback starts without waiting for playbin's byte-rate estimate; with a
// buffer of 1 or 2 s a live stream ran dry now and then, with 4 s the first
// fill waited for real-time data.
// Once playing has settled, the buffer shrinks to the timings' steady size
// (2 s), below what the burst left in it: it stays full, the source waits on
// it and reads what gathered in the socket in batches. A buffer with room
// takes every packet as it arrives, a wakeup of the source's threads each,
// a fifth of the engine's CPU on the 128 kbit/s stream. A 2 s buffer from
// the start ran empty about a second into nearly every play.
constexpr double StartWatermark = 1.0 / 3;
constexpr double RefillWatermark = 0.99;
constexpr int SettleMs = 3000; // the burst's first, large reads have played by then

bool HasProperty(gpointer object, const char* name)
{
    return g_object_class_find_property(G_OBJECT_GET_CLASS(object), name) != nullptr;
}

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
    });
}

GstPadProbeReturn OnFirstBuffer(GstPad*, GstPadProbeInfo*, gpointer sink)
{
    auto* element = GST_ELEMENT(sink);
    gst_element_post_message(element,
        gst_message_new_application(GST_OBJECT(element), gst_structure_new_empty(FirstAudioMessage)));
    return GST_PAD_PROBE_REMOVE;
}

// Drops an element nobody has taken (a floating reference), or nothing.
void Discard(GstElement* element)
{
    if (element)
        gst_object_unref(gst_object_ref_sink(element));
}

GstElement* MakeAudioSink(const QByteArray& description)
{
    if (description.isEmpty())
        return gst_element_factory_make("autoaudiosink", nullptr);
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.constData(), TRUE, &error);
    GErrorPtr owned(error);
    if (owned)
        qWarning("audio sink: %s", owned->message);
    return bin;
}

// The audio output: a volume element of our own in front of the sink. (With
// playbin's soft volume, GStreamer 1.22 keeps one volume element alive after
// every stream that has ended: a player that reconnects for weeks piles them up.)
GstElement* MakeOutput(const QByteArray& sinkDescription, GstElement** volume, GstElement** audioSink)
{
    GstElement* sink = MakeAudioSink(sinkDescription);
    GstElement* gain = gst_element_factory_make("volume", nullptr);
    if (!sink || !gain) {
        Discard(sink);
        Discard(gain);
        return nullptr;
    }
    GstElement* output = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(output), gain, sink, nullptr);
    GstPadPtr pad{gst_element_get_static_pad(gain, "sink")};
    if (!gst_element_link(gain, sink) || !gst_element_add_pad(output, gst_ghost_pad_new("sink", pad.get()))) {
        Discard(output);
        return nullptr;
    }
    *volume = gain;
    *audioSink = sink;
    return output;
}

const char* FactoryName(GstElement* element)
{
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    return factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
}

// The desktop's output chooses a real sink where it finds one, else one that
// plays into nothing: no audio server, no sound card. An output given by
// description is what was asked for.
bool PlaysIntoNothing(GstElement* sink)
{
    if (g_strcmp0(FactoryName(sink), "autoaudiosink") != 0)
        return false;
    bool real = false;
    GstIterator* children = gst_bin_iterate_elements(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(children, &item) == GST_ITERATOR_OK) {
        real = real || g_strcmp0(FactoryName(GST_ELEMENT(g_value_get_object(&item))), "fakesink") != 0;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(children);
    return !real;
}

// Whether an audio output can be opened now: the sink alone, made ready
// (which connects to the audio server) and taken down again.
bool OutputAvailable(const QByteArray& sinkDescription)
{
    GstElementPtr sink{MakeAudioSink(sinkDescription)};
    if (!sink)
        return false;
    gst_object_ref_sink(sink.get());
    const bool ready = gst_element_set_state(sink.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    const bool available = ready && !PlaysIntoNothing(sink.get());
    gst_element_set_state(sink.get(), GST_STATE_NULL);
    return available;
}

// The end of the stream reaches the sink only after the network buffer has
// played out; the source tells when the server actually ended it.
GstPadProbeReturn OnSourceEvent(GstPad* pad, GstPadProbeInfo* info, gpointer)
{
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS)
        return GST_PAD_PROBE_OK;
    if (GstElementPtr source{gst_pad_get_parent_element(pad)})
        gst_element_post_message(source.get(),
            gst_message_new_application(GST_OBJECT(source.get()), gst_structure_new_empty(SourceEndedMessage)));
    return GST_PAD_PROBE_REMOVE;
}

// The stream's source trusts what the playlist fetch trusts: the system's
// store plus the station's own authority, where one is named. A TLS database
// on the source works whichever libsoup GStreamer loads (libsoup 3 has no CA
// file of its own to set).
void OnSourceSetup(GstElement*, GstElement* source, gpointer tlsDatabase)
{
    if (tlsDatabase && HasProperty(source, "tls-database"))
        g_object_set(source, "tls-database", tlsDatabase, nullptr);
    if (GstPadPtr pad{gst_element_get_static_pad(source, "src")})
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnSourceEvent, nullptr, nullptr);
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
{
    InitGStreamer();
    if (GstElementPtr probe{gst_element_factory_make("playbin", nullptr)}; !probe)
        throw std::runtime_error("The media engine cannot be created: GStreamer's playbin is missing");
    m_warmUp = std::jthread(WarmUpGStreamer, m_options.secure);
    // A station that serves https under a certificate authority of its own
    // names it (a PEM file); the system's store is trusted besides.
    m_trusted = TrustedWith(m_options.caFile);
    m_tlsDatabase = TlsDatabaseOf(m_trusted, m_anchors);
    m_retryTimer.setSingleShot(true);
    m_attemptTimer.setSingleShot(true);
    m_stallTimer.setSingleShot(true);
    m_settleTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &MediaEngine::StartAttempt);
    connect(&m_attemptTimer, &QTimer::timeout, this, &MediaEngine::AttemptFailed);
    connect(&m_stallTimer, &QTimer::timeout, this, &MediaEngine::StreamBroke);
    connect(&m_settleTimer, &QTimer::timeout, this, &MediaEngine::SettleQueue);
    m_outputProbe.setInterval(m_options.timings.outputProbeMs);
    connect(&m_outputProbe, &QTimer::timeout, this, &MediaEngine::ProbeOutput);
    m_probePoll.setInterval(20);
    connect(&m_probePoll, &QTimer::timeout, this, &MediaEngine::CollectProbe);
}

MediaEngine::~MediaEngine()
{
    Teardown();
}

int MediaEngine::ReconnectDelayMs(int failures, const EngineTimings& timings)
{
    qint64 delay = timings.backoffBaseMs;
    for (int i = 0; i < failures && delay < timings.backoffCapMs; ++i)
        delay *= 2;
    return int(std::min<qint64>(delay, timings.backoffCapMs));
}

void MediaEngine::SetState(int state)
{
    m_state = state;
    emit PlayStateChange(state);
}

void MediaEngine::SetTitle(const QString& title)
{
    if (title == m_title)
        return;
    m_title = title;
    emit TitleChanged(m_title);
}

void MediaEngine::setURL(const QString& url)
{
    m_url = url;
    const bool active = m_pipeline || m_fetch || m_retryTimer.isActive() || m_outputProbe.isActive() || m_asleep
        || m_state == Paused;
    m_asleep = false;
    if (active) {
        Teardown();
        SetState(Ready);
    }
}

void MediaEngine::setVolume(int value)
{
    m_volume = std::clamp(value, 0, 100);
    ApplyVolume();
}

void MediaEngine::ApplyVolume()
{
    if (m_gain)
        g_object_set(m_gain, "volume", std::pow(m_volume / 100.0, 3.0), nullptr);
}

void MediaEngine::play()
{
    switch (m_state) {
    case Playing:
    case Buffering:
    case Transitioning:
    case Reconnecting:
        return; // already on its way
    case Paused:
        if (m_pipeline && m_pausedFor.isValid() && m_pausedFor.elapsed() < m_options.timings.resumeOnSameConnectionMs) {
            m_resumedAt.start();
            m_wantPlaying = true;
            gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
            return;
        }
        break;
    default:
        break;
    }
    Connect();
}

void MediaEngine::pause()
{
    if (m_state == Playing || m_state == Buffering) {
        m_retryTimer.stop();
        m_attemptTimer.stop();
        m_stallTimer.stop();
        m_wantPlaying = false;
        m_buffering = false;
        gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED);
        m_pausedFor.start();
        SetState(Paused);
    } else if (m_state == Transitioning || m_state == Reconnecting) {
        Teardown();
        m_asleep = false;
        SetState(Paused);
    }
}

void MediaEngine::stop()
{
    Teardown();
    m_asleep = false;
    m_hasPlayed = false;
    if (m_state != Stopped)
        SetState(Stopped);
}

void MediaEngine::Connect()
{
    Teardown();
    m_asleep = false;
    m_hasPlayed = false;
    m_failures = 0;
    StartAttempt();
}

void MediaEngine::StartAttempt()
{
    Teardown();
    if (!m_hasPlayed && m_state != Transitioning)
        SetState(Transitioning);
    m_attemptTimer.start(m_hasPlayed ? m_options.timings.reconnectAttemptMs : m_options.timings.firstAttemptMs);
    FetchPlaylist();
}

void MediaEngine::FetchPlaylist()
{
    const QUrl url(m_url);
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https")) {
        QTimer::singleShot(0, this, [this, generation = m_generation] {
            if (generation == m_generation)
                AttemptFailed();
        });
        return;
    }
    // A fetch of its own for every attempt: dropping it closes its
    // connection, whatever the server was sending.
    GetLimits limits;
    limits.maxBodyBytes = Playlist::MaxBytes;
    m_fetch = new BoundedGet(url, limits, m_trusted, this);
    connect(m_fetch, &BoundedGet::Head, this, [this] {
        if (m_fetch->Status() < 200 || m_fetch->Status() >= 300) {
            DropFetch();
            AttemptFailed();
        }
    });
    connect(m_fetch, &BoundedGet::Data, this, &MediaEngine::OnPlaylistData);
    connect(m_fetch, &BoundedGet::Finished, this, &MediaEngine::OnPlaylistFinished);
    connect(m_fetch, &BoundedGet::Failed, this, [this] {
        DropFetch();
        AttemptFailed();
    });
}

void MediaEngine::DropFetch()
{
    if (BoundedGet* fetch = m_fetch) {
        m_fetch = nullptr;
        fetch->disconnect(this);
        fetch->Stop();
        fetch->deleteLater();
    }
}

void MediaEngine::OnPlaylistData()
{
    if (Playlist::IsAudio(m_fetch->ContentType(), m_fetch->Body().left(16))) {
        // The address is the stream itself: play it directly.
        const QUrl stream = m_fetch->Url();
        DropFetch();
        StartPipeline(stream);
    }
}

void MediaEngine::OnPlaylistFinished()
{
    const QByteArray body = m_fetch->Body();
    DropFetch();
    if (const auto stream = Playlist::FirstStreamEntry(body))
        StartPipeline(*stream);
    else
        AttemptFailed();
}

void MediaEngine::StartPipeline(const QUrl& stream)
{
    GstElementPtr pipeline{gst_element_factory_make("playbin", nullptr)};
    GstElement* volume = nullptr;
    GstElement* audioSink = nullptr;
    GstElement* sink = MakeOutput(m_options.audioSink, &volume, &audioSink);
    if (!pipeline || !sink) {
        Discard(sink);
        AttemptFailed();
        return;
    }
    gst_object_ref_sink(pipeline.get());
    // Audio only: never a video window, whatever the stream carries.
    gst_util_set_object_arg(G_OBJECT(pipeline.get()), "flags", "audio");
    g_object_set(pipeline.get(), "uri", stream.toString(QUrl::FullyEncoded).toUtf8().constData(), "audio-sink", sink,
        "buffer-size", m_options.timings.bufferBytes, "buffer-duration", gint64(m_options.timings.bufferMs) * GST_MSECOND, nullptr);
    g_signal_connect(pipeline.get(), "source-setup", G_CALLBACK(OnSourceSetup), m_tlsDatabase.get());
    if (GstPadPtr pad{gst_element_get_static_pad(sink, "sink")})
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, OnFirstBuffer, sink, nullptr);

    m_bus.reset(gst_element_get_bus(pipeline.get()));
    GPollFD pollFd{};
    gst_bus_get_pollfd(m_bus.get(), &pollFd);
    m_busNotifier = std::make_unique<QSocketNotifier>(pollFd.fd, QSocketNotifier::Read);
    connect(m_busNotifier.get(), &QSocketNotifier::activated, this, &MediaEngine::ReadBus);
    m_pipeline = std::move(pipeline);
    m_gain = volume;
    m_sink = audioSink;
    m_buffering = false;
    m_audioSeen = false;
    m_queue = nullptr;
    m_queueSettled = false;
    m_wantPlaying = true;
    m_sourceEnded.invalidate();
    SetTitle(QString());
    ApplyVolume();
    if (gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        AttemptFailed();
}

void MediaEngine::AttemptFailed()
{
    Teardown();
    ++m_failures;
    if (m_hasPlayed) {
        if (m_state != Reconnecting)
            SetState(Reconnecting);
        // While the network is known to be down nothing is tried: its
        // return starts the next attempt.
        if (!m_offline)
            m_retryTimer.start(ReconnectDelayMs(m_failures - 1, m_options.timings));
    } else if (m_failures < m_options.timings.firstConnectAttempts) {
        m_retryTimer.start(m_options.timings.quickRetryMs * m_failures);
    } else {
        SetState(Stopped);
    }
}

void MediaEngine::StreamBroke()
{
    if (!m_hasPlayed) {
        AttemptFailed();
        return;
    }
    if (m_resumedAt.isValid() && m_resumedAt.elapsed() < m_options.timings.quietReconnectAfterResumeMs) {
        // The server dropped us while we were paused: open the stream anew.
        m_resumedAt.invalidate();
        Connect();
        return;
    }
    m_failures = 0;
    // The first wait runs from the server's end of the stream, while the
    // buffered audio was still playing.
    qint64 delay = ReconnectDelayMs(0, m_options.timings);
    if (m_sourceEnded.isValid())
        delay = std::max<qint64>(0, delay - m_sourceEnded.elapsed());
    Teardown();
    SetState(Reconnecting);
    if (!m_offline)
        m_retryTimer.start(int(delay));
}

void MediaEngine::OutputLost()
{
    // Like a broken stream, whatever played before: the listener wants sound,
    // and it comes back by itself once there is an output to play to.
    Teardown();
    m_hasPlayed = true;
    if (m_state != Reconnecting)
        SetState(Reconnecting);
    m_outputProbe.start();
    ProbeOutput();
}

void MediaEngine::ProbeOutput()
{
    // Opening the output talks to the audio server, which may hang: it is
    // asked on a helper thread, and its answer collected as soon as it is in.
    if (!m_probeAnswer.valid()) {
        m_probeAnswer = std::async(std::launch::async, OutputAvailable, m_options.audioSink);
        m_probePoll.start();
    }
}

void MediaEngine::CollectProbe()
{
    if (!m_probeAnswer.valid()) {
        m_probePoll.stop();
        return;
    }
    if (m_probeAnswer.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    m_probePoll.stop();
    if (!m_probeAnswer.get() || !m_outputProbe.isActive())
        return;
    m_outputProbe.stop();
    m_failures = 0;
    StartAttempt();
}

bool MediaEngine::WaitingToReconnect() const
{
    return m_state == Reconnecting && !m_pipeline && !m_fetch && !m_outputProbe.isActive() && !m_asleep;
}

void MediaEngine::SetNetworkReachable(bool reachable)
{
    const bool back = m_offline && reachable;
    m_offline = !reachable;
    if (m_offline && m_hasPlayed)
        m_retryTimer.stop();
    // Back: a waiting reconnect goes at once, its backoff started over.
    if (back && WaitingToReconnect()) {
        m_failures = 0;
        StartAttempt();
    }
}

void MediaEngine::PrepareForSleep(bool sleeping)
{
    const bool wanted = m_state == Playing || m_state == Buffering || m_state == Transitioning || m_state == Reconnecting;
    if (sleeping && wanted) {
        // The connection would not survive the night; the listener's wish does.
        Teardown();
        m_asleep = true;
        m_hasPlayed = true;
        if (m_state != Reconnecting)
            SetState(Reconnecting);
    } else if (!sleeping && m_asleep) {
        m_asleep = false;
        m_failures = 0;
        StartAttempt();
    }
}

void MediaEngine::Teardown()
{
    m_outputProbe.stop();
    m_retryTimer.stop();
    m_attemptTimer.stop();
    m_stallTimer.stop();
    m_settleTimer.stop();
    DropFetch();
    m_busNotifier.reset();
    if (m_pipeline) {
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        m_bus.reset();
        m_gain = nullptr;
        m_sink = nullptr;
        m_queue = nullptr;
        m_pipeline.reset();
        // GStreamer's threads leave their freed memory in malloc's per-thread
        // arenas; hand it back, or every reconnect keeps a little more.
        malloc_trim(0);
    }
    m_buffering = false;
    m_wantPlaying = false;
    ++m_generation;
}

void MediaEngine::MaybePlaying()
{
    // Playing means audio is flowing, not merely that the pipeline runs: a
    // stream without audio never gets here and its attempt times out.
    if (!m_pipeline || !m_audioSeen || m_buffering || !m_wantPlaying || m_state == Playing)
        return;
    if (GST_STATE(m_pipeline.get()) != GST_STATE_PLAYING)
        return;
    m_attemptTimer.stop();
    m_hasPlayed = true;
    m_failures = 0;
    SetState(Playing);
    if (m_queue && !m_queueSettled)
        m_settleTimer.start(SettleMs);
}

void MediaEngine::SettleQueue()
{
    // A pause or a stall since: the next Playing starts the wait anew.
    if (!m_queue || m_state != Playing)
        return;
    m_queueSettled = true;
    g_object_set(m_queue, "max-size-time", guint64(m_options.timings.steadyBufferMs) * GST_MSECOND, nullptr);
}

void MediaEngine::ReadBus()
{
    // A handler may tear the pipeline down; its bus goes with it.
    while (m_bus) {
        GstMessagePtr message{gst_bus_pop(m_bus.get())};
        if (!message)
            break;
        HandleMessage(message.get());
    }
}

void MediaEngine::HandleMessage(GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
        // The audio server went away or the device was unplugged: the
        // output, not the stream, broke.
        if (m_sink && (GST_MESSAGE_SRC(message) == GST_OBJECT(m_sink)
                || gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(m_sink))))
            OutputLost();
        else
            StreamBroke();
        break;
    case GST_MESSAGE_EOS:
        StreamBroke();
        break;
    case GST_MESSAGE_BUFFERING: {
        if (!m_wantPlaying)
            break;
        GstObject* queue = GST_MESSAGE_SRC(message);
        const bool tunable = HasProperty(queue, "high-watermark");
        if (tunable && !m_queue) {
            m_queue = GST_ELEMENT(queue);
            g_object_set(queue, "high-watermark", StartWatermark, nullptr);
        }
        int percent = 100;
        gst_message_parse_buffering(message, &percent);
        if (percent < 100 && !m_buffering) {
            if (tunable && m_state == Playing)
                g_object_set(queue, "high-watermark", RefillWatermark, nullptr);
            m_buffering = true;
            gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED);
            SetState(Buffering);
            if (m_hasPlayed)
                m_stallTimer.start(m_options.timings.stallMs);
        } else if (percent >= 100 && m_buffering) {
            m_buffering = false;
            m_stallTimer.stop();
            gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
        }
        break;
    }
    case GST_MESSAGE_STATE_CHANGED: {
        if (GST_MESSAGE_SRC(message) != GST_OBJECT(m_pipeline.get()))
            break;
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        if (newState == GST_STATE_PLAYING)
            MaybePlaying();
        break;
    }
    case GST_MESSAGE_TAG: {
        GstTagList* tags = nullptr;
        gst_message_parse_tag(message, &tags);
        gchar* title = nullptr;
        if (gst_tag_list_get_string(tags, GST_TAG_TITLE, &title)) {
            GCharPtr owned(title);
            SetTitle(StreamTitle(QByteArray(title)));
        }
        gst_tag_list_unref(tags);
        break;
    }
    case GST_MESSAGE_APPLICATION:
        if (gst_message_has_name(message, FirstAudioMessage)) {
            if (PlaysIntoNothing(m_sink)) {
                OutputLost();
                break;
            }
            m_audioSeen = true;
            // The connection works: from here the attempt only guards against
            // buffering that never completes.
            if (m_attemptTimer.isActive())
                m_attemptTimer.start(m_options.timings.stallMs);
            emit AudioStarted();
            MaybePlaying();
        } else if (gst_message_has_name(message, SourceEndedMessage)) {
            m_sourceEnded.start();
        }
        break;
    default:
        break;
    }
}
