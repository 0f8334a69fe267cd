#include "RadioPlayer.h"

#include "Identity.h"
#include "Logging.h"

namespace {

// The engine's states in which nothing is playing or on its way.
bool EngineIsIdle(PlayState state)
{
    return state == Undefined || state == Stopped || state == MediaEnded || state == Ready;
}

// A stream on its way to the listener counts as playing for the desktop while
// the listener wants it: connecting, buffering and reconnecting included.
Playback PlaybackFor(PlayState state, bool wantsPlayback)
{
    if (state == Paused)
        return Playback::Paused;
    const bool onItsWay = state == Playing || state == Transitioning || state == Buffering || state == Reconnecting;
    return onItsWay && wantsPlayback ? Playback::Playing : Playback::Stopped;
}

} // namespace

QString StatusTextFor(PlayState state, bool highQuality)
{
    switch (state) {
    case Stopped: return QStringLiteral("Stopped");
    case Paused: return QStringLiteral("Paused");
    case Playing: return highQuality ? QStringLiteral("Playing (High Quality)") : QStringLiteral("Playing (Low Quality)");
    case ScanForward: return QStringLiteral("ScanForward");
    case ScanReverse: return QStringLiteral("ScanReverse");
    case Buffering: return QStringLiteral("Buffering...");
    case Waiting: return QStringLiteral("Waiting");
    case MediaEnded: return QStringLiteral("MediaEnded");
    case Transitioning: return QStringLiteral("Connecting...");
    case Ready: return QStringLiteral("Ready");
    case Reconnecting: return QStringLiteral("Reconnecting...");
    default: return QString();
    }
}

PlayerStatus NextStatus(const PlayerStatus& previous, PlayState state, Quality quality, bool wantsPlayback)
{
    PlayerStatus next = previous;
    next.state = state;
    next.text = StatusTextFor(state, quality == Quality::High);
    if (PlayerStatus::IsMainState(state)) {
        next.pauseFaces = state == Playing;
        next.stopEnabled = state != Stopped;
        next.green = state == Playing;
    }
    next.playback = PlaybackFor(state, wantsPlayback);
    return next;
}

RadioPlayer::RadioPlayer(std::unique_ptr<MediaPlayer> engine, StationConfig config, QObject* parent)
    : QObject(parent)
    , m_engine(std::move(engine))
    , m_config(std::move(config))
{
    connect(m_engine.get(), &MediaPlayer::PlayStateChange, this, &RadioPlayer::OnPlayStateChange);
    connect(m_engine.get(), &MediaPlayer::TitleChanged, this, &RadioPlayer::SetTitle);
    connect(m_engine.get(), &MediaPlayer::FailureReported, this, &RadioPlayer::OnFailure);
    // Nothing starts by itself: the volume is all there is to set.
    m_engine->setVolume(StartingVolume);
}

RadioPlayer::~RadioPlayer() = default;

bool RadioPlayer::PlayPauseWouldPause() const
{
    // A stream that ended or broke by itself is started again, not paused.
    return m_wantsPlayback && !EngineIsIdle(m_engine->playState());
}

void RadioPlayer::PlayPause()
{
    if (PlayPauseWouldPause()) {
        SetWantsPlayback(false);
        m_engine->pause();
        return;
    }
    // Set before the engine hears of it: the states it reports at once are
    // already those of a wanted stream.
    SetWantsPlayback(true);
    SetStoppedBy({});
    const QString address = m_quality == Quality::High ? m_config.HighQualityAddress() : m_config.LowQualityAddress();
    // The same address is left alone, so that a paused stream resumes.
    if (m_engine->URL() != address)
        m_engine->setURL(address);
    m_engine->play();
}

void RadioPlayer::Play()
{
    if (!PlayPauseWouldPause())
        PlayPause();
}

void RadioPlayer::Pause()
{
    if (PlayPauseWouldPause())
        PlayPause();
}

void RadioPlayer::Stop()
{
    SetWantsPlayback(false);
    SetStoppedBy({});
    m_engine->stop();
}

void RadioPlayer::SetQuality(Quality quality)
{
    if (quality == m_quality)
        return;
    m_quality = quality;
    emit QualityChanged(quality);
}

void RadioPlayer::SetVolume(int volume)
{
    m_engine->setVolume(volume);
    emit VolumeChanged(m_engine->volume());
}

int RadioPlayer::Volume() const
{
    return m_engine->volume();
}

QString RadioPlayer::TrayTip() const
{
    QString second;
    if (m_status.state == Playing)
        second = m_title;
    else if (m_status.state == Reconnecting && m_wantsPlayback)
        second = m_failure.kind == PlayFailure::Kind::NoOutput ? m_status.text + QLatin1Char(' ') + FailureWords(m_failure)
                                                               : m_status.text;
    else
        second = Problem();
    return QString::fromUtf8(Identity::PlayerName) + (second.isEmpty() ? QString() : QLatin1Char('\n') + second);
}

void RadioPlayer::SetStoppedBy(const PlayFailure& failure)
{
    if (failure == m_stoppedBy)
        return;
    m_stoppedBy = failure;
    emit ProblemChanged();
}

void RadioPlayer::OnFailure(const PlayFailure& why)
{
    qCWarning(lcPlayer).noquote() << FailureWords(why) << why.detail;
    m_failure = why;
}

void RadioPlayer::OnPlayStateChange(PlayState state)
{
    m_status = NextStatus(m_status, state, m_quality, m_wantsPlayback);
    // A play that ends in Stopped by itself could not reach the station, or
    // lost it for good: say why until the next play.
    if (state == Stopped && m_wantsPlayback) {
        PlayFailure why = m_failure;
        if (why.kind == PlayFailure::Kind::None)
            why.kind = PlayFailure::Kind::Unreachable;
        SetStoppedBy(why);
    } else if (state == Playing) {
        SetStoppedBy({});
    }
    if (state == Playing || state == Stopped)
        m_failure = {};
    emit StateReported(state);
    PublishPlaybackStatus();
}

void RadioPlayer::SetWantsPlayback(bool wants)
{
    m_wantsPlayback = wants;
    m_status.playback = PlaybackFor(m_status.state, wants);
    PublishPlaybackStatus();
}

void RadioPlayer::SetTitle(const QString& title)
{
    if (title == m_title)
        return;
    m_title = title;
    emit TitleChanged();
}

void RadioPlayer::PublishPlaybackStatus()
{
    if (m_status.playback == m_publishedPlayback)
        return;
    m_publishedPlayback = m_status.playback;
    emit PlaybackStatusChanged();
}
