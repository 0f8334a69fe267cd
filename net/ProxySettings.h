#pragma once

#include <QStringList>
#include <QUrl>
#include <functional>

// The proxies a desktop's environment names, as desktop tools read them:
// http_proxy for http, https_proxy for https, all_proxy for either where the
// other is not set; no_proxy names hosts reached directly (names, domain
// suffixes with or without a leading dot, addresses, addresses/prefix, or
// "*" for all). The machine's own loopback is never proxied.
struct ProxySettings {
    QUrl http;
    QUrl https;
    QUrl all;
    QStringList noProxy;

    // From a getter of environment variables (lower-case names win over
    // upper-case ones).
    static ProxySettings FromEnvironment(const std::function<QString(const char*)>& variable);

    // The proxy for a request to `target`: an http:// or socks5:// address
    // with its user and password, if any; empty: straight to the server.
    QUrl For(const QUrl& target) const;
};
