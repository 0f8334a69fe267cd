#include "StationConfig.h"

#include "Identity.h"

QString ServiceBase(QString host, int defaultPort)
{
    host = host.trimmed();
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    if (host.contains(QLatin1String("://")))
        return host;
    // A bare IPv6 address is bracketed, as an address names it.
    if (host.count(QLatin1Char(':')) > 1 && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const bool hasPort = host.startsWith(QLatin1Char('[')) ? host.contains(QLatin1String("]:"))
                                                          : host.contains(QLatin1Char(':'));
    if (!hasPort && defaultPort > 0)
        host += QLatin1Char(':') + QString::number(defaultPort);
    return QStringLiteral("http://") + host;
}

namespace {

QString Setting(const char* name, const char* built)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QString::fromUtf8(built) : value;
}

} // namespace

StationConfig StationConfig::FromEnvironment()
{
    StationConfig config;
    config.streamBase = ServiceBase(Setting("SONVALE_STREAM_HOST", Identity::StreamHost), Identity::StreamPort);
    config.streamCa = qEnvironmentVariable("SONVALE_STREAM_CA");
    config.audioSink = qgetenv("SONVALE_AUDIO_SINK");
    config.updateBase = ServiceBase(Setting("SONVALE_UPDATE_HOST", Identity::UpdateHost));
    config.updateCa = qEnvironmentVariable("SONVALE_UPDATE_CA");
    config.proxies = ProxySettings::FromEnvironment([](const char* name) { return qEnvironmentVariable(name); });
    return config;
}
