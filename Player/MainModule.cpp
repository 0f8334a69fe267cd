#include "MainModule.h"

#include "Identity.h"
#include "MediaEngine.h"
#include "PlayerForm.h"
#include "RadioPlayer.h"

namespace MainModule {

const char* const PlayerWindowClass = Identity::PlayerProgram;

namespace {
constexpr int TitleBufferLength = 261;
} // namespace

bool TitleContains(const QByteArray& title, const QString& text)
{
    const QByteArray buffer = title.left(TitleBufferLength - 1);
    return QString::fromUtf8(buffer.left(qstrnlen(buffer.constData(), buffer.size())))
        .contains(text, Qt::CaseInsensitive);
}

std::uint32_t FindWindowByTitle(const QString& title, const std::vector<TopLevelWindow>& windows)
{
    for (const TopLevelWindow& window : windows)
        if (window.wmClass == PlayerWindowClass && TitleContains(window.title, title))
            return window.id;
    return 0;
}

RunningPlayer::RunningPlayer() = default;
RunningPlayer::RunningPlayer(RunningPlayer&&) noexcept = default;
RunningPlayer::~RunningPlayer() = default;

std::optional<RunningPlayer> Main(const StationConfig& config)
{
    const QString title = QString::fromUtf8(Identity::PlayerName);
    if (const std::uint32_t running = FindWindowByTitle(title, ListTopLevelWindows())) {
        RequestShow(running);
        return std::nullopt;
    }
    EngineOptions engine;
    engine.audioSink = config.audioSink;
    engine.caFile = config.streamCa;
    engine.proxies = config.proxies;
    engine.userAgent = QByteArray(Identity::PlayerProgram) + '/' + Identity::PlayerVersion;
    engine.secure = config.streamBase.startsWith(QLatin1String("https:"), Qt::CaseInsensitive);
    RunningPlayer running;
    running.player = std::make_unique<RadioPlayer>(std::make_unique<MediaEngine>(std::move(engine)), config);
    running.form = std::make_unique<PlayerForm>(*running.player);
    running.form->Load(); // which shows the window
    return running;
}

} // namespace MainModule
