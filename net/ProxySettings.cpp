#include "ProxySettings.h"

#include <QHostAddress>

namespace {

// A proxy setting as tools write it: "host:port" means an http proxy.
QUrl ProxyUrl(const QString& setting)
{
    const QString trimmed = setting.trimmed();
    if (trimmed.isEmpty())
        return {};
    QUrl url(trimmed.contains(QLatin1String("://")) ? trimmed : QStringLiteral("http://") + trimmed);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty())
        return {};
    if (scheme == QLatin1String("socks5h"))
        url.setScheme(QStringLiteral("socks5"));
    else if (scheme != QLatin1String("http") && scheme != QLatin1String("socks5"))
        return {}; // nothing else is spoken: straight to the server rather than a wrong guess
    return url;
}

bool IsLoopback(const QString& host)
{
    const QHostAddress address(host);
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive) || (!address.isNull() && address.isLoopback());
}

// Whether a no_proxy entry names the host (ports are not told apart).
bool Matches(QString entry, const QString& host)
{
    entry = entry.trimmed();
    if (entry.isEmpty())
        return false;
    if (entry == QLatin1String("*"))
        return true;
    if (entry.startsWith(QLatin1Char('[')) && entry.contains(QLatin1Char(']')))
        entry = entry.mid(1, entry.indexOf(QLatin1Char(']')) - 1);
    else if (entry.count(QLatin1Char(':')) == 1)
        entry = entry.section(QLatin1Char(':'), 0, 0);
    const QHostAddress address(host);
    if (!address.isNull()) {
        if (entry.contains(QLatin1Char('/')))
            return address.isInSubnet(QHostAddress::parseSubnet(entry));
        return QHostAddress(entry) == address;
    }
    if (entry.startsWith(QLatin1Char('.')))
        entry.remove(0, 1);
    return host.compare(entry, Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1Char('.') + entry, Qt::CaseInsensitive);
}

} // namespace

ProxySettings ProxySettings::FromEnvironment(const std::function<QString(const char*)>& variable)
{
    const auto either = [&](const char* lower, const char* upper) {
        const QString value = variable(lower);
        return value.isEmpty() ? variable(upper) : value;
    };
    ProxySettings settings;
    settings.http = ProxyUrl(either("http_proxy", "HTTP_PROXY"));
    settings.https = ProxyUrl(either("https_proxy", "HTTPS_PROXY"));
    settings.all = ProxyUrl(either("all_proxy", "ALL_PROXY"));
    settings.noProxy = either("no_proxy", "NO_PROXY").split(QLatin1Char(','), Qt::SkipEmptyParts);
    return settings;
}

QUrl ProxySettings::For(const QUrl& target) const
{
    const QString host = target.host();
    if (host.isEmpty() || IsLoopback(host))
        return {};
    for (const QString& entry : noProxy)
        if (Matches(entry, host))
            return {};
    const QUrl& own = target.scheme() == QLatin1String("https") ? https : http;
    return own.isEmpty() ? all : own;
}
