#pragma once

#include "ConnectionEvent.h"
#include "PlayFailure.h"
#include "PlayState.h"

#include <QList>
#include <QUrl>
#include <optional>
#include <random>

// How long the engine waits for what. The defaults are the player's; tests
// run on shorter ones.
struct EngineTimings {
    // A play from idle that meets only passing failures (refused, HTTP
    // errors, a stream that ends) tries again for this long.
    int firstPlayWindowMs = 30000;
    // One try: the playlist within fetchMs; then each of its entries in turn
    // must answer within entryAnswerMs and play within entryAudioMs after
    // that, or the next entry is tried.
    int fetchMs = 4000;
    int entryAnswerMs = 2500;
    int entryAudioMs = 4000;
    int stallMs = 10000;               // buffering that does not recover has broken the stream
    // The wait before the next try, by the age of the outage: often while it
    // is young (a source handing over, a relay restarting, a full server is
    // back within seconds), spread out later, each with up to retryJitterMs
    // more so that a station's listeners do not all return at once.
    int retryEarlyMs = 1000;
    int retryEarlyForMs = 4000;
    int retryYoungMs = 1700;
    int retryYoungForMs = 30000;
    int retryOldMs = 3000;
    int retryJitterMs = 200;
    // How often a lost audio output is looked for: often at first (an audio
    // server that restarts is back within seconds), then once a second.
    int outputProbeMs = 250;
    int outputProbeFastForMs = 10000;
    int outputProbeSlowMs = 1000;
    // A pause longer than this resumes on a fresh connection: the server may
    // have dropped a listener that stopped reading, and radio resumes live anyway.
    int resumeOnSameConnectionMs = 10000;
    int quietReconnectAfterResumeMs = 5000; // a break this soon after a resume reconnects quietly
    // Decoded audio waiting for the output. The rest waits in the network
    // buffer, where its fill is measured; a dip of that buffer while playing
    // is covered for this long: nothing stops, nothing is said.
    int outputQueueMs = 200;
    int settleMs = 3000;               // playing this long gives the network buffer its steady size
    int bufferBytes = 64 * 1024;       // the network buffer
    int bufferMs = 3000;
    // Playback starts (and restarts after a stall) once the network buffer
    // holds this much beyond what the decoder and the output queue have
    // taken: on a server without a burst, every connect waits for it in real
    // time. Below two of a slow stream's packets, the decoder's first pull
    // empties the buffer again and playback is held anew before it ever starts.
    int startMarkMs = 500;
    int steadyBufferMs = 2000;         // the network buffer once playing has settled
};

// What the engine does after an event. Steps come in this order: tear the
// connection down, open a new one, hold or release the pipeline, look for an
// audio output, give the connection a new one, settle the buffer, report the
// state (with the failure that led to it); and the policy's one wait is
// (re)armed to `wakeInMs`.
struct PolicyStep {
    bool teardown = false;     // close the connection: the playlist fetch and the pipeline
    bool connect = false;      // open a new connection to the address
    bool hold = false;         // pause the pipeline, keeping its connection
    bool release = false;      // let the pipeline play
    std::optional<QUrl> playEntry; // play this entry of the playlist, in place of the one before
    bool probeOutput = false;  // ask whether an audio output can be opened (answer: OutputProbed)
    bool retireSink = false;   // take the failed sink out; the stream waits for a new one
    bool restoreOutput = false; // the connection, kept through its output's loss, plays on a new one
    bool settle = false;       // give the network buffer its steady size
    std::optional<PlayState> report;
    PlayFailure failure;       // why: with Stopped after a play that gave up, with Reconnecting
    qint64 wakeInMs = -1;      // call WaitEnded after this long; below 0: no wait
};

// When the engine connects, waits, retries and gives up, apart from
// GStreamer and from any timer: events go in with the time they happened
// (milliseconds on a monotonic clock), and each answers what to do.
//
// - A try fetches the playlist and plays its entries in order, each with
//   deadlines of its own: one that fails or stays silent hands over to the
//   next. Only when all have failed has the try failed.
// - A play from idle connects (Transitioning); a try that fails for a
//   passing reason is tried again while the first-play window lasts, then
//   the play ends in Stopped with its reason; a lasting one ends it at once.
// - Playing needs the first audio at a real output and the pipeline
//   running; until then the network buffer's fill holds it (Buffering).
// - A stream that breaks after it played is Reconnecting until it plays
//   again, however long that takes. Tries come every second while the
//   outage is young and further apart later (RetryDelayMs), none while the
//   network is down, one at once when it returns.
// - A lost audio output is looked for four times a second, after 10 s once
//   a second. A connection that played keeps through that loss as through
//   a pause, and plays on when an output is back. A paused player stays
//   paused whatever its output does.
// - A pause keeps the connection for a while; a resume after that connects
//   anew. Sleep drops the connection, waking reconnects at once.
class ConnectionPolicy {
public:
    // `seed` drives the retries' jitter.
    explicit ConnectionPolicy(const EngineTimings& timings = {}, unsigned seed = 0);

    PlayState State() const { return m_state; }
    // Whether anything is open, held or awaited (a new address replaces it).
    bool Active() const { return m_phase != Phase::Idle || m_state == PlayState::Paused; }

    // The listener.
    PolicyStep Play(qint64 now);
    PolicyStep Pause(qint64 now);
    PolicyStep Stop(qint64 now);
    PolicyStep AddressChanged(qint64 now);
    // What the connection said, as the events below.
    PolicyStep Heard(const ConnectionEvent& event, qint64 now);
    // The connection.
    PolicyStep EntriesFound(const QList<QUrl>& entries, qint64 now);
    PolicyStep Answered(qint64 now);           // the entry's server sent its first bytes
    PolicyStep AudioReachedOutput(qint64 now); // the first audio of this connection, at a real output
    PolicyStep PipelinePlaying(qint64 now);
    PolicyStep BufferLevel(int percent, qint64 now);
    PolicyStep SourceEnded(qint64 now);        // the server ended the stream; the buffer still plays
    PolicyStep Broke(const PlayFailure& why, qint64 now);
    // The machine: the sink failed, or the first audio went to no real output.
    PolicyStep OutputLost(qint64 now);
    PolicyStep OutputProbed(bool available, qint64 now);
    PolicyStep NetworkReachable(bool reachable, qint64 now);
    PolicyStep Sleep(bool sleeping, qint64 now);
    // The wait last asked for has run out.
    PolicyStep WaitEnded(qint64 now);

    // The wait before the next try in an outage `ageMs` old, before jitter.
    static int RetryDelayMs(qint64 ageMs, const EngineTimings& timings);

private:
    enum class Phase {
        Idle,       // nothing open
        Resolving,  // the playlist is being fetched
        Connecting, // an entry is open and has not played yet (or resumes)
        Playing,
        Dipping,    // playing on while the network buffer fills again
        Refilling,  // held while the network buffer fills again
        Paused,     // held, or (m_held false) its connection dropped
        Waiting,    // for the next try; no wait while the network is down
        NoOutput,   // looking for an audio output
        Asleep,
    };

    PolicyStep Drop(qint64 now, PlayState state);
    PolicyStep Attempt(qint64 now);
    PolicyStep PlayEntry(int index, qint64 now);
    PolicyStep EntryFailed(const PlayFailure& why, qint64 now);
    PolicyStep Failed(const PlayFailure& why, qint64 now);
    qint64 TryDeadline(qint64 at) const;
    PolicyStep WaitToReconnect(qint64 delayMs, qint64 now, PolicyStep step);
    PolicyStep MaybePlaying(qint64 now);
    PolicyStep Hold(qint64 now, PolicyStep step);
    PolicyStep LookForOutput(qint64 now, PolicyStep step);
    void Report(PolicyStep& step, PlayState state);
    PolicyStep Done(PolicyStep step, qint64 now) const;
    void ResetConnection();

    const EngineTimings m_timings;
    std::mt19937 m_random;
    PlayState m_state = PlayState::Undefined;
    Phase m_phase = Phase::Idle;
    std::optional<qint64> m_deadline; // when WaitEnded is due

    bool m_played = false;          // reached Playing since the listener's play
    qint64 m_windowEnd = 0;         // of the first-play tries
    qint64 m_outageSince = 0;       // since when tries have been failing
    // This try.
    QList<QUrl> m_entries;
    int m_entry = -1;               // the one playing or being tried
    PlayFailure m_tryFailure;       // why the try is failing: the latest passing reason, else the latest
    // What is known of the connection open now; a new one starts afresh.
    struct Connection {
        bool answered = false;
        bool audioSeen = false;
        bool pipelinePlaying = false;
        bool filling = false;       // the network buffer below its mark
        bool held = false;          // the pipeline is held with its connection
        bool settled = false;       // the network buffer has its steady size
        bool kept = false;          // kept, waiting for an audio output
        std::optional<qint64> settleAt;
        std::optional<qint64> sourceEndedAt;
    };
    Connection m_connection;
    std::optional<qint64> m_pausedAt;
    std::optional<qint64> m_resumedAt;
    // The machine.
    bool m_offline = false;
    bool m_probing = false;         // an output probe is out
    std::optional<qint64> m_outputLostAt; // until audio reaches an output again
};
