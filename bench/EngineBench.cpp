// Plays one address with the media engine for a while and prints, as
// "key value" lines on stdout, the monotonic times (seconds) of its start,
// of play, of state 3 and of the first audio sample.
// Usage: sonvale-engine-bench URL SECONDS [PLAY_AFTER_MS]
// (a listener presses play a while after the player started: PLAY_AFTER_MS)
#include "MediaEngine.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {
double Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}
} // namespace

int main(int argc, char** argv)
{
    const double started = Now();
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    std::printf("started %.6f\n", started);
    EngineOptions options;
    options.audioSink = qgetenv("SONVALE_AUDIO_SINK");
    MediaEngine engine(options);
    engine.setURL(QString::fromLocal8Bit(argv[1]));
    QObject::connect(&engine, &MediaPlayer::PlayStateChange, [](int state) {
        if (state == Playing)
            std::printf("playing %.6f\n", Now());
        std::printf("state-%d %.6f\n", state, Now());
        std::fflush(stdout);
    });
    QObject::connect(&engine, &MediaPlayer::FailureReported, [](const PlayFailure& why) {
        std::printf("failure %.6f kind %d, HTTP %d: %s\n", Now(), int(why.kind), why.httpStatus, qPrintable(why.detail));
        std::fflush(stdout);
    });
    QObject::connect(&engine, &MediaEngine::AudioStarted, [] {
        std::printf("first-audio %.6f\n", Now());
        std::fflush(stdout);
    });
    QTimer::singleShot(argc > 3 ? std::atoi(argv[3]) : 0, [&] {
        std::printf("play %.6f\n", Now());
        engine.play();
    });
    QTimer::singleShot(int(std::atof(argv[2]) * 1000), &app, &QCoreApplication::quit);
    const int code = app.exec();
    engine.stop();
    std::fflush(stdout);
    return code;
}
