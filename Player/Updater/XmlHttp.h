#pragma once

#include "BoundedGet.h"

#include <QByteArray>
#include <QUrl>
#include <functional>
#include <stdexcept>

// A failed request: refused, unreachable, timed out, too large, cut off.
class HttpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct HttpReply {
    int status = 0;
    QByteArray body;
};

// The updater's requests are waited for: each runs in a local event loop on
// the calling thread until it is done, within its limits.

// The whole reply, whatever its status.
HttpReply HttpGet(const QUrl& url, const GetLimits& limits, const QList<QSslCertificate>& trusted,
    const ProxySettings& proxies = {});

// A GET whose body is handed to `write` chunk by chunk as it arrives, so
// memory stays flat whatever its size; a false from `write` fails the request.
// Returns the status; only a 200 body is handed over.
int HttpDownload(const QUrl& url, const std::function<bool(const QByteArray&)>& write, GetLimits limits,
    const QList<QSslCertificate>& trusted, const ProxySettings& proxies = {});
