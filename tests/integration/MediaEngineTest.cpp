// The media engine against a real local Icecast station and a misbehaving
// HTTP server. What was played is recorded and its frequency measured:
// /velmora carries 440 Hz, /velmora32 880 Hz.
#include "MediaEngine.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>
#include <map>
#include <gst/gst.h>
#include <gtest/gtest.h>

namespace {

constexpr double HighTone = 440;
constexpr double LowTone = 880;

class EngineProbe {
public:
    explicit EngineProbe(MediaEngine& engine)
        : m_engine(engine)
    {
        m_clock.start();
        QObject::connect(&engine, &MediaPlayer::PlayStateChange, [this](int state) {
            states.push_back(state);
            timeline += std::to_string(state) + " at " + std::to_string(m_clock.elapsed()) + " ms; ";
        });
        QObject::connect(&engine, &MediaEngine::AudioStarted, [this] { ++audioStarts; });
        QObject::connect(&engine, &MediaPlayer::FailureReported, [this](const PlayFailure& why) { failure = why; });
    }
    bool WaitForState(int state, int timeoutMs)
    {
        return WaitUntil([&] { return m_engine.playState() == state; }, timeoutMs);
    }
    std::vector<int> states;
    std::string timeline; // each state and when it came, to tell what a failure was
    int audioStarts = 0;
    PlayFailure failure; // the latest

private:
    MediaEngine& m_engine;
    QElapsedTimer m_clock;
};

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The engine's waits, shortened so that breaks, retries and long pauses are
// seen in seconds; one test keeps the player's own.
EngineTimings ShortTimings()
{
    EngineTimings timings;
    timings.fetchMs = 3000;
    timings.stallMs = 4000;
    timings.retryEarlyMs = 250;
    timings.retryYoungMs = 500;
    timings.retryOldMs = 1000;
    timings.retryJitterMs = 50;
    timings.resumeOnSameConnectionMs = 1500;
    timings.quietReconnectAfterResumeMs = 1500;
    return timings;
}

EngineOptions Options(const QString& sink, const QString& caFile = {}, EngineTimings timings = ShortTimings())
{
    EngineOptions options;
    options.audioSink = sink.toUtf8();
    options.caFile = caFile;
    options.timings = timings;
    return options;
}

class MediaEngineOnStation : public ::testing::Test {
protected:
    static void SetUpTestSuite() { station = new Station(OwnLoopbackAddress(1)); }
    static void TearDownTestSuite()
    {
        delete station;
        station = nullptr;
    }
    void SetUp() override { recording = dir.filePath("played.raw"); }
    EngineOptions Recorded() const { return Options(RecordingSink(recording)); }

    // Plays the address and waits for Playing.
    static void StartPlaying(MediaEngine& engine, EngineProbe& probe, const QString& url)
    {
        engine.setURL(url);
        engine.play();
        ASSERT_TRUE(probe.WaitForState(Playing, 15000)) << url.toStdString();
    }

    // Waits for half a second more of recorded audio and checks which tone it is.
    void ExpectHeard(double tone) const
    {
        const double from = RecordedSeconds(recording);
        ASSERT_TRUE(WaitUntil([&] { return RecordedSeconds(recording) > from + 0.5; }, 10000));
        EXPECT_NEAR(RecordedFrequency(recording, 0.5), tone, 15);
    }

    static Station* station;
    QTemporaryDir dir;
    QString recording;
};
Station* MediaEngineOnStation::station = nullptr;

} // namespace

TEST_F(MediaEngineOnStation, PlaysTheChosenMountThroughItsPlaylistAndStops)
{
    MediaEngine engine(Recorded());
    EngineProbe probe(engine);
    engine.setURL(station->PlaylistUrl("velmora32"));
    EXPECT_EQ(engine.URL(), station->PlaylistUrl("velmora32"));
    EXPECT_TRUE(probe.states.empty()) << "setting the address opens nothing";

    engine.play();
    ASSERT_TRUE(probe.WaitForState(Playing, 15000));
    ASSERT_FALSE(probe.states.empty());
    EXPECT_EQ(probe.states.front(), Transitioning);
    EXPECT_EQ(probe.states.back(), Playing);
    for (int state : probe.states)
        EXPECT_TRUE(state == Transitioning || state == Buffering || state == Playing) << state;
    EXPECT_EQ(probe.audioStarts, 1);

    ASSERT_NO_FATAL_FAILURE(ExpectHeard(LowTone));
    engine.stop();
    EXPECT_EQ(engine.playState(), Stopped);
}

TEST_F(MediaEngineOnStation, AShortPauseResumesTheSameConnection)
{
    MediaEngine engine(Recorded());
    EngineProbe probe(engine);
    ASSERT_NO_FATAL_FAILURE(StartPlaying(engine, probe, station->PlaylistUrl("velmora")));
    const int requests = station->PlaylistRequests("velmora");

    engine.pause();
    EXPECT_EQ(engine.playState(), Paused);
    QTest::qWait(500);
    probe.states.clear();
    engine.play();
    ASSERT_TRUE(probe.WaitForState(Playing, 10000));
    for (int state : probe.states)
        EXPECT_TRUE(state == Buffering || state == Playing) << "resumed without connecting again: " << state;
    EXPECT_EQ(station->PlaylistRequests("velmora"), requests);
    ASSERT_NO_FATAL_FAILURE(ExpectHeard(HighTone));
}

TEST_F(MediaEngineOnStation, ReconnectsWhenTheSourceDropsAndComesBack)
{
    MediaEngine engine(Recorded());
    EngineProbe probe(engine);
    ASSERT_NO_FATAL_FAILURE(StartPlaying(engine, probe, station->PlaylistUrl("velmora32")));

    station->Drop("velmora32");
    ASSERT_TRUE(probe.WaitForState(Reconnecting, 20000));
    station->Restore("velmora32");
    probe.timeline += "source back; ";
    ASSERT_TRUE(probe.WaitForState(Playing, 40000)) << "back to playing once the source returns";
    // A source that has just come back has little burst to give (the time it
    // has been back): playback starts on a short buffer, which must carry it.
    const std::size_t back = probe.states.size();
    QTest::qWait(4000);
    EXPECT_EQ(std::vector<int>(probe.states.begin() + back - 1, probe.states.end()), std::vector<int>{Playing})
        << "no buffering after coming back: " << probe.timeline;
    ASSERT_NO_FATAL_FAILURE(ExpectHeard(LowTone));
    for (int state : probe.states)
        EXPECT_NE(state, Stopped) << "a break never ends in Stopped by itself";

    engine.stop();
    EXPECT_EQ(engine.playState(), Stopped);
}

TEST_F(MediaEngineOnStation, AnAddressThatIsTheStreamItselfIsPlayedDirectly)
{
    MediaEngine engine(Recorded());
    EngineProbe probe(engine);
    ASSERT_NO_FATAL_FAILURE(StartPlaying(engine, probe, QStringLiteral("http://%1:8000/velmora").arg(station->Address())));
    ASSERT_NO_FATAL_FAILURE(ExpectHeard(HighTone));
}

TEST_F(MediaEngineOnStation, TheVolumeScalesWhatIsPlayed)
{
    MediaEngine engine(Recorded());
    EngineProbe probe(engine);
    ASSERT_NO_FATAL_FAILURE(StartPlaying(engine, probe, station->PlaylistUrl("velmora")));
    ASSERT_TRUE(WaitUntil([&] { return RecordedSeconds(recording) > 2; }, 10000));
    const double full = RecordedLoudness(recording);
    engine.setVolume(50); // the slider's cube: an eighth of the amplitude
    const double changedAt = RecordedSeconds(recording);
    ASSERT_TRUE(WaitUntil([&] { return RecordedSeconds(recording) > changedAt + 1.5; }, 10000));
    EXPECT_NEAR(RecordedLoudness(recording) / full, 0.125, 0.03) << full;
}

TEST_F(MediaEngineOnStation, PlaysSteadilyAndKeepsTheStreamsTitle)
{
    // Both mounts at once: the 32 kbit/s one of a station started moments
    // ago holds only a short connect burst.
    MediaEngine engine(Recorded());
    EngineProbe probe(engine);
    const QString lowRecording = dir.filePath("low.raw");
    MediaEngine low(Options(RecordingSink(lowRecording)));
    EngineProbe lowProbe(low);
    low.setURL(station->PlaylistUrl("velmora32"));
    low.play();
    ASSERT_NO_FATAL_FAILURE(StartPlaying(engine, probe, station->PlaylistUrl("velmora")));
    QString title;
    QObject::connect(&engine, &MediaPlayer::TitleChanged, [&](const QString& t) { title = t; });
    station->SetTitle("velmora", "Morning Tones");
    EXPECT_TRUE(WaitUntil([&] { return title == "Morning Tones"; }, 15000)) << title.toStdString();
    // Past the moment the network buffer takes its steady size (3 s in).
    ASSERT_TRUE(WaitUntil([&] { return RecordedSeconds(recording) > 8 && RecordedSeconds(lowRecording) > 8; }, 25000));
    for (const EngineProbe* played : {&probe, &lowProbe}) {
        const std::vector<int> afterStart(
            std::find(played->states.begin(), played->states.end(), int(Playing)), played->states.end());
        EXPECT_EQ(afterStart, std::vector<int>{Playing}) << "no buffering once playing, title change and steady buffer included";
    }
    EXPECT_NEAR(RecordedFrequency(lowRecording, 0.5), LowTone, 15);
    station->SetTitle("velmora", "");
    EXPECT_TRUE(WaitUntil([&] { return title.isEmpty(); }, 15000)) << "an empty title (a jingle, an ad) clears the last one";
}

TEST(MediaEngineFailures, EveryBadAddressEndsInStoppedWithinTheFirstPlayWindowWithItsReason)
{
    const QString address = OwnLoopbackAddress(2);
    HttpFixture fixture(address, 8000);
    const QStringList addresses = {
        "http://sonvale-no-such-host.invalid:8000/velmora.m3u",
        QStringLiteral("http://%1:9/velmora.m3u").arg(address), // refused
        fixture.Url("/missing.m3u"),
        fixture.Url("/silent"),
        fixture.Url("/empty.m3u"),
        fixture.Url("/page.m3u"),
        fixture.Url("/binary.m3u"),
        fixture.Url("/relative.m3u"),
        fixture.Url("/loop"),
        fixture.Url("/image.m3u"),
        fixture.Url("/extended.m3u"),
        fixture.Url("/headers-without-end.m3u"),
        fixture.Url("/oversized-headers.m3u"),
        fixture.Url("/endless-chunked.m3u"),
        fixture.Url("/bomb.m3u"),
        fixture.Url("/trickle.m3u"),
        fixture.Url("/noise.mp3"),
        fixture.Url("/full.m3u"),
        fixture.Url("/aac"),
    };
    using Kind = PlayFailure::Kind;
    struct Reason {
        Kind kind;
        int status = 0;
        QString format = {};
    };
    const std::map<QString, Reason> reasons = {
        {addresses[0], {Kind::Unreachable}},
        {addresses[1], {Kind::Unreachable}},
        {fixture.Url("/missing.m3u"), {Kind::HttpStatus, 404}},
        {fixture.Url("/extended.m3u"), {Kind::HttpStatus, 404}}, // the stream's own reply
        {fixture.Url("/full.m3u"), {Kind::HttpStatus, 403}},
        {fixture.Url("/page.m3u"), {Kind::NotAudio}},
        {fixture.Url("/empty.m3u"), {Kind::NoStream}},
        {fixture.Url("/relative.m3u"), {Kind::HttpStatus, 404}}, // its entry resolved against it
        {fixture.Url("/bomb.m3u"), {Kind::NotAudio}},
        {fixture.Url("/aac"), {Kind::NoDecoder, 0, "MPEG-4 AAC"}},
    };
    std::vector<std::unique_ptr<MediaEngine>> engines;
    std::vector<std::unique_ptr<EngineProbe>> probes;
    // A shorter first-play window than the player's (whose 15 s the policy's
    // own tests hold it to), still long enough for a retry of every kind.
    EngineTimings timings;
    timings.firstPlayWindowMs = 6000;
    timings.fetchMs = 2500;
    for (const QString& url : addresses) {
        engines.push_back(std::make_unique<MediaEngine>(Options("fakesink", {}, timings)));
        probes.push_back(std::make_unique<EngineProbe>(*engines.back()));
        engines.back()->setURL(url);
    }

    // No AAC decoder, as on a machine without one: the reason names the format.
    std::vector<std::pair<GstPluginFeature*, guint>> aacDecoders;
    for (const char* name : {"avdec_aac", "avdec_aac_fixed", "avdec_aac_latm", "faad", "fdkaacdec"}) {
        if (GstPluginFeature* decoder = gst_registry_lookup_feature(gst_registry_get(), name)) {
            aacDecoders.emplace_back(decoder, gst_plugin_feature_get_rank(decoder));
            gst_plugin_feature_set_rank(decoder, GST_RANK_NONE);
        }
    }
    const double cpuBefore = ProcessCpuSeconds();
    QElapsedTimer clock, tick;
    qint64 longestGap = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, tick.restart());
    });
    clock.start();
    tick.start();
    heartbeat.start(20);
    for (auto& engine : engines)
        engine->play();
    const bool allStopped = WaitUntil([&] {
        return std::all_of(engines.begin(), engines.end(), [](auto& e) { return e->playState() == Stopped; });
    }, timings.firstPlayWindowMs + 2000);
    const qint64 elapsed = clock.elapsed();
    heartbeat.stop();
    for (auto [decoder, rank] : aacDecoders) {
        gst_plugin_feature_set_rank(decoder, rank);
        gst_object_unref(decoder);
    }
    const double cpu = ProcessCpuSeconds() - cpuBefore;

    for (std::size_t i = 0; i < engines.size(); ++i) {
        SCOPED_TRACE(addresses[int(i)].toStdString());
        EXPECT_EQ(engines[i]->playState(), Stopped);
        ASSERT_FALSE(probes[i]->states.empty());
        EXPECT_EQ(probes[i]->states.front(), Transitioning);
        for (int state : probes[i]->states)
            EXPECT_NE(state, Playing);
        if (const auto reason = reasons.find(addresses[int(i)]); reason != reasons.end()) {
            const PlayFailure& failure = probes[i]->failure;
            EXPECT_EQ(failure.kind, reason->second.kind) << failure.detail.toStdString();
            EXPECT_EQ(failure.httpStatus, reason->second.status);
            EXPECT_TRUE(failure.format.contains(reason->second.format)) << failure.format.toStdString();
        }
    }
    clock.restart();
    engines.clear();
    const qint64 quitting = clock.elapsed();
    EXPECT_TRUE(allStopped);
    EXPECT_LE(elapsed, timings.firstPlayWindowMs + 1000);
    EXPECT_LT(longestGap, 1000) << "the UI thread was blocked";
    EXPECT_LT(cpu, 6.0) << "servers that push without end cost bounded work";
    EXPECT_LT(quitting, 1000) << "nothing is left running after Stopped";
}

TEST(MediaEngineFormats, PlaysAnAacStreamAndALiveHlsStation)
{
    // The HLS station: its media playlist itself (the first request starts
    // its encoder: the first try may find nothing yet), behind a master
    // playlist, and named by a station's playlist.
    const QString address = OwnLoopbackAddress(19);
    HttpFixture fixture(address, 8000);
    for (const char* path : {"/aac-lc", "/hls/live.m3u8", "/hls/master.m3u8", "/hls.m3u"}) {
        SCOPED_TRACE(path);
        QTemporaryDir dir;
        const QString recording = dir.filePath("played.raw");
        MediaEngine engine(Options(RecordingSink(recording)));
        EngineProbe probe(engine);
        engine.setURL(fixture.Url(path));
        engine.play();
        ASSERT_TRUE(probe.WaitForState(Playing, 15000)) << probe.failure.detail.toStdString();
        ASSERT_TRUE(WaitUntil([&] { return RecordedSeconds(recording) > 1; }, 10000));
        EXPECT_NEAR(RecordedFrequency(recording, 0.5), 660, 15);
    }
}

TEST(MediaEngineFormats, AnHlsStationWithoutItsDemuxerSaysWhatIsMissing)
{
    // Run by integration_no_hls_demuxer, whose GStreamer ranks the HLS
    // demuxer out of use, as a machine without it would be.
    if (!qgetenv("GST_PLUGIN_FEATURE_RANK").contains("hlsdemux:NONE"))
        GTEST_SKIP() << "for a GStreamer without its HLS demuxer";
    HttpFixture fixture(OwnLoopbackAddress(19), 8000);
    MediaEngine engine(Options(QByteArray("fakesink")));
    EngineProbe probe(engine);
    engine.setURL(fixture.Url("/hls.m3u"));
    engine.play();
    ASSERT_TRUE(probe.WaitForState(Stopped, 15000));
    EXPECT_EQ(probe.failure.kind, PlayFailure::Kind::NoDecoder) << probe.failure.detail.toStdString();
    EXPECT_FALSE(probe.failure.format.isEmpty());
}

TEST(MediaEngineStart, AShortBurstStartsPlaybackWithNothingMoreToCome)
{
    // What a mount sends a new listener just after its source came back: 2 s
    // of a slow stream at once, then nothing for a while. Audio the output's
    // own queue takes in must not be waited for again in the network buffer,
    // nor the burst's bytes go uncounted before the decoder names the bitrate:
    // either way playback would wait for data that is not coming.
    const QString address = OwnLoopbackAddress(25);
    HttpFixture fixture(address, 8000);
    QTemporaryDir dir;
    const QString recording = dir.filePath("played.raw");
    MediaEngine engine(Options(RecordingSink(recording), {}, EngineTimings()));
    EngineProbe probe(engine);
    engine.setURL(fixture.Url("/burst"));
    engine.play();
    // The player's own timings: the connection is given up only after 10 s.
    ASSERT_TRUE(probe.WaitForState(Playing, 9000)) << "still " << engine.playState();
    EXPECT_EQ(probe.audioStarts, 1) << "on the first connection";
    ASSERT_TRUE(WaitUntil([&] { return RecordedSeconds(recording) > 0.6; }, 3000));
    EXPECT_NEAR(RecordedFrequency(recording, 0.5), LowTone, 15);
}

TEST(MediaEngineOverHttps, PlaysAStationThatProvesItselfAndRefusesOneThatDoesNot)
{
    const QString address = OwnLoopbackAddress(11);
    TestCertificates certificates;
    certificates.Issue("station", address);
    Station station(address, certificates.Combined("station"));
    QTemporaryDir dir;
    const QString recording = dir.filePath("played.raw");
    // Icecast 2.4 lists its streams as http even on its https port, so the
    // stream's own https address is played.
    const QString url = "https://" + address + ":8443/velmora32";
    for (const bool trusted : {true, false}) {
        SCOPED_TRACE(trusted ? "the station's CA is named" : "no CA names the station");
        MediaEngine engine(Options(RecordingSink(recording), trusted ? certificates.Authority() : QString()));
        EngineProbe probe(engine);
        engine.setURL(url);
        engine.play();
        if (trusted) {
            ASSERT_TRUE(probe.WaitForState(Playing, 20000));
            ASSERT_TRUE(WaitUntil([&] { return RecordedSeconds(recording) > 0.5; }, 10000));
            EXPECT_NEAR(RecordedFrequency(recording, 0.5), LowTone, 15);
        } else {
            EXPECT_TRUE(probe.WaitForState(Stopped, 12000));
            EXPECT_EQ(std::count(probe.states.begin(), probe.states.end(), int(Playing)), 0);
        }
        engine.stop();
    }
}

TEST_F(MediaEngineOnStation, PlaysByHostNameThroughAStockProxyWithAndWithoutAPasswordAndSaysWhenItRefuses)
{
    // The station's name resolves for the proxies alone: what plays came through them.
    const QMap<QString, QString> hosts = {{"radio.test", station->Address()}};
    ProxyServer open(OwnLoopbackAddress(13), hosts);
    ProxyServer guarded(OwnLoopbackAddress(14), hosts, "listener", "velmora pass");
    const QString url = "http://radio.test:8000/velmora32.m3u";
    for (const QString& proxy : {open.Url(), guarded.Url(true)}) {
        SCOPED_TRACE(proxy.toStdString());
        EngineOptions options = Recorded();
        options.proxies.http = QUrl(proxy);
        MediaEngine engine(options);
        EngineProbe probe(engine);
        ASSERT_NO_FATAL_FAILURE(StartPlaying(engine, probe, url));
        ASSERT_NO_FATAL_FAILURE(ExpectHeard(LowTone));
        engine.stop();
    }
    for (const ProxyServer* proxy : {&open, &guarded}) {
        // Squid writes a request's line once the transaction has ended on its side too.
        const auto log = [proxy] { return proxy->Log().join('\n'); };
        EXPECT_TRUE(WaitUntil([&] { return log().contains("GET http://radio.test:8000/velmora32 "); }, 5000))
            << "the stream too: " << log().toStdString();
        EXPECT_TRUE(log().contains("GET http://radio.test:8000/velmora32.m3u")) << log().toStdString();
        EXPECT_FALSE(log().contains("CONNECT")) << "plain http is forwarded, never tunnelled";
    }

    // Without the password, or with no proxy running: the proxy is the problem, not the station.
    EngineTimings quick = ShortTimings();
    quick.firstPlayWindowMs = 3000;
    for (const QString& proxy : {guarded.Url(false), QStringLiteral("http://%1:9").arg(OwnLoopbackAddress(15))}) {
        SCOPED_TRACE(proxy.toStdString());
        EngineOptions options = Options("fakesink", {}, quick);
        options.proxies.http = QUrl(proxy);
        MediaEngine engine(options);
        EngineProbe probe(engine);
        engine.setURL(url);
        engine.play();
        ASSERT_TRUE(probe.WaitForState(Stopped, 10000));
        EXPECT_EQ(probe.failure.kind, PlayFailure::Kind::Proxy) << probe.failure.detail.toStdString();
    }
}

TEST_F(MediaEngineOnStation, TriesAPlaylistsEntriesInOrderPastDeadRelaysAndReadsAHugeOneOnlyToItsFirstEntries)
{
    HttpFixture fixture(OwnLoopbackAddress(18), 8000);
    const QString stream = QStringLiteral("http://%1:8000/velmora32").arg(station->Address());
    // A dead relay and a relative entry that answers 404 before the one that
    // plays. (A wedged relay, one that accepts and never answers, is a
    // recorded trace of the unit tests.)
    for (const char* path : {"/relays.m3u", "/huge.m3u"}) {
        SCOPED_TRACE(path);
        MediaEngine engine(Recorded());
        EngineProbe probe(engine);
        ASSERT_NO_FATAL_FAILURE(
            StartPlaying(engine, probe, fixture.Url(path) + "?to=" + QUrl::toPercentEncoding(stream)));
        ASSERT_NO_FATAL_FAILURE(ExpectHeard(LowTone));
        engine.stop();
    }
}
