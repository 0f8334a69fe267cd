#include "MprisService.h"

#include "Identity.h"
#include "RadioPlayer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMetaMethod>
#include <QStandardPaths>
#include <QUrl>

namespace {

const char* const ObjectPath = "/org/mpris/MediaPlayer2";
const char* const BusName = "org.mpris.MediaPlayer2.sonvale";

QString ArtUrl()
{
    const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
        QStringLiteral("icons/hicolor/256x256/apps/%1.png").arg(QLatin1String(Identity::AppId)));
    return QUrl::fromLocalFile(installed.isEmpty() ? QString::fromUtf8(Identity::BuiltIconFile) : installed).toString();
}

void ConnectCallsSentAsSignals(QDBusConnection& bus, QDBusAbstractAdaptor* adaptor)
{
    const QMetaObject* meta = adaptor->metaObject();
    const QString interface = QString::fromLatin1(meta->classInfo(meta->indexOfClassInfo("D-Bus Interface")).value());
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Slot || method.parameterCount() != 0)
            continue;
        const QByteArray slot = QByteArray::number(QSLOT_CODE) + method.methodSignature();
        bus.connect(QString(), QLatin1String(ObjectPath), interface, QString::fromLatin1(method.name()), adaptor,
            slot.constData());
    }
}

} // namespace

MprisService::MprisService(RadioPlayer& player, QObject* parent)
    : QObject(parent)
    , m_player(player)
{
    new MprisRoot(*this);
    auto* adaptor = new MprisPlayer(*this);
    connect(&player, &RadioPlayer::PlaybackStatusChanged, this, [this] {
        NotifyChanged(QStringLiteral("org.mpris.MediaPlayer2.Player"), {{"PlaybackStatus", PlaybackStatus()}});
    });
    connect(&player, &RadioPlayer::TitleChanged, this, [this] {
        NotifyChanged(QStringLiteral("org.mpris.MediaPlayer2.Player"), {{"Metadata", Metadata()}});
    });
    connect(&player, &RadioPlayer::VolumeChanged, this, [this, adaptor] {
        NotifyChanged(QStringLiteral("org.mpris.MediaPlayer2.Player"), {{"Volume", adaptor->Volume()}});
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
    // `dbus-send` without --print-reply sends its "call" as a signal; a
    // listener typing it means the call, so such a signal on the player's
    // path and interface reaches the adaptor's own slot, as the call does.
    // No MPRIS peer emits these names.
    for (QDBusAbstractAdaptor* adaptor : findChildren<QDBusAbstractAdaptor*>(Qt::FindDirectChildrenOnly))
        ConnectCallsSentAsSignals(bus, adaptor);
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
    switch (m_player.Status().playback) {
    case Playback::Playing: return QStringLiteral("Playing");
    case Playback::Paused: return QStringLiteral("Paused");
    case Playback::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap MprisService::Metadata() const
{
    const QString title = m_player.Title();
    return {
        // The one track: the stream, under the application's own id as a path.
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(
            QLatin1Char('/') + QString::fromLatin1(::Identity::AppId).replace(QLatin1Char('.'), QLatin1Char('/'))
            + QStringLiteral("/Stream")))},
        {QStringLiteral("xesam:title"), title.isEmpty() ? QString::fromUtf8(::Identity::StationName) : title},
        {QStringLiteral("xesam:album"), QString::fromUtf8(::Identity::StationName)},
        {QStringLiteral("xesam:artist"), QStringList{QString::fromUtf8(::Identity::StationName)}},
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
    return QString::fromUtf8(::Identity::PlayerName);
}

QString MprisRoot::DesktopEntry() const
{
    return QString::fromUtf8(::Identity::AppId);
}

void MprisRoot::Raise()
{
    m_service.Player().Raise();
}

void MprisRoot::Quit()
{
    m_service.Player().Quit();
}

MprisPlayer::MprisPlayer(MprisService& service)
    : QDBusAbstractAdaptor(&service)
    , m_service(service)
{
}

double MprisPlayer::Volume() const
{
    return m_service.Player().Volume() / 100.0;
}

void MprisPlayer::SetVolume(double volume)
{
    m_service.Player().SetVolume(qRound(qBound(0.0, volume, 1.0) * 100));
}

void MprisPlayer::PlayPause()
{
    m_service.Player().PlayPause();
}

void MprisPlayer::Play()
{
    m_service.Player().Play();
}

void MprisPlayer::Pause()
{
    m_service.Player().Pause();
}

void MprisPlayer::Stop()
{
    m_service.Player().Stop();
}
