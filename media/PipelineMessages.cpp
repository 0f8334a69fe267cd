#include "PipelineMessages.h"

#include "StreamTitle.h"

#include <gst/pbutils/missing-plugins.h>
#include <gst/pbutils/pbutils.h>

namespace {

const char* NameOf(ProbeNews news)
{
    switch (news) {
    case ProbeNews::Answered:
        return "sonvale-answered";
    case ProbeNews::SourceEnded:
        return "sonvale-source-ended";
    case ProbeNews::FirstAudio:
        return "sonvale-first-audio";
    case ProbeNews::EmptyTitle:
        return "sonvale-empty-title";
    }
    return "";
}

bool Within(GstMessage* message, GstElement* element)
{
    return element && (GST_MESSAGE_SRC(message) == GST_OBJECT(element)
        || gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(element)));
}

bool MentionsTls(const QString& text)
{
    return text.contains(QLatin1String("TLS"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("certificate"), Qt::CaseInsensitive)
        || text.contains(QLatin1String("secure connection"), Qt::CaseInsensitive);
}

// What a pipeline's error means for the listener, from its domain, code and
// details (souphttpsrc names the HTTP status).
PlayFailure FailureOf(const GError* error, const GstStructure* details, const QString& missingFormat, const QString& debug)
{
    const QString detail = QStringLiteral("%1 (%2 %3): %4")
                               .arg(QString::fromUtf8(error->message), QString::fromUtf8(g_quark_to_string(error->domain)))
                               .arg(error->code)
                               .arg(debug);
    guint status = 0;
    if (details && gst_structure_get_uint(details, "http-status-code", &status) && status >= 300)
        return {PlayFailure::Kind::HttpStatus, int(status), {}, detail};
    if (!missingFormat.isEmpty() || g_error_matches(error, GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN)
        || g_error_matches(error, GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND))
        return {PlayFailure::Kind::NoDecoder, 0, missingFormat, detail};
    if (error->domain == GST_STREAM_ERROR)
        return {PlayFailure::Kind::NotAudio, 0, {}, detail};
    if (MentionsTls(detail))
        return {PlayFailure::Kind::Certificate, 0, {}, detail};
    return {PlayFailure::Kind::Unreachable, 0, {}, detail};
}

} // namespace

bool HasProperty(gpointer object, const char* name)
{
    return g_object_class_find_property(G_OBJECT_GET_CLASS(object), name) != nullptr;
}

const char* FactoryName(GstElement* element)
{
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    return factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
}

// The desktop's output chooses a real sink where it finds one, else one that
// plays into nothing. An output given by description is what was asked for.
bool PlaysIntoNothing(GstElement* sink)
{
    if (g_strcmp0(FactoryName(sink), "autoaudiosink") != 0)
        return false;
    bool real = false;
    GstIteratorPtr children{gst_bin_iterate_elements(GST_BIN(sink))};
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(children.get(), &item) == GST_ITERATOR_OK) {
        real = real || g_strcmp0(FactoryName(GST_ELEMENT(g_value_get_object(&item))), "fakesink") != 0;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return !real;
}

GstMessage* MakeProbeMessage(ProbeNews news, GstElement* from)
{
    return gst_message_new_application(GST_OBJECT(from), gst_structure_new_empty(NameOf(news)));
}

PipelineMessages::PipelineMessages(GstElement* pipeline, GstElement* sink)
    : m_pipeline(pipeline)
    , m_sink(sink)
{
}

void PipelineMessages::SinkReplaced(GstElement* sink)
{
    m_sink = sink;
    m_sinkFailed = false;
}

std::optional<ConnectionEvent> PipelineMessages::ReadError(GstMessage* message)
{
    // A sink that failed may say so more than once (and one that chose its
    // device has let go of it by the time it is taken out, so it is known by
    // the part that said so).
    if (m_failedPart && GST_MESSAGE_SRC(message) == m_failedPart.get())
        return std::nullopt;
    // The audio server went away or the device was unplugged: the output,
    // not the stream, broke.
    if (Within(message, m_sink)) {
        if (m_sinkFailed)
            return std::nullopt;
        m_sinkFailed = true;
        m_failedPart.reset(GST_OBJECT(gst_object_ref(GST_MESSAGE_SRC(message))));
        return ConnectionEvent::Of(ConnectionEvent::Kind::SinkFailed);
    }
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    GErrorPtr ownedError(error);
    GCharPtr ownedDebug(debug);
    const GstStructure* details = nullptr;
    gst_message_parse_error_details(message, &details);
    return ConnectionEvent::Failed(FailureOf(error, details, m_missingFormat, QString::fromUtf8(debug ? debug : "")));
}

PipelineMessages::Reading PipelineMessages::Read(GstMessage* message)
{
    const GstElement* const queue = m_queue;
    const guint bitrate = m_bitrate;
    Reading reading{ReadEvent(message)};
    reading.resize = m_queue && (m_queue != queue || m_bitrate != bitrate);
    return reading;
}

std::optional<ConnectionEvent> PipelineMessages::ReadEvent(GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
        return ReadError(message);
    case GST_MESSAGE_EOS:
        return ConnectionEvent::Failed({PlayFailure::Kind::Unreachable, 0, {}, QStringLiteral("the stream ended")});
    case GST_MESSAGE_ELEMENT:
        if (gst_is_missing_plugin_message(message)) {
            GCharPtr description(gst_missing_plugin_message_get_description(message));
            m_missingFormat = QString::fromUtf8(description.get());
        }
        return std::nullopt;
    case GST_MESSAGE_BUFFERING: {
        GstObject* queue = GST_MESSAGE_SRC(message);
        if (!m_queue && HasProperty(queue, "high-watermark")) {
            // Icecast's burst-on-connect passes the mark at once, without
            // waiting for playbin's byte-rate estimate; a dip refills to it.
            m_queue = GST_ELEMENT(queue);
        }
        int percent = 100;
        gst_message_parse_buffering(message, &percent);
        return ConnectionEvent::Level(percent);
    }
    case GST_MESSAGE_STATE_CHANGED: {
        if (GST_MESSAGE_SRC(message) != GST_OBJECT(m_pipeline))
            return std::nullopt;
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        if (newState != GST_STATE_PLAYING)
            return std::nullopt;
        return ConnectionEvent::Of(ConnectionEvent::Kind::PipelinePlaying);
    }
    case GST_MESSAGE_TAG: {
        GstTagList* parsed = nullptr;
        gst_message_parse_tag(message, &parsed);
        const GstTagListPtr tags(parsed);
        // The parser may name the bitrate before the buffer's first fill
        // names the buffer (a burst parsed at once): kept for it.
        guint bitrate = 0;
        if (m_bitrate == 0
            && (gst_tag_list_get_uint(tags.get(), GST_TAG_NOMINAL_BITRATE, &bitrate)
                || gst_tag_list_get_uint(tags.get(), GST_TAG_BITRATE, &bitrate))
            && bitrate > 0) {
            m_bitrate = bitrate;
        }
        gchar* title = nullptr;
        if (!gst_tag_list_get_string(tags.get(), GST_TAG_TITLE, &title))
            return std::nullopt;
        GCharPtr owned(title);
        return ConnectionEvent::TitleOf(StreamTitle(QByteArray(title)));
    }
    case GST_MESSAGE_APPLICATION:
        if (gst_message_has_name(message, NameOf(ProbeNews::FirstAudio)))
            return ConnectionEvent::Audio(!PlaysIntoNothing(m_sink));
        if (gst_message_has_name(message, NameOf(ProbeNews::Answered)))
            return ConnectionEvent::Of(ConnectionEvent::Kind::Answered);
        if (gst_message_has_name(message, NameOf(ProbeNews::SourceEnded)))
            return ConnectionEvent::Of(ConnectionEvent::Kind::SourceEnded);
        if (gst_message_has_name(message, NameOf(ProbeNews::EmptyTitle)))
            return ConnectionEvent::TitleOf(QString());
        return std::nullopt;
    default:
        return std::nullopt;
    }
}
