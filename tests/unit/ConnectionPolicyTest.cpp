// The connection policy on a fake clock: when the engine connects, waits,
// retries, holds and gives up, and what it tells the listener meanwhile.
#include "ConnectionPolicy.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

namespace {

using Kind = PlayFailure::Kind;

const PlayFailure NotFound{Kind::HttpStatus, 404, {}, "404"};
const PlayFailure Refused{Kind::Unreachable, 0, {}, "refused"};
const QUrl Relay1("http://relay1.example:8000/velmora");
const QUrl Relay2("http://relay2.example:8000/velmora");

// The player's timings without jitter, so that waits can be compared exactly.
EngineTimings Exact()
{
    EngineTimings timings;
    timings.retryJitterMs = 0;
    return timings;
}

// Drives the policy as the engine would, on a clock the test moves.
class Driver {
public:
    explicit Driver(EngineTimings timings = Exact())
        : policy(timings)
    {
    }

    void Do(const PolicyStep& step)
    {
        connects += step.connect;
        teardowns += step.teardown;
        restores += step.restoreOutput;
        holds += step.hold;
        releases += step.release;
        probes += step.probeOutput;
        settles += step.settle;
        if (step.connect)
            connectTimes.push_back(now);
        if (step.playEntry)
            entries.push_back(*step.playEntry);
        retires += step.retireSink;
        if (step.report) {
            states.push_back(*step.report);
            failures.push_back(step.failure);
        }
        wakeAt = step.wakeInMs >= 0 ? now + step.wakeInMs : -1;
    }
    // Moves the clock on by `ms`, waking the policy whenever it asked to be.
    void Advance(qint64 ms)
    {
        const qint64 end = now + ms;
        while (wakeAt >= 0 && wakeAt <= end) {
            now = wakeAt;
            Do(policy.WaitEnded(now));
        }
        now = end;
    }
    // The playlist of the latest connection names these entries.
    void Resolves(const QList<QUrl>& found = {Relay1}) { Do(policy.EntriesFound(found, now)); }
    // The pipeline of the latest connection plays.
    void Plays()
    {
        Resolves();
        Do(policy.Answered(now));
        Do(policy.BufferLevel(0, now));
        Do(policy.BufferLevel(100, now));
        Do(policy.AudioReachedOutput(now));
        Do(policy.PipelinePlaying(now));
    }
    PlayState State() const { return policy.State(); }
    std::vector<qint64> Gaps() const
    {
        std::vector<qint64> gaps;
        for (std::size_t i = 1; i < connectTimes.size(); ++i)
            gaps.push_back(connectTimes[i] - connectTimes[i - 1]);
        return gaps;
    }

    ConnectionPolicy policy;
    qint64 now = 1000;
    qint64 wakeAt = -1;
    int connects = 0, teardowns = 0, holds = 0, releases = 0, probes = 0, settles = 0, restores = 0, retires = 0;
    std::vector<qint64> connectTimes;
    std::vector<QUrl> entries;
    std::vector<PlayState> states;
    std::vector<PlayFailure> failures;
};

void PlayToPlaying(Driver& d)
{
    d.Do(d.policy.Play(d.now));
    d.Plays();
    ASSERT_EQ(d.State(), PlayState::Playing);
}

} // namespace

TEST(ConnectionPolicy, APlayConnectsFillsTheBufferAndPlaysOnlyOnceAudioFlows)
{
    Driver d;
    d.Do(d.policy.Play(d.now));
    EXPECT_EQ(d.connects, 1);
    d.Resolves({Relay1, Relay2});
    EXPECT_EQ(d.entries, std::vector{Relay1}) << "the playlist's first entry first";
    d.Do(d.policy.PipelinePlaying(d.now));
    EXPECT_EQ(d.State(), PlayState::Transitioning) << "a running pipeline without audio is not playing";
    d.Do(d.policy.BufferLevel(10, d.now));
    EXPECT_EQ(d.holds, 1);
    d.Do(d.policy.BufferLevel(100, d.now));
    EXPECT_EQ(d.releases, 1);
    d.Do(d.policy.AudioReachedOutput(d.now));
    d.Do(d.policy.PipelinePlaying(d.now));
    EXPECT_EQ(d.states, (std::vector{PlayState::Transitioning, PlayState::Buffering, PlayState::Playing}));

    d.Do(d.policy.Play(d.now));
    EXPECT_EQ(d.connects, 1) << "play while playing changes nothing";
    d.Advance(3000);
    EXPECT_EQ(d.settles, 1) << "the network buffer takes its steady size once playing has settled";
    EXPECT_EQ(d.entries.size(), 1u);
}

TEST(ConnectionPolicy, EachEntryHasDeadlinesOfItsOwnAndHandsOverToTheNext)
{
    const EngineTimings timings = Exact();
    {
        SCOPED_TRACE("a silent first relay before a good one");
        Driver d;
        d.Do(d.policy.Play(d.now));
        const qint64 pressed = d.now;
        d.Resolves({Relay1, Relay2});
        d.Advance(timings.entryAnswerMs);
        EXPECT_EQ(d.entries, (std::vector{Relay1, Relay2}));
        EXPECT_EQ(d.connects, 1) << "the same try, the playlist not fetched again";
        d.Do(d.policy.Answered(d.now));
        d.Do(d.policy.BufferLevel(100, d.now));
        d.Do(d.policy.AudioReachedOutput(d.now));
        d.Do(d.policy.PipelinePlaying(d.now));
        EXPECT_EQ(d.State(), PlayState::Playing);
        EXPECT_LE(d.now - pressed, 4000) << "audio within 5 s of play, with a second of it to reach the listener";
    }
    {
        SCOPED_TRACE("a relay that answers and sends nothing, one that fails at once; then the backoff");
        Driver d;
        d.Do(d.policy.Play(d.now));
        d.Resolves({Relay1, Relay2});
        d.Do(d.policy.Answered(d.now));
        d.Advance(timings.entryAudioMs - 1);
        EXPECT_EQ(d.entries.size(), 1u) << "an entry that answered has its time to play";
        d.Advance(1);
        EXPECT_EQ(d.entries.size(), 2u);
        d.Do(d.policy.Broke(NotFound, d.now));
        EXPECT_EQ(d.connects, 1);
        EXPECT_EQ(d.failures.size(), 1u) << "still connecting: nothing said yet";
        EXPECT_EQ(d.wakeAt - d.now, timings.retryYoungMs) << "all entries failed: the try has, and waits";
        d.Advance(timings.retryYoungMs);
        EXPECT_EQ(d.connects, 2);
        d.Resolves({Relay1, Relay2});
        EXPECT_EQ(d.entries.back(), Relay1) << "each try walks the entries from the first";
    }
    {
        SCOPED_TRACE("a relay whose format has no decoder before one that fails for now: the play goes on");
        Driver d;
        d.Do(d.policy.Play(d.now));
        d.Resolves({Relay1, Relay2});
        d.Do(d.policy.Broke({Kind::NoDecoder, 0, "MPEG-4 AAC", "no decoder"}, d.now));
        d.Do(d.policy.Broke(Refused, d.now));
        EXPECT_EQ(d.State(), PlayState::Transitioning);
        d.Advance(timings.retryEarlyMs);
        EXPECT_EQ(d.connects, 2);
    }
    {
        SCOPED_TRACE("a playlist that never comes");
        Driver d;
        d.Do(d.policy.Play(d.now));
        d.Advance(timings.fetchMs);
        EXPECT_TRUE(d.entries.empty());
        EXPECT_EQ(d.wakeAt - d.now, timings.retryYoungMs) << "4 s into the outage";
    }
}

TEST(ConnectionPolicy, AFirstPlayRidesOutPassingFailuresForThirtySecondsAndEndsAtOnceOnALastingOne)
{
    {
        SCOPED_TRACE("the mount is back 20 s after play");
        Driver d;
        d.Do(d.policy.Play(d.now));
        const qint64 pressed = d.now;
        while (d.now - pressed < 20000) {
            d.Do(d.policy.Broke(NotFound, d.now));
            d.Advance(d.wakeAt - d.now);
        }
        EXPECT_EQ(d.states, std::vector{PlayState::Transitioning}) << "still connecting between tries";
        d.Plays();
        EXPECT_EQ(d.State(), PlayState::Playing);
    }
    {
        SCOPED_TRACE("a station that refuses to the end");
        Driver d;
        d.Do(d.policy.Play(d.now));
        const qint64 pressed = d.now;
        while (d.State() == PlayState::Transitioning && d.now - pressed < 60000) {
            d.Do(d.policy.Broke(d.connects % 2 ? NotFound : Refused, d.now));
            if (d.wakeAt >= 0)
                d.Advance(d.wakeAt - d.now);
        }
        EXPECT_EQ(d.State(), PlayState::Stopped);
        EXPECT_LE(d.now - pressed, 30000);
        EXPECT_GE(d.now - pressed, 27000) << "the window is used";
        EXPECT_EQ(d.failures.back(), d.connects % 2 ? NotFound : Refused) << "the last try's reason goes with Stopped";
    }
    {
        SCOPED_TRACE("a server that never answers");
        Driver d;
        d.Do(d.policy.Play(d.now));
        d.Advance(40000);
        EXPECT_EQ(d.State(), PlayState::Stopped);
        EXPECT_EQ(d.failures.back().kind, Kind::Unreachable);
    }
    for (const Kind lasting : {Kind::Certificate, Kind::NotAudio, Kind::NoStream, Kind::NoDecoder}) {
        SCOPED_TRACE("what another try cannot mend ends the play at once");
        Driver d;
        d.Do(d.policy.Play(d.now));
        d.Do(d.policy.Broke({lasting, 0, {}, "lasting"}, d.now));
        EXPECT_EQ(d.State(), PlayState::Stopped);
        EXPECT_EQ(d.connects, 1);
        EXPECT_EQ(d.failures.back().kind, lasting);
    }
}

TEST(ConnectionPolicy, ABrokenStreamIsTriedOftenWhileTheOutageIsYoungAndNeverStopsByItself)
{
    {
        Driver d;
        ASSERT_NO_FATAL_FAILURE(PlayToPlaying(d));
        d.Do(d.policy.SourceEnded(d.now));
        d.Advance(400); // the buffer plays out
        d.Do(d.policy.Broke({Kind::Unreachable, 0, {}, "the stream ended"}, d.now));
        EXPECT_EQ(d.State(), PlayState::Reconnecting);
        d.Advance(600);
        EXPECT_EQ(d.connects, 2) << "the first wait runs from the server's end of the stream";
        // The mount is gone: every try answers 404 at once, for ten minutes.
        const qint64 began = d.now - 1000;
        std::vector<qint64> tries;
        while (d.now < began + 600000) {
            tries.push_back(d.now - began);
            d.Do(d.policy.Broke(NotFound, d.now));
            d.Advance(d.wakeAt - d.now);
        }
        EXPECT_EQ(d.State(), PlayState::Reconnecting);
        EXPECT_LE(std::count_if(tries.begin(), tries.end(), [](qint64 at) { return at <= 20000; }), 13)
            << "playlist requests in the first 20 s";
        for (std::size_t i = 1; i < tries.size(); ++i)
            EXPECT_LE(tries[i] - tries[i - 1], tries[i] <= 30000 ? 1700 : 3000) << "a try " << tries[i] << " ms in";
        d.Plays();
        EXPECT_EQ(d.State(), PlayState::Playing);
        d.Do(d.policy.Broke(Refused, d.now));
        d.Advance(1000);
        EXPECT_EQ(d.Gaps().back(), 1000) << "a new break is a young outage again";
    }
    {
        SCOPED_TRACE("jitter");
        EngineTimings timings;
        std::vector<qint64> waits;
        for (unsigned seed = 1; seed <= 20; ++seed) {
            ConnectionPolicy policy(timings, seed);
            policy.Play(0);
            policy.EntriesFound({Relay1}, 0);
            policy.AudioReachedOutput(0);
            policy.PipelinePlaying(0);
            policy.Broke(Refused, 0);
            policy.WaitEnded(1000);
            waits.push_back(policy.Broke(Refused, 10000).wakeInMs);
        }
        for (const qint64 wait : waits) {
            EXPECT_GE(wait, timings.retryYoungMs);
            EXPECT_LE(wait, timings.retryYoungMs + timings.retryJitterMs);
        }
        EXPECT_GT(*std::max_element(waits.begin(), waits.end()), *std::min_element(waits.begin(), waits.end()))
            << "listeners of one station do not return in lockstep";
    }
}

TEST(ConnectionPolicy, TheMachineHoldsReconnectsBackAndReleasesThemAtOnce)
{
    {
        SCOPED_TRACE("the network");
        Driver d;
        ASSERT_NO_FATAL_FAILURE(PlayToPlaying(d));
        d.Do(d.policy.NetworkReachable(false, d.now));
        d.Do(d.policy.Broke(Refused, d.now));
        d.Advance(60000);
        EXPECT_EQ(d.connects, 1) << "nothing is tried while the network is down";
        EXPECT_EQ(d.State(), PlayState::Reconnecting);
        d.Do(d.policy.NetworkReachable(true, d.now));
        EXPECT_EQ(d.connects, 2) << "its return tries at once";
    }
    {
        SCOPED_TRACE("sleep");
        Driver d;
        ASSERT_NO_FATAL_FAILURE(PlayToPlaying(d));
        d.Do(d.policy.Sleep(true, d.now));
        EXPECT_EQ(d.State(), PlayState::Reconnecting);
        d.Advance(60000);
        EXPECT_EQ(d.connects, 1);
        d.Do(d.policy.Sleep(false, d.now));
        EXPECT_EQ(d.connects, 2);
        d.Plays();
        EXPECT_EQ(d.State(), PlayState::Playing);
    }
    {
        SCOPED_TRACE("the audio output");
        EngineTimings timings;
        Driver d(timings);
        ASSERT_NO_FATAL_FAILURE(PlayToPlaying(d));
        d.Do(d.policy.OutputLost(d.now));
        EXPECT_EQ(d.State(), PlayState::Reconnecting);
        EXPECT_EQ(d.failures.back().kind, Kind::NoOutput);
        EXPECT_EQ(d.probes, 1);
        d.Advance(2500);
        EXPECT_EQ(d.probes, 1) << "one probe at a time: a hanging audio server is not asked again";
        d.Do(d.policy.OutputProbed(false, d.now));
        d.Advance(timings.outputProbeMs);
        EXPECT_EQ(d.probes, 2) << "looked for again at the next tick";
        // Each answered at once, for 20 s: often at first, then once a second.
        const qint64 lost = d.now - 2500 - timings.outputProbeMs;
        std::vector<qint64> probed;
        while (d.now < lost + 20000) {
            const int before = d.probes;
            d.Do(d.policy.OutputProbed(false, d.now));
            d.Advance(10);
            if (d.probes > before)
                probed.push_back(d.now - lost);
        }
        ASSERT_GE(probed.size(), 2u);
        for (std::size_t i = 1; i < probed.size(); ++i)
            EXPECT_NEAR(probed[i] - probed[i - 1],
                probed[i - 1] < timings.outputProbeFastForMs ? timings.outputProbeMs : timings.outputProbeSlowMs, 10)
                << "a probe " << probed[i - 1] << " ms after the loss";
        EXPECT_EQ(d.connects, 1);
        d.Do(d.policy.OutputProbed(true, d.now));
        EXPECT_EQ(d.connects, 2) << "an output is back after a long loss: the stream is opened anew, at once";
        d.Plays();
        d.Do(d.policy.OutputLost(d.now));
        d.Do(d.policy.OutputProbed(false, d.now));
        const int before = d.probes;
        d.Advance(timings.outputProbeMs);
        EXPECT_EQ(d.probes, before + 1) << "a new loss is looked for often again";
    }
    {
        SCOPED_TRACE("a short loss of the audio output");
        EngineTimings timings;
        Driver d(timings);
        ASSERT_NO_FATAL_FAILURE(PlayToPlaying(d));
        d.Do(d.policy.OutputLost(d.now));
        EXPECT_EQ(d.State(), PlayState::Reconnecting);
        EXPECT_EQ(d.teardowns, 1) << "only the play's own fresh start";
        d.Do(d.policy.OutputProbed(false, d.now));
        d.Advance(timings.resumeOnSameConnectionMs - 500);
        d.Do(d.policy.OutputProbed(true, d.now));
        EXPECT_EQ(d.retires, 1) << "the failed sink went when it failed";
        EXPECT_EQ(d.restores, 1) << "the kept connection plays on a new output";
        EXPECT_EQ(d.connects, 1);
        EXPECT_EQ(d.State(), PlayState::Reconnecting) << "until the audio reaches it";
        d.Do(d.policy.PipelinePlaying(d.now));
        d.Do(d.policy.AudioReachedOutput(d.now));
        EXPECT_EQ(d.State(), PlayState::Playing);

        d.Do(d.policy.OutputLost(d.now));
        d.Do(d.policy.Broke(Refused, d.now));
        EXPECT_EQ(d.teardowns, 2) << "a kept listener the server let go of is closed";
        d.Do(d.policy.OutputProbed(true, d.now));
        EXPECT_EQ(d.restores, 1);
        EXPECT_EQ(d.connects, 2) << "and the stream opened anew once an output is back";
    }
}

TEST(ConnectionPolicy, APauseKeepsTheConnectionForAWhileThenResumesOnAFreshOne)
{
    EngineTimings timings;
    Driver d(timings);
    ASSERT_NO_FATAL_FAILURE(PlayToPlaying(d));
    d.Do(d.policy.Pause(d.now));
    EXPECT_EQ(d.State(), PlayState::Paused);
    d.Advance(timings.resumeOnSameConnectionMs - 1);
    d.Do(d.policy.Play(d.now));
    EXPECT_EQ(d.connects, 1);
    EXPECT_EQ(d.releases, 2);
    d.Do(d.policy.PipelinePlaying(d.now));
    EXPECT_EQ(d.State(), PlayState::Playing);

    // The server let go of the paused listener: found at the resume, and
    // opened anew as a fresh play.
    d.Do(d.policy.Pause(d.now));
    d.Advance(500);
    d.Do(d.policy.Play(d.now));
    d.Do(d.policy.Broke({Kind::NotAudio, 0, {}, "does not support seeking"}, d.now));
    EXPECT_EQ(d.connects, 2);
    EXPECT_EQ(d.State(), PlayState::Transitioning);
    d.Plays();

    d.Do(d.policy.Pause(d.now));
    d.Advance(timings.resumeOnSameConnectionMs);
    d.Do(d.policy.Play(d.now));
    EXPECT_EQ(d.connects, 3) << "a long pause resumes live, on a fresh connection";
    EXPECT_EQ(d.State(), PlayState::Transitioning);

    // Paused while the first audio filled the buffer, and it went to no real
    // output (or the held sink failed): the player stays paused.
    d.Resolves();
    d.Do(d.policy.BufferLevel(10, d.now));
    d.Do(d.policy.Pause(d.now));
    const int probes = d.probes;
    d.Do(d.policy.OutputLost(d.now));
    d.Do(d.policy.OutputProbed(true, d.now));
    d.Advance(60000);
    EXPECT_EQ(d.State(), PlayState::Paused);
    EXPECT_EQ(d.connects, 3);
    EXPECT_EQ(d.probes, probes);
    d.Do(d.policy.Play(d.now));
    EXPECT_EQ(d.connects, 4) << "the next play opens the stream anew";
}

TEST(ConnectionPolicy, ADipTheQueuedAudioCoversChangesNothingALastingOneHoldsAndThenBreaks)
{
    EngineTimings timings;
    Driver d(timings);
    ASSERT_NO_FATAL_FAILURE(PlayToPlaying(d));
    const auto states = d.states;
    d.Do(d.policy.BufferLevel(0, d.now));
    d.Advance(timings.outputQueueMs - 100);
    d.Do(d.policy.BufferLevel(100, d.now));
    d.Advance(10000);
    // Audio coming in again covers it too, though the buffer is still below
    // its start mark (a stream started without a burst never holds more).
    d.Do(d.policy.BufferLevel(0, d.now));
    d.Advance(timings.outputQueueMs - 100);
    d.Do(d.policy.BufferLevel(40, d.now));
    d.Advance(10000);
    EXPECT_EQ(d.states, states) << "steady play says nothing after Playing";
    EXPECT_EQ(d.holds, 1) << "only the first fill held the pipeline";

    d.Do(d.policy.BufferLevel(0, d.now));
    d.Advance(timings.outputQueueMs);
    EXPECT_EQ(d.State(), PlayState::Buffering) << "not covered: held while it fills";
    EXPECT_EQ(d.holds, 2);
    d.Do(d.policy.BufferLevel(100, d.now));
    d.Do(d.policy.PipelinePlaying(d.now));
    EXPECT_EQ(d.State(), PlayState::Playing);

    d.Do(d.policy.BufferLevel(0, d.now));
    d.Advance(timings.outputQueueMs + timings.stallMs);
    EXPECT_EQ(d.State(), PlayState::Reconnecting) << "buffering that never recovers has broken the stream";
    EXPECT_EQ(d.connects, 1);
    d.Advance(1000);
    EXPECT_EQ(d.connects, 2);
}

TEST(ConnectionPolicy, StopAndANewAddressEndEverythingPending)
{
    Driver d;
    ASSERT_NO_FATAL_FAILURE(PlayToPlaying(d));
    d.Do(d.policy.Broke(Refused, d.now));
    d.Do(d.policy.AddressChanged(d.now));
    EXPECT_EQ(d.State(), PlayState::Ready);
    d.Advance(60000);
    EXPECT_EQ(d.connects, 1) << "no reconnect to the old address";
    d.Do(d.policy.Play(d.now));
    d.Do(d.policy.Pause(d.now));
    EXPECT_EQ(d.State(), PlayState::Paused) << "a pause while connecting drops the connection";
    d.Do(d.policy.Stop(d.now));
    EXPECT_EQ(d.State(), PlayState::Stopped);
    EXPECT_EQ(d.wakeAt, -1);
    d.Do(d.policy.AddressChanged(d.now));
    EXPECT_EQ(d.State(), PlayState::Stopped) << "nothing open: a new address changes nothing";
}
