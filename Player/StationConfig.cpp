#include "StationConfig.h"

#ifndef SONVALE_STREAM_HOST
#define SONVALE_STREAM_HOST "localhost"
#endif
#ifndef SONVALE_UPDATE_HOST
#define SONVALE_UPDATE_HOST "localhost"
#endif

QString StationConfig::StreamBaseOf(QString host)
{
    // A bare host is the station's web server on port 8000; a base with its
    // scheme names scheme and port itself.
    if (!host.contains(QLatin1String("://")))
        return QStringLiteral("http://%1:8000").arg(host);
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    return host;
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
    config.streamBase = StreamBaseOf(Setting("SONVALE_STREAM_HOST", SONVALE_STREAM_HOST));
    config.streamCa = qEnvironmentVariable("SONVALE_STREAM_CA");
    config.audioSink = qgetenv("SONVALE_AUDIO_SINK");
    config.updateHost = Setting("SONVALE_UPDATE_HOST", SONVALE_UPDATE_HOST);
    config.updateCa = qEnvironmentVariable("SONVALE_UPDATE_CA");
    return config;
}
