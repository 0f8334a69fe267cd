#include "XmlHttp.h"

#include <QEventLoop>

namespace {

// Waits in a local event loop for the request's end, or for the caller to
// refuse the reply; a failure or a refusal throws.
class Waiter {
public:
    explicit Waiter(BoundedGet& get)
        : m_get(get)
    {
        QObject::connect(&get, &BoundedGet::Finished, &m_loop, &QEventLoop::quit);
        QObject::connect(&get, &BoundedGet::Failed, &m_loop, [this](const QString& why) {
            m_failure = why;
            m_loop.quit();
        });
    }
    void Refuse()
    {
        m_refused = true;
        m_get.Stop();
        m_loop.quit();
    }
    bool Refused() const { return m_refused; }
    void Wait()
    {
        // Nothing is reported before the loop runs: the request begins in it.
        m_loop.exec();
        if (m_refused)
            throw HttpError("request refused: reply not acceptable");
        if (!m_failure.isEmpty())
            throw HttpError(m_failure.toStdString());
    }

private:
    BoundedGet& m_get;
    QEventLoop m_loop;
    QString m_failure;
    bool m_refused = false;
};

} // namespace

HttpReply HttpGet(const QUrl& url, const GetLimits& limits, const QList<QSslCertificate>& trusted,
    const ProxySettings& proxies)
{
    BoundedGet get(url, limits, trusted, proxies);
    Waiter(get).Wait();
    return {get.Status(), get.Body()};
}

int HttpDownload(const QUrl& url, const std::function<bool(const QByteArray&)>& write, GetLimits limits,
    const QList<QSslCertificate>& trusted, const ProxySettings& proxies)
{
    limits.maxBodyBytes = -1; // streamed, never kept
    BoundedGet get(url, limits, trusted, proxies);
    Waiter waiter(get);
    bool otherStatus = false;
    QObject::connect(&get, &BoundedGet::Head, [&] {
        // Nothing but a 200 body is ever written.
        otherStatus = get.Status() != 200;
        if (otherStatus)
            waiter.Refuse();
    });
    QObject::connect(&get, &BoundedGet::Data, [&](const QByteArray& chunk) {
        if (!write(chunk))
            waiter.Refuse();
    });
    try {
        waiter.Wait();
    } catch (const HttpError&) {
        if (!otherStatus)
            throw;
    }
    return get.Status();
}
