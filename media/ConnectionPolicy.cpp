#include "ConnectionPolicy.h"

#include <algorithm>

namespace {

// Failures that another try of the same play cannot mend.
bool Lasting(const PlayFailure& failure)
{
    using Kind = PlayFailure::Kind;
    return failure.kind == Kind::Certificate || failure.kind == Kind::NotAudio || failure.kind == Kind::NoStream
        || failure.kind == Kind::NoDecoder;
}

PlayFailure Unreachable(const char* detail)
{
    return {PlayFailure::Kind::Unreachable, 0, {}, QString::fromLatin1(detail)};
}

} // namespace

ConnectionPolicy::ConnectionPolicy(const EngineTimings& timings, unsigned seed)
    : m_timings(timings)
    , m_random(seed)
{
}

int ConnectionPolicy::RetryDelayMs(qint64 ageMs, const EngineTimings& timings)
{
    if (ageMs < timings.retryEarlyForMs)
        return timings.retryEarlyMs;
    return ageMs < timings.retryYoungForMs ? timings.retryYoungMs : timings.retryOldMs;
}

void ConnectionPolicy::Report(PolicyStep& step, PlayState state)
{
    if (state == m_state)
        return;
    m_state = state;
    step.report = state;
}

PolicyStep ConnectionPolicy::Done(PolicyStep step, qint64 now) const
{
    step.wakeInMs = m_deadline ? std::max<qint64>(0, *m_deadline - now) : -1;
    return step;
}

void ConnectionPolicy::ResetConnection()
{
    m_connection = {};
}

PolicyStep ConnectionPolicy::Play(qint64 now)
{
    switch (m_state) {
    case PlayState::Playing:
    case PlayState::Buffering:
    case PlayState::Transitioning:
    case PlayState::Reconnecting:
        return Done({}, now); // already on its way
    default:
        break;
    }
    if (m_state == PlayState::Paused && m_connection.held && now - m_pausedAt.value_or(now) < m_timings.resumeOnSameConnectionMs) {
        // The same connection goes on; Playing again once the pipeline runs.
        m_resumedAt = now;
        m_connection.held = false;
        m_phase = Phase::Connecting;
        m_deadline = now + m_timings.stallMs;
        PolicyStep step;
        step.release = true;
        return Done(step, now);
    }
    m_played = false;
    m_windowEnd = now + m_timings.firstPlayWindowMs;
    m_resumedAt.reset();
    m_outageSince = now;
    return Attempt(now);
}

qint64 ConnectionPolicy::TryDeadline(qint64 at) const
{
    // A first play's tries end with its window.
    return m_played ? at : std::min(at, m_windowEnd);
}

PolicyStep ConnectionPolicy::Attempt(qint64 now)
{
    PolicyStep step;
    step.teardown = true;
    step.connect = true;
    ResetConnection();
    m_entries.clear();
    m_entry = -1;
    m_tryFailure = {};
    m_phase = Phase::Resolving;
    m_pausedAt.reset();
    if (!m_played)
        Report(step, PlayState::Transitioning);
    m_deadline = TryDeadline(now + m_timings.fetchMs);
    return Done(step, now);
}

PolicyStep ConnectionPolicy::Heard(const ConnectionEvent& event, qint64 now)
{
    using Kind = ConnectionEvent::Kind;
    switch (event.kind) {
    case Kind::EntriesFound:
        return EntriesFound(event.entries, now);
    case Kind::Answered:
        return Answered(now);
    case Kind::FirstAudio:
        // Audio that goes nowhere (no sound card, no server) is no output.
        return event.realOutput ? AudioReachedOutput(now) : OutputLost(now);
    case Kind::PipelinePlaying:
        return PipelinePlaying(now);
    case Kind::BufferLevel:
        return BufferLevel(event.percent, now);
    case Kind::SourceEnded:
        return SourceEnded(now);
    case Kind::Broke:
        return Broke(event.failure, now);
    case Kind::SinkFailed:
        return OutputLost(now);
    case Kind::Title:
        break;
    }
    return Done({}, now);
}

PolicyStep ConnectionPolicy::EntriesFound(const QList<QUrl>& entries, qint64 now)
{
    if (m_phase != Phase::Resolving || entries.isEmpty())
        return Done({}, now);
    m_entries = entries;
    return PlayEntry(0, now);
}

PolicyStep ConnectionPolicy::PlayEntry(int index, qint64 now)
{
    PolicyStep step;
    ResetConnection();
    m_entry = index;
    m_phase = Phase::Connecting;
    step.playEntry = m_entries.at(index);
    m_deadline = TryDeadline(now + m_timings.entryAnswerMs);
    return Done(step, now);
}

PolicyStep ConnectionPolicy::EntryFailed(const PlayFailure& why, qint64 now)
{
    // A passing reason says more of the try than a lasting one: another
    // entry may well play later.
    if (m_tryFailure.kind == PlayFailure::Kind::None || Lasting(m_tryFailure) || !Lasting(why))
        m_tryFailure = why;
    // Stations list their relays in order: one that fails before it played
    // hands over to the next.
    if (m_entry + 1 < m_entries.size())
        return PlayEntry(m_entry + 1, now);
    return Failed(m_tryFailure, now);
}

PolicyStep ConnectionPolicy::Answered(qint64 now)
{
    if (m_phase != Phase::Connecting || m_connection.answered || m_connection.audioSeen)
        return Done({}, now);
    m_connection.answered = true;
    m_deadline = TryDeadline(now + m_timings.entryAudioMs);
    return Done({}, now);
}

PolicyStep ConnectionPolicy::Pause(qint64 now)
{
    PolicyStep step;
    if (m_state == PlayState::Playing || m_state == PlayState::Buffering) {
        step.hold = true;
        m_connection.held = true;
        m_connection.pipelinePlaying = false;
        m_connection.filling = false;
        m_pausedAt = now;
    } else if (m_state == PlayState::Transitioning || m_state == PlayState::Reconnecting) {
        step.teardown = true;
        ResetConnection();
    } else {
        return Done(step, now);
    }
    m_phase = Phase::Paused;
    m_deadline.reset();
    Report(step, PlayState::Paused);
    return Done(step, now);
}

PolicyStep ConnectionPolicy::Drop(qint64 now, PlayState state)
{
    PolicyStep step;
    step.teardown = true;
    ResetConnection();
    m_phase = Phase::Idle;
    m_deadline.reset();
    m_played = false;
    m_entries.clear();
    m_pausedAt.reset();
    m_resumedAt.reset();
    m_outputLostAt.reset();
    Report(step, state);
    return Done(step, now);
}

PolicyStep ConnectionPolicy::Stop(qint64 now)
{
    return Drop(now, PlayState::Stopped);
}

PolicyStep ConnectionPolicy::AddressChanged(qint64 now)
{
    return Active() ? Drop(now, PlayState::Ready) : Done({}, now);
}

PolicyStep ConnectionPolicy::AudioReachedOutput(qint64 now)
{
    if (m_phase != Phase::Connecting || m_connection.audioSeen)
        return Done({}, now);
    m_connection.audioSeen = true;
    m_connection.answered = true;
    m_outputLostAt.reset();
    // The connection works: from here its time only guards against
    // buffering that never completes.
    m_deadline = now + m_timings.stallMs;
    return MaybePlaying(now);
}

PolicyStep ConnectionPolicy::PipelinePlaying(qint64 now)
{
    if (m_phase != Phase::Connecting && m_phase != Phase::Refilling)
        return Done({}, now);
    m_connection.pipelinePlaying = true;
    return MaybePlaying(now);
}

PolicyStep ConnectionPolicy::MaybePlaying(qint64 now)
{
    PolicyStep step;
    // Playing means audio is flowing, not merely that the pipeline runs: a
    // stream without audio never gets here and its try runs out.
    const bool waiting = m_phase == Phase::Connecting || m_phase == Phase::Refilling;
    if (!waiting || !m_connection.audioSeen || !m_connection.pipelinePlaying || m_connection.filling)
        return Done(step, now);
    m_phase = Phase::Playing;
    m_played = true;
    // The try is over: a break from here on is a new outage.
    m_entries.clear();
    m_entry = -1;
    // A pause or a stall before the buffer settled starts its wait anew.
    if (!m_connection.settled)
        m_connection.settleAt = now + m_timings.settleMs;
    m_deadline = m_connection.settleAt;
    Report(step, PlayState::Playing);
    return Done(step, now);
}

PolicyStep ConnectionPolicy::Hold(qint64 now, PolicyStep step)
{
    step.hold = true;
    m_connection.filling = true;
    m_connection.pipelinePlaying = false;
    if (m_phase == Phase::Refilling)
        m_deadline = now + m_timings.stallMs;
    Report(step, PlayState::Buffering);
    return Done(step, now);
}

PolicyStep ConnectionPolicy::BufferLevel(int percent, qint64 now)
{
    const bool low = percent < 100;
    switch (m_phase) {
    case Phase::Connecting:
    case Phase::Refilling:
        if (low && !m_connection.filling)
            return Hold(now, {});
        if (!low && m_connection.filling) {
            m_connection.filling = false;
            PolicyStep step;
            step.release = true;
            return Done(step, now);
        }
        break;
    // While playing, only an empty buffer is a dip, and audio coming in
    // again ends it: the buffer refills to its start mark only after a
    // hold, and a stream that started on no more than that mark never
    // holds much more, so waiting for the mark would hold it for nothing.
    case Phase::Playing:
        if (percent == 0) {
            // Played on: the audio queued behind the buffer may cover it.
            m_phase = Phase::Dipping;
            m_deadline = now + m_timings.outputQueueMs;
        }
        break;
    case Phase::Dipping:
        if (percent > 0) {
            m_phase = Phase::Playing;
            m_deadline = m_connection.settleAt;
        }
        break;
    default:
        break;
    }
    return Done({}, now);
}

PolicyStep ConnectionPolicy::SourceEnded(qint64 now)
{
    if (m_phase != Phase::Idle)
        m_connection.sourceEndedAt = now;
    return Done({}, now);
}

PolicyStep ConnectionPolicy::Broke(const PlayFailure& why, qint64 now)
{
    PolicyStep step;
    switch (m_phase) {
    case Phase::Paused:
    case Phase::NoOutput:
        // The server let go of a paused listener, or of one kept for an
        // output: the next play, or the output's return, connects anew.
        step.teardown = true;
        ResetConnection();
        return Done(step, now);
    case Phase::Resolving:
        return Failed(why, now);
    case Phase::Connecting:
    case Phase::Playing:
    case Phase::Dipping:
    case Phase::Refilling:
        break;
    default:
        return Done(step, now);
    }
    if (m_resumedAt && now - *m_resumedAt < m_timings.quietReconnectAfterResumeMs) {
        // Dropped while paused, found at the resume: open the stream anew.
        m_resumedAt.reset();
        m_played = false;
        m_windowEnd = now + m_timings.firstPlayWindowMs;
        m_outageSince = now;
        return Attempt(now);
    }
    if (m_phase == Phase::Connecting)
        return m_connection.audioSeen ? Failed(why, now) : EntryFailed(why, now);
    // It broke while playing: the outage, and the first wait, run from the
    // server's end of the stream, while the buffered audio was still playing.
    m_outageSince = m_connection.sourceEndedAt.value_or(now);
    const qint64 delay = std::max<qint64>(0, m_outageSince + RetryDelayMs(0, m_timings) - now);
    step.teardown = true;
    ResetConnection();
    step.failure = why;
    Report(step, PlayState::Reconnecting);
    return WaitToReconnect(delay, now, step);
}

PolicyStep ConnectionPolicy::Failed(const PlayFailure& why, qint64 now)
{
    PolicyStep step;
    step.teardown = true;
    ResetConnection();
    step.failure = why;
    std::uniform_int_distribution<int> jitter(0, std::max(0, m_timings.retryJitterMs));
    const qint64 delay = RetryDelayMs(now - m_outageSince, m_timings) + jitter(m_random);
    if (m_played) {
        Report(step, PlayState::Reconnecting);
        return WaitToReconnect(delay, now, step);
    }
    // A first play rides out a short outage (a source handing over, a full
    // server) while its window lasts; what another try cannot mend ends it.
    const qint64 shortestTry = m_timings.fetchMs / 4;
    if (!Lasting(why) && now + delay + shortestTry <= m_windowEnd) {
        m_phase = Phase::Waiting;
        m_deadline = now + delay;
        return Done(step, now);
    }
    m_phase = Phase::Idle;
    m_deadline.reset();
    Report(step, PlayState::Stopped);
    return Done(step, now);
}

PolicyStep ConnectionPolicy::WaitToReconnect(qint64 delayMs, qint64 now, PolicyStep step)
{
    m_phase = Phase::Waiting;
    // While the network is known to be down nothing is tried: its return
    // starts the next try.
    if (m_offline)
        m_deadline.reset();
    else
        m_deadline = now + delayMs;
    return Done(step, now);
}

PolicyStep ConnectionPolicy::OutputLost(qint64 now)
{
    PolicyStep step;
    if (m_phase == Phase::Idle)
        return Done(step, now);
    if (m_phase == Phase::Paused) {
        // A paused player stays paused: its held connection goes with the
        // output, and the next play opens the stream anew.
        if (m_connection.held) {
            step.teardown = true;
            ResetConnection();
        }
        return Done(step, now);
    }
    // Like a broken stream, whatever played before: the listener wants
    // sound, and it comes back by itself once there is an output. A
    // connection that played is kept meanwhile, as through a pause: a new
    // one would have to wait for the server's first audio again.
    const bool keep = m_connection.kept
        || (m_connection.audioSeen && (m_phase == Phase::Playing || m_phase == Phase::Dipping || m_phase == Phase::Refilling));
    if (keep) {
        step.retireSink = !m_connection.kept;
        m_connection.pipelinePlaying = false;
        m_connection.filling = false;
        m_connection.kept = true;
    } else {
        step.teardown = true;
        ResetConnection();
    }
    m_played = true;
    m_phase = Phase::NoOutput;
    if (!m_outputLostAt)
        m_outputLostAt = now;
    step.failure = {PlayFailure::Kind::NoOutput, 0, {}, QStringLiteral("no audio output could be opened")};
    Report(step, PlayState::Reconnecting);
    return LookForOutput(now, step);
}

PolicyStep ConnectionPolicy::LookForOutput(qint64 now, PolicyStep step)
{
    // Radio resumes live: kept for longer than a pause is, the connection goes.
    if (m_connection.kept && now - m_outputLostAt.value_or(now) >= m_timings.resumeOnSameConnectionMs) {
        step.teardown = true;
        ResetConnection();
    }
    // One probe at a time: a hanging audio server is not asked again.
    if (!m_probing) {
        step.probeOutput = true;
        m_probing = true;
    }
    const bool early = now - m_outputLostAt.value_or(now) < m_timings.outputProbeFastForMs;
    m_deadline = now + (early ? m_timings.outputProbeMs : m_timings.outputProbeSlowMs);
    return Done(step, now);
}

PolicyStep ConnectionPolicy::OutputProbed(bool available, qint64 now)
{
    m_probing = false;
    if (m_phase != Phase::NoOutput || !available)
        return Done({}, now);
    m_outageSince = now;
    if (!m_connection.kept)
        return Attempt(now);
    // Playing again once the audio reaches the new output.
    PolicyStep step;
    step.restoreOutput = true;
    m_connection.kept = false;
    m_connection.audioSeen = false;
    m_phase = Phase::Connecting;
    m_deadline = now + m_timings.entryAudioMs;
    return Done(step, now);
}

PolicyStep ConnectionPolicy::NetworkReachable(bool reachable, qint64 now)
{
    const bool back = m_offline && reachable;
    m_offline = !reachable;
    const bool waitingToReconnect = m_phase == Phase::Waiting && m_played;
    if (m_offline && waitingToReconnect)
        m_deadline.reset();
    // Back: a waiting reconnect goes at once, its backoff started over.
    if (back && waitingToReconnect) {
        m_outageSince = now;
        return Attempt(now);
    }
    return Done({}, now);
}

PolicyStep ConnectionPolicy::Sleep(bool sleeping, qint64 now)
{
    const bool wanted = m_state == PlayState::Playing || m_state == PlayState::Buffering
        || m_state == PlayState::Transitioning || m_state == PlayState::Reconnecting;
    if (sleeping && wanted) {
        // The connection would not survive the night; the listener's wish does.
        PolicyStep step;
        step.teardown = true;
        ResetConnection();
        m_phase = Phase::Asleep;
        m_played = true;
        m_deadline.reset();
        Report(step, PlayState::Reconnecting);
        return Done(step, now);
    }
    if (!sleeping && m_phase == Phase::Asleep) {
        m_outageSince = now;
        return Attempt(now);
    }
    return Done({}, now);
}

PolicyStep ConnectionPolicy::WaitEnded(qint64 now)
{
    if (!m_deadline || *m_deadline > now)
        return Done({}, now);
    m_deadline.reset();
    PolicyStep step;
    switch (m_phase) {
    case Phase::Resolving:
        return Failed(Unreachable("the playlist did not come in time"), now);
    case Phase::Connecting:
        if (m_connection.audioSeen)
            return Failed(Unreachable("the stream stalled before it played"), now);
        return EntryFailed(m_connection.answered ? Unreachable("the stream sent no audio in time")
                                      : Unreachable("the stream's server did not answer in time"),
            now);
    case Phase::Waiting:
        return Attempt(now);
    case Phase::Playing:
        m_connection.settled = true;
        m_connection.settleAt.reset();
        step.settle = true;
        return Done(step, now);
    case Phase::Dipping:
        // Not covered: hold while the buffer fills, rather than play in gaps.
        m_phase = Phase::Refilling;
        return Hold(now, step);
    case Phase::Refilling:
        return Broke(Unreachable("the stream stalled"), now);
    case Phase::NoOutput:
        return LookForOutput(now, step);
    default:
        return Done(step, now);
    }
}
