#include "StreamConnection.h"

#include "BoundedGet.h"
#include "OutputGuard.h"
#include "PipelineMessages.h"
#include "Playlist.h"

#include <QSocketNotifier>
#include <algorithm>
#include <malloc.h>

namespace {

GstPadProbeReturn OnFirstBuffer(GstPad*, GstPadProbeInfo*, gpointer sink)
{
    auto* element = GST_ELEMENT(sink);
    gst_element_post_message(element, MakeProbeMessage(ProbeNews::FirstAudio, element));
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

// The audio output: a volume element of our own, and the guard that keeps
// the stream through the sink's loss, in front of the sink. (With playbin's
// soft volume, GStreamer 1.22 keeps one volume element alive after every
// stream that has ended: a player that reconnects for weeks piles them up.)
GstElement* MakeOutput(const QByteArray& sinkDescription, GstElement** volume, GstElement** guard, GstElement** audioSink)
{
    GstElement* sink = MakeAudioSink(sinkDescription);
    GstElement* gain = gst_element_factory_make("volume", nullptr);
    GstElement* keeper = MakeOutputGuard();
    if (!sink || !gain || !keeper) {
        Discard(sink);
        Discard(gain);
        Discard(keeper);
        return nullptr;
    }
    GstElement* output = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(output), gain, keeper, sink, nullptr);
    GstPadPtr pad{gst_element_get_static_pad(gain, "sink")};
    if (!gst_element_link_many(gain, keeper, sink, nullptr)
        || !gst_element_add_pad(output, gst_ghost_pad_new("sink", pad.get()))) {
        Discard(output);
        return nullptr;
    }
    *volume = gain;
    *guard = keeper;
    *audioSink = sink;
    return output;
}

GstPadProbeReturn OnFirstSourceBuffer(GstPad* pad, GstPadProbeInfo*, gpointer)
{
    if (GstElementPtr source{gst_pad_get_parent_element(pad)})
        gst_element_post_message(source.get(), MakeProbeMessage(ProbeNews::Answered, source.get()));
    return GST_PAD_PROBE_REMOVE;
}

// The end of the stream reaches the sink only after the network buffer has
// played out; the source tells when the server actually ended it.
GstPadProbeReturn OnSourceEvent(GstPad* pad, GstPadProbeInfo* info, gpointer)
{
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS)
        return GST_PAD_PROBE_OK;
    if (GstElementPtr source{gst_pad_get_parent_element(pad)})
        gst_element_post_message(source.get(), MakeProbeMessage(ProbeNews::SourceEnded, source.get()));
    return GST_PAD_PROBE_REMOVE;
}

// Stations send "StreamTitle='';" during jingles and ads, and GStreamer's ICY
// reader makes no tag of an empty title: the source's metadata blocks (every
// `interval` bytes of audio, a length byte, that many times 16 bytes) are
// followed here for that case alone.
class IcyTitleWatch {
public:
    explicit IcyTitleWatch(GstElement* source)
        : m_source(source)
    {
    }
    static void Free(gpointer watch) { delete static_cast<IcyTitleWatch*>(watch); }

    // False once the stream turns out to carry no metadata.
    bool Read(GstPad* pad, GstBuffer* buffer)
    {
        if (m_interval == 0) {
            const GstCapsPtr caps{gst_pad_get_current_caps(pad)};
            gint interval = 0;
            if (caps && gst_caps_get_size(caps.get()) > 0)
                gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "metadata-interval", &interval);
            if (interval <= 0)
                return false;
            m_interval = guint(interval);
            m_audioLeft = m_interval;
        }
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return true;
        for (gsize at = 0; at < map.size;) {
            if (m_audioLeft > 0) {
                const gsize skip = std::min<gsize>(m_audioLeft, map.size - at);
                m_audioLeft -= skip;
                at += skip;
            } else if (m_metaLeft < 0) {
                m_metaLeft = map.data[at++] * 16;
                m_meta.clear();
                if (m_metaLeft == 0)
                    NextBlock();
            } else {
                const gsize take = std::min<gsize>(gsize(m_metaLeft), map.size - at);
                m_meta.append(reinterpret_cast<const char*>(map.data + at), qsizetype(take));
                m_metaLeft -= int(take);
                at += take;
                if (m_metaLeft == 0) {
                    if (m_meta.startsWith("StreamTitle='';"))
                        gst_element_post_message(m_source, MakeProbeMessage(ProbeNews::EmptyTitle, m_source));
                    NextBlock();
                }
            }
        }
        gst_buffer_unmap(buffer, &map);
        return true;
    }

private:
    void NextBlock()
    {
        m_metaLeft = -1;
        m_audioLeft = m_interval;
    }

    GstElement* const m_source; // owns the pad this watch is on
    guint m_interval = 0;
    guint m_audioLeft = 0;
    int m_metaLeft = -1; // -1: the length byte comes next
    QByteArray m_meta;
};

GstPadProbeReturn OnSourceData(GstPad* pad, GstPadProbeInfo* info, gpointer watch)
{
    return static_cast<IcyTitleWatch*>(watch)->Read(pad, GST_PAD_PROBE_INFO_BUFFER(info)) ? GST_PAD_PROBE_OK
                                                                                          : GST_PAD_PROBE_REMOVE;
}

// The stream's source trusts what the playlist fetch trusts: the system's
// store plus the station's own authority, where one is named. A TLS database
// on the source works whichever libsoup GStreamer loads (libsoup 3 has no CA
// file of its own to set).
void OnSourceSetup(GstElement*, GstElement* source, gpointer settings)
{
    const auto* wanted = static_cast<const StreamConnection::SourceSettings*>(settings);
    if (!wanted->userAgent.isEmpty() && HasProperty(source, "user-agent"))
        g_object_set(source, "user-agent", wanted->userAgent.constData(), nullptr);
    if (wanted->tlsDatabase && HasProperty(source, "tls-database"))
        g_object_set(source, "tls-database", wanted->tlsDatabase, nullptr);
    // The stream goes the way the playlist went: the source would read
    // http_proxy alone, and never no_proxy.
    if (HasProperty(source, "proxy")) {
        g_object_set(source, "proxy", wanted->proxy.constData(), nullptr);
        if (!wanted->proxyUser.isEmpty())
            g_object_set(source, "proxy-id", wanted->proxyUser.constData(), "proxy-pw", wanted->proxyPassword.constData(),
                nullptr);
    }
    if (GstPadPtr pad{gst_element_get_static_pad(source, "src")}) {
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnSourceEvent, nullptr, nullptr);
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, OnFirstSourceBuffer, nullptr, nullptr);
        if (HasProperty(source, "iradio-mode"))
            gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, OnSourceData, new IcyTitleWatch(source),
                IcyTitleWatch::Free);
    }
}

// playbin's output keeps a queue of decoded audio in front of the sink, a
// second long by default, that the network buffer's fill never shows: a
// connect burst disappears into it, and the start mark is then waited for on
// top. Kept short, the audio waits in the network buffer, where it counts.
// (With an audio-only pipeline it is playbin's one plain queue.)
void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer outputQueueMs)
{
    if (g_strcmp0(FactoryName(element), "queue") == 0)
        g_object_set(element, "max-size-time", guint64(GPOINTER_TO_INT(outputQueueMs)) * GST_MSECOND, nullptr);
}

PlayFailure FailureOf(GetProblem problem, const QString& why)
{
    switch (problem) {
    case GetProblem::Certificate:
        return {PlayFailure::Kind::Certificate, 0, {}, why};
    case GetProblem::BadReply:
        return {PlayFailure::Kind::NotAudio, 0, {}, why};
    case GetProblem::Proxy:
        return {PlayFailure::Kind::Proxy, 0, {}, why};
    default:
        return {PlayFailure::Kind::Unreachable, 0, {}, why};
    }
}

} // namespace

bool OutputAvailable(const QByteArray& sinkDescription)
{
    const GstElementPtr sink = Adopt(MakeAudioSink(sinkDescription));
    if (!sink)
        return false;
    const bool ready = gst_element_set_state(sink.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    const bool available = ready && !PlaysIntoNothing(sink.get());
    gst_element_set_state(sink.get(), GST_STATE_NULL);
    return available;
}

StreamConnection::StreamConnection(const QUrl& address, const ConnectionSetup& setup, double gain, QObject* parent)
    : QObject(parent)
    , m_address(address)
    , m_setup(setup)
    , m_gain(gain)
{
}

StreamConnection::~StreamConnection()
{
    DropFetch();
    ClosePipeline();
}

void StreamConnection::ClosePipeline()
{
    if (m_busNotifier) {
        // Possibly the sender of the signal being handled.
        m_busNotifier->setEnabled(false);
        m_busNotifier.release()->deleteLater();
    }
    if (m_pipeline) {
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        m_bus.reset();
        m_pipeline.reset();
        m_volume = m_guard = nullptr;
        m_messages.reset();
        // GStreamer's threads leave their freed memory in malloc's per-thread
        // arenas; hand it back, or every reconnect keeps a little more.
        malloc_trim(0);
    }
}

void StreamConnection::Start()
{
    if (!m_address.isValid() || (m_address.scheme() != "http" && m_address.scheme() != "https")) {
        Fail({PlayFailure::Kind::Unreachable, 0, {}, QStringLiteral("not a web address")});
        return;
    }
    GetLimits limits;
    limits.maxBodyBytes = Playlist::MaxBytes;
    limits.userAgent = m_setup.userAgent;
    m_fetch = new BoundedGet(m_address, limits, m_setup.trusted, m_setup.proxies, this);
    connect(m_fetch, &BoundedGet::Head, this, [this] {
        const int status = m_fetch->Status();
        if (status >= 200 && status < 300)
            return;
        const auto kind = m_fetch->FromProxy() ? PlayFailure::Kind::Proxy : PlayFailure::Kind::HttpStatus;
        DropFetch();
        Fail({kind, status, {}, QStringLiteral("the playlist's reply: HTTP %1").arg(status)});
    });
    connect(m_fetch, &BoundedGet::Data, this, &StreamConnection::OnPlaylistData);
    connect(m_fetch, &BoundedGet::Finished, this, &StreamConnection::OnPlaylistFinished);
    connect(m_fetch, &BoundedGet::Failed, this, [this](const QString& why) {
        const GetProblem problem = m_fetch->Problem();
        // A playlist larger than is ever read: its first entries are enough.
        const QList<QUrl> entries = problem == GetProblem::BadReply
            ? Playlist::StreamEntries(m_fetch->Body(), m_fetch->Url(), false) : QList<QUrl>();
        DropFetch();
        if (entries.isEmpty())
            Fail(FailureOf(problem, "the playlist: " + why));
        else
            emit Reported(ConnectionEvent::Found(entries));
    });
}

void StreamConnection::DropFetch()
{
    if (BoundedGet* fetch = m_fetch) {
        m_fetch = nullptr;
        fetch->disconnect(this);
        fetch->Stop();
        fetch->deleteLater();
    }
}

void StreamConnection::OnPlaylistData()
{
    if (Playlist::IsAudio(m_fetch->ContentType(), m_fetch->Body().left(16)))
        FoundTheStreamItself();
}

void StreamConnection::FoundTheStreamItself()
{
    // The address is the stream itself: it is played directly (where it
    // led, after redirects).
    const QUrl stream = m_fetch->Url();
    DropFetch();
    emit Reported(ConnectionEvent::Found({stream}));
}

void StreamConnection::OnPlaylistFinished()
{
    if (Playlist::IsLiveStreamingPlaylist(m_fetch->Body())) {
        FoundTheStreamItself();
        return;
    }
    const QList<QUrl> entries = Playlist::StreamEntries(m_fetch->Body(), m_fetch->Url());
    const bool playlist = Playlist::IsPlaylistText(m_fetch->ContentType(), m_fetch->Body());
    DropFetch();
    if (!entries.isEmpty())
        emit Reported(ConnectionEvent::Found(entries));
    else if (playlist)
        Fail({PlayFailure::Kind::NoStream, 0, {}, QStringLiteral("the playlist names no stream")});
    else
        Fail({PlayFailure::Kind::NotAudio, 0, {}, QStringLiteral("the reply is neither audio nor a playlist")});
}

void StreamConnection::PlayEntry(const QUrl& stream)
{
    ClosePipeline();
    GstElementPtr pipeline = Adopt(gst_element_factory_make("playbin", nullptr));
    GstElement* volume = nullptr;
    GstElement* guard = nullptr;
    GstElement* audioSink = nullptr;
    GstElement* output = MakeOutput(m_setup.audioSink, &volume, &guard, &audioSink);
    if (!pipeline || !output) {
        Discard(output);
        emit Reported(ConnectionEvent::Of(ConnectionEvent::Kind::SinkFailed));
        return;
    }
    // Audio only: never a video window, whatever the stream carries.
    gst_util_set_object_arg(G_OBJECT(pipeline.get()), "flags", "audio");
    g_object_set(pipeline.get(), "uri", stream.toString(QUrl::FullyEncoded).toUtf8().constData(), "audio-sink", output,
        "buffer-size", m_setup.bufferBytes, "buffer-duration", gint64(m_setup.bufferMs) * GST_MSECOND, nullptr);
    // Each entry's own: a relay may be reached another way than the one before.
    m_source = SourceSettings();
    m_source.tlsDatabase = m_setup.tlsDatabase;
    m_source.userAgent = m_setup.userAgent;
    if (const QUrl proxy = m_setup.proxies.For(stream); !proxy.isEmpty()) {
        m_source.proxy = proxy.toEncoded(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
        m_source.proxyUser = proxy.userName(QUrl::FullyDecoded).toUtf8();
        m_source.proxyPassword = proxy.password(QUrl::FullyDecoded).toUtf8();
    }
    g_signal_connect(pipeline.get(), "source-setup", G_CALLBACK(OnSourceSetup), &m_source);
    if (m_setup.outputQueueMs > 0)
        g_signal_connect(pipeline.get(), "deep-element-added", G_CALLBACK(OnElementAdded),
            GINT_TO_POINTER(m_setup.outputQueueMs));
    WatchFirstAudio(guard);

    m_bus.reset(gst_element_get_bus(pipeline.get()));
    GPollFD pollFd{};
    gst_bus_get_pollfd(m_bus.get(), &pollFd);
    m_busNotifier = std::make_unique<QSocketNotifier>(pollFd.fd, QSocketNotifier::Read);
    connect(m_busNotifier.get(), &QSocketNotifier::activated, this, &StreamConnection::ReadBus);
    m_pipeline = std::move(pipeline);
    m_volume = volume;
    m_guard = guard;
    m_messages.emplace(m_pipeline.get(), audioSink);
    m_bufferMs = m_setup.bufferMs;
    SetGain(m_gain);
    if (gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        Fail({PlayFailure::Kind::Unreachable, 0, {}, QStringLiteral("the pipeline would not start")});
}

void StreamConnection::WatchFirstAudio(GstElement* guard)
{
    // What passes the guard reaches the sink.
    if (GstPadPtr pad{gst_element_get_static_pad(guard, "src")})
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, OnFirstBuffer, guard, nullptr);
}

void StreamConnection::RetireSink()
{
    // The pipeline's clock goes with the sink when it was the sink's; a new
    // one is chosen when the pipeline plays again. The guard holds the stream.
    if (!m_messages || !m_messages->Sink() || !m_messages->SinkFailed())
        return;
    GstElement* sink = m_messages->Sink();
    m_messages->SinkRetired();
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(GST_OBJECT_PARENT(sink)), sink);
}

void StreamConnection::RestoreOutput()
{
    if (!m_pipeline || !m_guard || m_messages->Sink())
        return;
    GstElement* sink = MakeAudioSink(m_setup.audioSink);
    if (sink) {
        gst_bin_add(GST_BIN(GST_OBJECT_PARENT(m_guard)), sink);
        m_messages->SinkReplaced(sink);
    }
    if (!sink || !gst_element_link(m_guard, sink)) {
        emit Reported(ConnectionEvent::Of(ConnectionEvent::Kind::SinkFailed));
        return;
    }
    WatchFirstAudio(m_guard);
    // Paused, the new sink takes the audio the old one refused; playing
    // again, the pipeline runs on the new sink's clock. The failed sink's
    // clock was reset as it went: the pipeline plays on from the audio that
    // waits, not from that clock's last word.
    gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED);
    if (const GstClockTime latest = OutputGuardLatest(m_guard); GST_CLOCK_TIME_IS_VALID(latest))
        gst_element_set_start_time(m_pipeline.get(), latest);
    OutputGuardResume(m_guard);
    gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
}

void StreamConnection::Hold()
{
    if (m_pipeline)
        gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED);
}

void StreamConnection::Release()
{
    if (m_pipeline)
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
}

void StreamConnection::Settle(int steadyMs)
{
    // Below what the burst left in it, the buffer stays full: the source
    // waits on it and reads what gathered in the socket in batches, instead
    // of waking its threads for every packet.
    if (m_messages && m_messages->Buffer())
        SizeBuffer(steadyMs);
}

void StreamConnection::SizeBuffer(int bufferMs)
{
    GstElement* queue = m_messages->Buffer();
    m_bufferMs = bufferMs;
    g_object_set(queue, "max-size-time", guint64(bufferMs) * GST_MSECOND, nullptr);
    // The buffer measures its fill in time only for what came after the
    // decoder was found (a connect burst comes before), and otherwise in
    // bytes against its whole size. Once the stream's bitrate is known, its
    // size in bytes is its size in time, and both measures read true.
    if (const guint bitrate = m_messages->Bitrate(); bitrate > 0) {
        const qint64 bytes = qint64(bitrate) / 8 * bufferMs / 1000;
        g_object_set(queue, "max-size-bytes", guint(std::clamp<qint64>(bytes, 4096, 16 << 20)), nullptr);
    }
    // The mark is a share of the buffer's size.
    const double share = bufferMs > 0 ? std::clamp(double(m_setup.startMarkMs) / bufferMs, 0.01, 1.0) : 1.0;
    g_object_set(queue, "high-watermark", share, nullptr);
}

std::optional<int> StreamConnection::BufferFill() const
{
    GstQuery* query = gst_query_new_buffering(GST_FORMAT_PERCENT);
    gboolean busy = FALSE;
    gint percent = 0;
    const bool answered = gst_element_query(m_messages->Buffer(), query);
    if (answered)
        gst_query_parse_buffering_percent(query, &busy, &percent);
    gst_query_unref(query);
    return answered ? std::optional<int>(percent) : std::nullopt;
}

void StreamConnection::SetGain(double gain)
{
    m_gain = gain;
    if (m_volume)
        g_object_set(m_volume, "volume", gain, nullptr);
}

void StreamConnection::ReadBus()
{
    while (m_bus) {
        GstMessagePtr message{gst_bus_pop(m_bus.get())};
        if (!message)
            break;
        PipelineMessages::Reading reading = m_messages->Read(message.get());
        int fill = -1; // the buffer's fill after a resize, when no message of its own gives it
        if (reading.resize) {
            SizeBuffer(m_bufferMs);
            // The buffer tells its fill only as data moves: after a burst,
            // the pipeline may hold still, prerolled, with the burst inside.
            // Its fill against its new size is asked for at once; it stands
            // for the one the message gave, measured against the old size.
            if (const std::optional<int> now = BufferFill()) {
                if (reading.event && reading.event->kind == ConnectionEvent::Kind::BufferLevel)
                    reading.event->percent = *now;
                else
                    fill = *now;
            }
        }
        if (reading.event)
            emit Reported(*reading.event);
        if (fill >= 0)
            emit Reported(ConnectionEvent::Level(fill));
    }
}
