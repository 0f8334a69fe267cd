#include "MachineEvents.h"

#include "Identity.h"
#include "Logging.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QNetworkInformation>

namespace {

const char* const Login = "org.freedesktop.login1";
const char* const LoginPath = "/org/freedesktop/login1";
const char* const LoginManager = "org.freedesktop.login1.Manager";
const char* const Portal = "org.freedesktop.portal.Desktop";
const char* const PortalPath = "/org/freedesktop/portal/desktop";
constexpr uint InhibitSuspend = 4;

// Only a network known to be gone holds reconnects back; "unknown" does not.
bool Reachable(QNetworkInformation::Reachability reachability)
{
    return reachability != QNetworkInformation::Reachability::Disconnected;
}

} // namespace

MachineEvents::MachineEvents(QObject* parent)
    : QObject(parent)
{
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        QNetworkInformation* network = QNetworkInformation::instance();
        qCInfo(lcPlayer) << "network information from" << network->backendName() << network->reachability();
        connect(network, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) { emit NetworkReachable(Reachable(reachability)); });
    } else {
        qCInfo(lcPlayer) << "no network information: reconnects keep their own timers";
    }
    QDBusConnection::systemBus().connect(QLatin1String(Login), QLatin1String(LoginPath), QLatin1String(LoginManager),
        QStringLiteral("PrepareForSleep"), this, SLOT(OnPrepareForSleep(bool)));
}

MachineEvents::~MachineEvents()
{
    SetPlaying(false);
}

void MachineEvents::SetPlaying(bool playing)
{
    if (playing == m_playing)
        return;
    m_playing = playing;
    if (playing) {
        TakeDelayLock();
        InhibitIdleSuspend();
    } else {
        m_delayLock = QDBusUnixFileDescriptor();
        ReleaseIdleSuspend();
    }
}

void MachineEvents::OnPrepareForSleep(bool sleeping)
{
    m_sleeping = sleeping;
    emit PrepareForSleep(sleeping);
    // The stream is dropped: the machine may go. Awake again, the lock is
    // taken anew for the next sleep.
    if (sleeping)
        m_delayLock = QDBusUnixFileDescriptor();
    else if (m_playing)
        TakeDelayLock();
}

void MachineEvents::TakeDelayLock()
{
    if (m_delayLock.isValid() || m_sleeping)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(Login), QLatin1String(LoginPath),
        QLatin1String(LoginManager), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QString::fromUtf8(Identity::PlayerName)
         << QStringLiteral("Closes the stream before the machine sleeps") << QStringLiteral("delay");
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
        if (reply.isError())
            qCInfo(lcPlayer) << "no sleep delay lock:" << reply.error().message();
        else if (m_playing && !m_sleeping)
            m_delayLock = reply.value();
    });
}

void MachineEvents::InhibitIdleSuspend()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (m_inhibitPending || !m_idleInhibitor.path().isEmpty() || !bus.isConnected() || !bus.interface()
        || !bus.interface()->isServiceRegistered(QLatin1String(Portal)).value())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(Portal), QLatin1String(PortalPath),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    call << QString() << InhibitSuspend << QVariantMap{{QStringLiteral("reason"), QStringLiteral("Playing %1").arg(QString::fromUtf8(Identity::StationName))}};
    m_inhibitPending = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        m_inhibitPending = false;
        const QDBusPendingReply<QDBusObjectPath> reply = *finished;
        if (reply.isError()) {
            qCInfo(lcPlayer) << "no idle inhibitor:" << reply.error().message();
            return;
        }
        m_idleInhibitor = reply.value();
        if (!m_playing)
            ReleaseIdleSuspend();
    });
}

void MachineEvents::ReleaseIdleSuspend()
{
    if (m_idleInhibitor.path().isEmpty())
        return;
    QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(QLatin1String(Portal), m_idleInhibitor.path(),
        QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
    m_idleInhibitor = QDBusObjectPath();
}
