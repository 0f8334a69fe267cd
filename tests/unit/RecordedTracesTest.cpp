// Message sequences recorded from real pipelines (sonvale-engine-bench with
// GST_DEBUG=GST_BUS:5: the posts on each playbin's own bus, times in ms)
// replayed through the connection's reading of its bus and the policy, as the
// engine would: no pipeline runs, the clock is the trace's. What each trace
// shows is what the engine did next, step by step.
//
// Left out of the traces: messages no reading looks at (stream status,
// latency, clocks, structure changes, the HTTP headers' element message,
// every element's state but the pipeline's), and what the policy's teardown
// made the old pipeline say (its way down to NULL, a last buffering).
#include "ConnectionPolicy.h"
#include "PipelineMessages.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// A pipeline's parts, made and never started: what the messages come from.
// The sink is a bin, as the desktop's output is, with the part that does
// the work inside.
struct Pipeline {
    explicit Pipeline(int n)
    {
        const std::string index = std::to_string(n);
        pipeline = Adopt(gst_pipeline_new(("playbin" + index).c_str()));
        source = Adopt(gst_element_factory_make("fakesrc", "source"));
        queue = Adopt(gst_element_factory_make("queue2", ("queue2-" + index).c_str()));
        guard = Adopt(gst_element_factory_make("identity", ("sonvaleoutputguard" + index).c_str()));
        NewSink();
    }
    void NewSink()
    {
        const std::string name = "autoaudiosink" + std::to_string(sinks++);
        sink = Adopt(gst_bin_new(name.c_str()));
        device = gst_element_factory_make("fakesink", (name + "-actual-sink-pulse").c_str());
        gst_bin_add(GST_BIN(sink.get()), device);
    }

    GstElementPtr pipeline, source, queue, guard, sink;
    GstElement* device = nullptr; // owned by sink
    int sinks = 0;
};

GstMessage* StateChanged(Pipeline& p, GstState from, GstState to)
{
    return gst_message_new_state_changed(GST_OBJECT(p.pipeline.get()), from, to, GST_STATE_VOID_PENDING);
}
GstMessage* BufferFill(Pipeline& p, int percent)
{
    return gst_message_new_buffering(GST_OBJECT(p.queue.get()), percent);
}
GstMessage* Bitrate(Pipeline& p, const char* title = nullptr)
{
    GstTagList* tags = gst_tag_list_new(GST_TAG_NOMINAL_BITRATE, 32000u, GST_TAG_BITRATE, 32000u, nullptr);
    if (title)
        gst_tag_list_add(tags, GST_TAG_MERGE_APPEND, GST_TAG_TITLE, title, nullptr);
    return gst_message_new_tag(GST_OBJECT(p.device), tags);
}
GstMessage* Answered(Pipeline& p)
{
    return MakeProbeMessage(ProbeNews::Answered, p.source.get());
}
GstMessage* SourceEnded(Pipeline& p)
{
    return MakeProbeMessage(ProbeNews::SourceEnded, p.source.get());
}
GstMessage* FirstAudio(Pipeline& p)
{
    return MakeProbeMessage(ProbeNews::FirstAudio, p.guard.get());
}
GstMessage* Eos(Pipeline& p)
{
    return gst_message_new_eos(GST_OBJECT(p.pipeline.get()));
}
GstMessage* Error(GstElement* from, GQuark domain, int code, const char* text, GstStructure* details = nullptr)
{
    GError* error = g_error_new_literal(domain, code, text);
    GstMessage* message = gst_message_new_error_with_details(GST_OBJECT(from), error, "recorded", details);
    g_error_free(error);
    return message;
}
// souphttpsrc's, with the status in its details; then its loop's own.
GstMessage* NotFound(Pipeline& p)
{
    return Error(p.source.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, "File Not Found",
        gst_structure_new("details", "http-status-code", G_TYPE_UINT, 404u, nullptr));
}
GstMessage* DataFlowError(Pipeline& p)
{
    return Error(p.source.get(), GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, "Internal data stream error.");
}
// pulsesink's, each time it is asked to write or cork after its server went.
GstMessage* SinkDisconnected(Pipeline& p)
{
    return Error(p.device, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_FAILED, "Disconnected: Connection terminated");
}

using Kind = ConnectionEvent::Kind;

const char* Name(PlayState state)
{
    switch (state) {
    case PlayState::Stopped:
        return "Stopped";
    case PlayState::Paused:
        return "Paused";
    case PlayState::Playing:
        return "Playing";
    case PlayState::Buffering:
        return "Buffering";
    case PlayState::Transitioning:
        return "Transitioning";
    case PlayState::Reconnecting:
        return "Reconnecting";
    default:
        return "?";
    }
}

// The engine around the policy: each connection's pipeline, its bus read as
// the connection reads it, the policy's steps carried out and written down.
class Replay {
public:
    Replay()
        : m_policy(Timings())
    {
        if (!gst_is_initialized())
            gst_init(nullptr, nullptr);
    }

    static EngineTimings Timings()
    {
        EngineTimings timings;
        timings.retryJitterMs = 0;
        return timings;
    }

    // The pipeline of the entry playing now.
    Pipeline& Current() { return *m_pipelines.back(); }
    void OutputBackAt(qint64 ms) { m_outputBackAt = ms; }

    void Play(qint64 ms)
    {
        Advance(ms);
        Do(m_policy.Play(m_now));
    }
    void At(qint64 ms, const ConnectionEvent& event)
    {
        Advance(ms);
        Do(m_policy.Heard(event, m_now));
    }
    void At(qint64 ms, GstMessage* message)
    {
        const GstMessagePtr owned(message);
        Advance(ms);
        // A connection the engine closed says nothing more.
        if (!m_messages)
            return;
        const auto [event, resize] = m_messages->Read(message);
        // The connection sizes its buffer first, then reports.
        std::vector<std::string> did;
        if (resize)
            did.push_back(m_messages->Bitrate() ? "size buffer for " + std::to_string(m_messages->Bitrate()) + " bit/s"
                                                : "size buffer");
        if (event && event->kind == Kind::Title)
            did.push_back("title " + event->title.toStdString());
        if (event && event->kind != Kind::Title)
            Do(m_policy.Heard(*event, m_now), did);
        else
            Write(did);
    }
    void Advance(qint64 ms)
    {
        while (m_wakeAt >= 0 && m_wakeAt <= ms) {
            m_now = m_wakeAt;
            Do(m_policy.WaitEnded(m_now));
        }
        m_now = ms;
    }
    // What the engine did, and when.
    const std::vector<std::string>& Timeline() const { return m_timeline; }

private:
    void Do(const PolicyStep& step, std::vector<std::string> did = {})
    {
        if (step.teardown && m_open) {
            did.push_back("teardown");
            m_open = false;
            m_messages.reset();
        }
        if (step.connect) {
            did.push_back("connect");
            m_open = true;
        }
        if (step.hold)
            did.push_back("hold");
        if (step.release)
            did.push_back("release");
        if (step.playEntry) {
            did.push_back("play " + step.playEntry->path().toStdString());
            m_pipelines.push_back(std::make_unique<Pipeline>(int(m_pipelines.size()) + 1));
            m_messages.emplace(Current().pipeline.get(), Current().sink.get());
        }
        if (step.retireSink && m_messages && m_messages->SinkFailed()) {
            did.push_back("retire sink");
            m_messages->SinkRetired();
        }
        if (step.restoreOutput && m_messages) {
            did.push_back("restore output");
            Current().NewSink();
            m_messages->SinkReplaced(Current().sink.get());
        }
        if (step.settle)
            did.push_back("settle");
        if (step.report) {
            std::string report = Name(*step.report);
            if (step.failure.kind == PlayFailure::Kind::HttpStatus)
                report += " (HTTP " + std::to_string(step.failure.httpStatus) + ")";
            else if (step.failure.kind != PlayFailure::Kind::None)
                report += " (" + step.failure.detail.toStdString() + ")";
            did.push_back(report);
        } else if (step.failure.kind == PlayFailure::Kind::HttpStatus) {
            did.push_back("failed: HTTP " + std::to_string(step.failure.httpStatus));
        } else if (step.failure.kind != PlayFailure::Kind::None) {
            did.push_back("failed: " + step.failure.detail.toStdString());
        }
        m_wakeAt = step.wakeInMs >= 0 ? m_now + step.wakeInMs : -1;
        Write(did);
        // The engine asks the audio server at once; the answer comes back as
        // the next event.
        if (step.probeOutput)
            Do(m_policy.OutputProbed(m_now >= m_outputBackAt, m_now));
    }
    void Write(const std::vector<std::string>& did)
    {
        if (did.empty())
            return;
        std::string line = std::to_string(m_now) + ":";
        for (std::size_t i = 0; i < did.size(); ++i)
            line += (i ? ", " : " ") + did[i];
        m_timeline.push_back(line);
    }

    ConnectionPolicy m_policy;
    qint64 m_now = 0;
    qint64 m_wakeAt = -1;
    qint64 m_outputBackAt = 0;
    bool m_open = false; // a connection: its playlist fetch or its pipeline
    std::vector<std::unique_ptr<Pipeline>> m_pipelines;
    std::optional<PipelineMessages> m_messages;
    std::vector<std::string> m_timeline;
};

const QUrl Velmora32("http://127.77.0.1:8000/velmora32");
const QUrl Silent("http://127.77.0.2:8000/silent");

ConnectionEvent Found(QList<QUrl> entries)
{
    return ConnectionEvent::Found(std::move(entries));
}

} // namespace

TEST(PipelineMessages, ABitrateNamedBeforeTheBufferIsKnownSizesItAtItsFirstFill)
{
    // A burst parsed at once: the parser's tag can reach the bus before the
    // buffer's first fill. Measured in bytes against its whole size until
    // then, the burst would sit below the start mark with nothing more to come.
    Replay r;
    r.Play(0);
    r.At(10, Found({Velmora32}));
    r.At(20, Bitrate(r.Current()));
    r.At(21, BufferFill(r.Current(), 40));
    EXPECT_EQ(r.Timeline(), (std::vector<std::string>{
        "0: connect, Transitioning",
        "10: play /velmora32",
        "21: size buffer for 32000 bit/s, hold, Buffering",
    }));
}

TEST(RecordedTraces, TheSourceDropsMidPlayAndTheMountIsGoneForFiveSeconds)
{
    // A 32 kbit/s mount; scripts/station drop 6 s after play, restore at 12 s.
    Replay r;
    r.Play(0);
    r.At(37, Found({Velmora32}));
    r.At(612, BufferFill(r.Current(), 0));
    r.At(1289, Answered(r.Current()));
    r.At(1292, BufferFill(r.Current(), 26));
    r.At(1304, Bitrate(r.Current()));
    r.At(1304, BufferFill(r.Current(), 100));
    r.At(1304, FirstAudio(r.Current()));
    r.At(1305, StateChanged(r.Current(), GST_STATE_READY, GST_STATE_PAUSED));
    r.At(1309, StateChanged(r.Current(), GST_STATE_PAUSED, GST_STATE_PLAYING));
    r.At(5278, Bitrate(r.Current(), "Unknown - Unknown"));
    r.At(6068, SourceEnded(r.Current()));
    r.At(7602, Eos(r.Current())); // the buffer has played out
    // Each try: the playlist, then the mount's 404 and what follows it.
    for (const qint64 at : {7637, 8732, 9785, 10830}) {
        r.At(at, Found({Velmora32}));
        r.At(at + 13, NotFound(r.Current()));
        r.At(at + 13, DataFlowError(r.Current()));
        r.At(at + 13, SourceEnded(r.Current()));
    }
    r.At(12656, Found({Velmora32}));
    r.At(13031, BufferFill(r.Current(), 0));
    r.At(13732, Answered(r.Current()));
    r.At(13733, BufferFill(r.Current(), 37));
    r.At(13733, BufferFill(r.Current(), 0));
    r.At(13735, BufferFill(r.Current(), 13));
    r.At(13742, Bitrate(r.Current()));
    r.At(13743, FirstAudio(r.Current()));
    r.At(13743, StateChanged(r.Current(), GST_STATE_READY, GST_STATE_PAUSED));
    r.At(13743, BufferFill(r.Current(), 75));
    r.At(14071, BufferFill(r.Current(), 100));
    r.At(14074, StateChanged(r.Current(), GST_STATE_PAUSED, GST_STATE_PLAYING));
    r.Advance(20000);

    EXPECT_EQ(r.Timeline(), (std::vector<std::string>{
        "0: connect, Transitioning",
        "37: play /velmora32",
        "612: size buffer, hold, Buffering",
        "1304: size buffer for 32000 bit/s",
        "1304: release",
        "1309: Playing",
        "4309: settle",
        "5278: title Unknown - Unknown",
        // The outage runs from the server's end of the stream: the first
        // try is due by the time the buffer has played out.
        "7602: teardown, Reconnecting (the stream ended)",
        "7602: connect",
        "7637: play /velmora32",
        "7650: teardown, failed: HTTP 404",
        "8650: connect",
        "8732: play /velmora32",
        "8745: teardown, failed: HTTP 404",
        "9745: connect",
        "9785: play /velmora32",
        "9798: teardown, failed: HTTP 404",
        "10798: connect",
        "10830: play /velmora32",
        "10843: teardown, failed: HTTP 404",
        // Past four seconds of outage, the tries spread out.
        "12543: connect",
        "12656: play /velmora32",
        "13031: size buffer, hold, Buffering",
        "13742: size buffer for 32000 bit/s",
        "14071: release",
        "14074: Playing",
        "17074: settle",
    }));
}

TEST(RecordedTraces, TheStationStallsForHalfAMinuteMidPlay)
{
    // The server's process stopped 5 s after play and continued at 37 s:
    // the connection stays open and nothing comes, nor does the playlist.
    Replay r;
    r.Play(0);
    r.At(42, Found({Velmora32}));
    r.At(695, BufferFill(r.Current(), 0));
    r.At(1399, Answered(r.Current()));
    r.At(1403, BufferFill(r.Current(), 37));
    r.At(1404, BufferFill(r.Current(), 100));
    r.At(1412, Bitrate(r.Current()));
    r.At(1412, FirstAudio(r.Current()));
    r.At(1413, StateChanged(r.Current(), GST_STATE_READY, GST_STATE_PAUSED));
    r.At(1417, StateChanged(r.Current(), GST_STATE_PAUSED, GST_STATE_PLAYING));
    r.At(5359, Bitrate(r.Current(), "Unknown - Unknown"));
    r.At(17924, BufferFill(r.Current(), 0)); // what the socket and the buffer held has played
    r.At(18137, StateChanged(r.Current(), GST_STATE_PLAYING, GST_STATE_PAUSED));
    r.At(36995, Found({Velmora32}));
    r.At(37450, BufferFill(r.Current(), 0));
    r.At(38152, Answered(r.Current()));
    r.At(38153, BufferFill(r.Current(), 37));
    r.At(38153, BufferFill(r.Current(), 75));
    r.At(38153, BufferFill(r.Current(), 100));
    r.At(38173, Bitrate(r.Current()));
    r.At(38173, FirstAudio(r.Current()));
    r.At(38174, StateChanged(r.Current(), GST_STATE_READY, GST_STATE_PAUSED));
    r.At(38177, StateChanged(r.Current(), GST_STATE_PAUSED, GST_STATE_PLAYING));
    r.Advance(42000);

    EXPECT_EQ(r.Timeline(), (std::vector<std::string>{
        "0: connect, Transitioning",
        "42: play /velmora32",
        "695: size buffer, hold, Buffering",
        "1404: release",
        "1412: size buffer for 32000 bit/s",
        "1417: Playing",
        "4417: settle",
        "5359: title Unknown - Unknown",
        // The audio queued behind the empty buffer did not cover the gap.
        "18124: hold, Buffering",
        "28124: teardown, Reconnecting (the stream stalled)",
        "29124: connect",
        "33124: teardown, failed: the playlist did not come in time",
        "34824: connect",
        "36995: play /velmora32",
        "37450: size buffer, hold, Buffering",
        "38153: release",
        "38173: size buffer for 32000 bit/s",
        "38177: Playing",
        "41177: settle",
    }));
}

TEST(RecordedTraces, TheAudioServerIsKilledMidPlayAndIsBackThreeSecondsLater)
{
    // PulseAudio killed 4.3 s after play and started again 3 s later. Its
    // sink says so at every write and cork; the stream waits meanwhile.
    Replay r;
    r.OutputBackAt(8000);
    r.Play(680);
    r.At(688, Found({Velmora32}));
    r.At(1214, BufferFill(r.Current(), 0));
    r.At(1918, Answered(r.Current()));
    r.At(1919, BufferFill(r.Current(), 37));
    r.At(1919, BufferFill(r.Current(), 0));
    r.At(1919, BufferFill(r.Current(), 37));
    r.At(1919, BufferFill(r.Current(), 100));
    r.At(1939, Bitrate(r.Current()));
    r.At(1940, FirstAudio(r.Current()));
    r.At(1940, StateChanged(r.Current(), GST_STATE_READY, GST_STATE_PAUSED));
    r.At(1945, StateChanged(r.Current(), GST_STATE_PAUSED, GST_STATE_PLAYING));
    for (const qint64 at : {4981, 4981, 4982, 4982})
        r.At(at, SinkDisconnected(r.Current()));
    r.At(8273, Bitrate(r.Current()));
    r.At(8273, FirstAudio(r.Current()));
    r.At(8273, StateChanged(r.Current(), GST_STATE_PLAYING, GST_STATE_PAUSED));
    r.At(8275, StateChanged(r.Current(), GST_STATE_PAUSED, GST_STATE_PLAYING));
    r.At(10419, Bitrate(r.Current(), "Unknown - Unknown"));
    r.Advance(14000);

    EXPECT_EQ(r.Timeline(), (std::vector<std::string>{
        "680: connect, Transitioning",
        "688: play /velmora32",
        "1214: size buffer, hold, Buffering",
        "1919: release",
        "1939: size buffer for 32000 bit/s",
        "1945: Playing",
        "4945: settle",
        // Once: the failed sink's later words are not news.
        "4981: retire sink, Reconnecting (no audio output could be opened)",
        // Looked for four times a second; the same connection plays on.
        "8231: restore output",
        "8275: Playing",
        "10419: title Unknown - Unknown",
    }));
}

TEST(RecordedTraces, ARelayThatAcceptsAndNeverAnswersHandsOverToTheNext)
{
    // /wedged.m3u of the tests' HTTP server: /silent, then the station.
    Replay r;
    r.Play(0);
    r.At(43, Found({Silent, Velmora32}));
    r.At(3097, BufferFill(r.Current(), 0));
    r.At(3799, Answered(r.Current()));
    r.At(3799, BufferFill(r.Current(), 37));
    r.At(3799, BufferFill(r.Current(), 0));
    r.At(3802, BufferFill(r.Current(), 37));
    r.At(3802, BufferFill(r.Current(), 100));
    r.At(3815, Bitrate(r.Current()));
    r.At(3816, FirstAudio(r.Current()));
    r.At(3817, StateChanged(r.Current(), GST_STATE_READY, GST_STATE_PAUSED));
    r.At(3820, StateChanged(r.Current(), GST_STATE_PAUSED, GST_STATE_PLAYING));
    r.Advance(10000);

    EXPECT_EQ(r.Timeline(), (std::vector<std::string>{
        "0: connect, Transitioning",
        "43: play /silent",
        "2543: play /velmora32",
        "3097: size buffer, hold, Buffering",
        "3802: release",
        "3815: size buffer for 32000 bit/s",
        "3820: Playing",
        "6820: settle",
    }));
}
