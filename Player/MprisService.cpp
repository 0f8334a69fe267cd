#include "MprisService.h"

#include "MediaPlayer.h"
#include "PlayerForm.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStandardPaths>
#include <QUrl>

#ifndef SONVALE_APP_ID
#define SONVALE_APP_ID "org.velmora.Sonvale"
#endif
#ifndef SONVALE_ICON_FILE
#define SONVALE_ICON_FILE ""
#endif

namespace {

const char* const ObjectPath = "/org/mpris/MediaPlayer2";
const char* const BusName = "org.mpris.MediaPlayer2.sonvale";
const char* const StationName = "Radio Velmora";

QString ArtUrl()
{
    const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
        QStringLiteral("icons/hicolor/256x256/apps/%1.png").arg(QLatin1String(SONVALE_APP_ID)));
    return QUrl::fromLocalFile(installed.isEmpty() ? QStringLiteral(SONVALE_ICON_FILE) : installed).toString();
}

} // namespace

MprisService::MprisService(PlayerForm& form)
    : QObject(&form)
    , m_form(form)
{
    new MprisRoot(*this);
    auto* player = new MprisPlayer(*this);
    MediaPlayer& engine = form.Engine();
    connect(&engine, &MediaPlayer::PlayStateChange, this, [this] {
        NotifyChanged(QStringLiteral("org.mpris.MediaPlayer2.Player"), {{"PlaybackStatus", PlaybackStatus()}});
    });
    connect(&engine, &MediaPlayer::TitleChanged, this, [this] {
        NotifyChanged(QStringLiteral("org.mpris.MediaPlayer2.Player"), {{"Metadata", Metadata()}});
    });
    connect(&form, &PlayerForm::VolumeChanged, this, [this, player] {
        NotifyChanged(QStringLiteral("org.mpris.MediaPlayer2.Player"), {{"Volume", player->Volume()}});
    });
}

bool MprisService::Register()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(QLatin1String(ObjectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    if (!bus.registerService(QLatin1String(BusName))) {
        bus.unregisterObject(QLatin1String(ObjectPath));
        return false;
    }
    m_registered = true;
    return true;
}

MprisService::~MprisService()
{
    if (!m_registered)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QLatin1String(BusName));
    bus.unregisterObject(QLatin1String(ObjectPath));
}

QString MprisService::PlaybackStatus() const
{
    switch (m_form.Engine().playState()) {
    case Playing: return QStringLiteral("Playing");
    case Paused: return QStringLiteral("Paused");
    default: return QStringLiteral("Stopped");
    }
}

QVariantMap MprisService::Metadata() const
{
    const QString title = m_form.Engine().currentTitle();
    return {
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath("/org/velmora/Sonvale/Stream"))},
        {QStringLiteral("xesam:title"), title.isEmpty() ? QString::fromLatin1(StationName) : title},
        {QStringLiteral("xesam:album"), QString::fromLatin1(StationName)},
        {QStringLiteral("xesam:artist"), QStringList{QString::fromLatin1(StationName)}},
        {QStringLiteral("mpris:artUrl"), ArtUrl()},
    };
}

void MprisService::NotifyChanged(const QString& interface, const QVariantMap& changed)
{
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(ObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

MprisRoot::MprisRoot(MprisService& service)
    : QDBusAbstractAdaptor(&service)
    , m_service(service)
{
}

QString MprisRoot::Identity() const
{
    return QStringLiteral("Radio Velmora Player");
}

QString MprisRoot::DesktopEntry() const
{
    return QStringLiteral(SONVALE_APP_ID);
}

void MprisRoot::Raise()
{
    m_service.Form().ShowForm();
}

void MprisRoot::Quit()
{
    m_service.Form().close();
}

MprisPlayer::MprisPlayer(MprisService& service)
    : QDBusAbstractAdaptor(&service)
    , m_service(service)
{
}

double MprisPlayer::Volume() const
{
    return m_service.Form().Engine().settings().volume() / 100.0;
}

void MprisPlayer::SetVolume(double volume)
{
    m_service.Form().SetVolume(qRound(qBound(0.0, volume, 1.0) * 100));
}

void MprisPlayer::PlayPause()
{
    m_service.Form().PlayPauseCommand();
}

void MprisPlayer::Play()
{
    m_service.Form().Play();
}

void MprisPlayer::Pause()
{
    m_service.Form().Pause();
}

void MprisPlayer::Stop()
{
    m_service.Form().StopCommand();
}
