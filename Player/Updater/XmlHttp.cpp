#include "XmlHttp.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <memory>

namespace {

constexpr qint64 ReadBufferBytes = 256 * 1024;
constexpr int PaceCheckMs = 200;

struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};

std::unique_ptr<QNetworkReply, ReplyDeleter> Get(QNetworkAccessManager& network, const QUrl& url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return std::unique_ptr<QNetworkReply, ReplyDeleter>(network.get(request));
}

int Status(QNetworkReply& reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Whether a request that has run for `elapsedMs` and received `received`
// bytes is past its deadline or below its floor.
bool OutOfTime(const HttpLimits& limits, qint64 elapsedMs, qint64 received)
{
    const bool late = limits.deadlineMs > 0 && elapsedMs >= limits.deadlineMs;
    const bool slow = limits.floorBytesPerSecond > 0 && elapsedMs >= limits.graceMs
        && received * 1000 < limits.floorBytesPerSecond * elapsedMs;
    return late || slow;
}

// Waits for the reply's end, handing every chunk to `consume`; a false from
// it aborts the request as a failure, and so does running out of time.
void Run(QNetworkReply& reply, const HttpLimits& limits, const std::function<bool(QNetworkReply&)>& consume)
{
    QEventLoop loop;
    bool refused = false;
    bool outOfTime = false;
    qint64 received = 0;
    QElapsedTimer running;
    running.start();
    QTimer pace;
    pace.setInterval(PaceCheckMs);
    QObject::connect(&pace, &QTimer::timeout, &loop, [&] {
        if (!outOfTime && OutOfTime(limits, running.elapsed(), received)) {
            outOfTime = true;
            reply.abort();
        }
    });
    if (limits.deadlineMs > 0 || limits.floorBytesPerSecond > 0)
        pace.start();
    QObject::connect(&reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 bytes, qint64) { received = bytes; });
    QObject::connect(&reply, &QNetworkReply::readyRead, &loop, [&] {
        if (!refused && !consume(reply)) {
            refused = true;
            reply.abort();
        }
    });
    QObject::connect(&reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply.isFinished())
        loop.exec();
    if (!refused && reply.bytesAvailable() > 0)
        refused = !consume(reply);
    if (outOfTime)
        throw HttpError("the service is too slow");
    if (refused)
        throw HttpError("request refused: reply not acceptable");
    // HTTP error statuses come back as a reply; what failed below HTTP (refused,
    // unreachable, timed out, cut off, garbled) is a failure of the request.
    const int error = reply.error();
    const bool transportFailed = error != QNetworkReply::NoError
        && (Status(reply) == 0 || error < QNetworkReply::ContentAccessDenied
            || (error >= QNetworkReply::ProtocolUnknownError && error <= QNetworkReply::ProtocolFailure));
    if (transportFailed)
        throw HttpError(reply.errorString().toStdString());
}

} // namespace

HttpReply HttpGet(const QUrl& url, qint64 maxBytes, const HttpLimits& limits)
{
    QNetworkAccessManager network;
    auto reply = Get(network, url, limits.inactivityMs);
    reply->setReadBufferSize(ReadBufferBytes);
    HttpReply result;
    Run(*reply, limits, [&](QNetworkReply& r) {
        result.body += r.readAll();
        return result.body.size() <= maxBytes;
    });
    result.status = Status(*reply);
    return result;
}

int HttpDownload(const QUrl& url, const std::function<bool(const QByteArray&)>& write, const HttpLimits& limits)
{
    QNetworkAccessManager network;
    auto reply = Get(network, url, limits.inactivityMs);
    reply->setReadBufferSize(ReadBufferBytes);
    qint64 written = 0;
    Run(*reply, limits, [&](QNetworkReply& r) {
        if (Status(r) != 200)
            return false; // nothing but a 200 body is ever written
        const QByteArray chunk = r.readAll();
        written += chunk.size();
        return write(chunk);
    });
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != written && Status(*reply) == 200)
        throw HttpError("reply cut off");
    return Status(*reply);
}
