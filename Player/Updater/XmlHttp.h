#pragma once

#include <QByteArray>
#include <QUrl>
#include <stdexcept>

#include <functional>

// A failed request: refused, unreachable, timed out, too large, cut off.
class HttpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct HttpReply {
    int status = 0;
    QByteArray body;
};

// How long a request may take. No byte for inactivityMs fails it; so does
// not being complete after deadlineMs (0: no deadline), and averaging fewer
// than floorBytesPerSecond once it has run for graceMs (0: no floor).
struct HttpLimits {
    int inactivityMs = 30000;
    int deadlineMs = 0;
    int graceMs = 0;
    qint64 floorBytesPerSecond = 0;
};

// A GET that returns once the whole reply has arrived (the caller's thread
// waits in a local event loop). A reply body larger than maxBytes, or one
// outside the limits, is a failure.
HttpReply HttpGet(const QUrl& url, qint64 maxBytes, const HttpLimits& limits);

// A GET whose body is handed to `write` chunk by chunk as it arrives, so
// memory stays flat whatever its size; a false from `write` fails the request.
// Returns the status; only a 200 body is handed over.
int HttpDownload(const QUrl& url, const std::function<bool(const QByteArray&)>& write, const HttpLimits& limits);
