#pragma once

#include "ConnectionEvent.h"
#include "GstHandles.h"

#include <optional>

bool HasProperty(gpointer object, const char* name);
const char* FactoryName(GstElement* element);
// Whether the sink plays into nothing: the desktop's output chose no real
// one (no audio server, no sound card).
bool PlaysIntoNothing(GstElement* sink);

// What the connection's own probes post on the pipeline's bus: the source's
// first bytes and its end, the first audio past the output guard, an empty
// stream title.
enum class ProbeNews { Answered, SourceEnded, FirstAudio, EmptyTitle };
GstMessage* MakeProbeMessage(ProbeNews news, GstElement* from);

// Reads what one pipeline says and tells it as connection events, nothing
// decided. Which part said it is all it tells apart: the pipeline itself,
// its audio sink, the network buffer, anything else. It holds no reference:
// the pipeline it reads for owns what it is given.
class PipelineMessages {
public:
    PipelineMessages(GstElement* pipeline, GstElement* sink);

    struct Reading {
        std::optional<ConnectionEvent> event; // what the message means, if anything
        bool resize = false; // it named the network buffer, or the bitrate the buffer is sized by
    };
    Reading Read(GstMessage* message);

    // The network buffer, once its first fill named it; the stream's
    // bitrate, once its parser named it (0 before).
    GstElement* Buffer() const { return m_queue; }
    guint Bitrate() const { return m_bitrate; }

    GstElement* Sink() const { return m_sink; }
    // The sink failed and has not been replaced yet.
    bool SinkFailed() const { return m_sinkFailed; }
    // The failed sink went; later messages of the part that failed are
    // not news. Then a new one came in its place.
    void SinkRetired() { m_sink = nullptr; }
    void SinkReplaced(GstElement* sink);

private:
    std::optional<ConnectionEvent> ReadEvent(GstMessage* message);
    std::optional<ConnectionEvent> ReadError(GstMessage* message);

    GstElement* const m_pipeline;
    GstElement* m_sink;
    GstObjectPtr m_failedPart;   // what failed in the latest sink that failed
    bool m_sinkFailed = false;
    GstElement* m_queue = nullptr;
    guint m_bitrate = 0;
    QString m_missingFormat;     // a decoder GStreamer looked for and did not find
};
