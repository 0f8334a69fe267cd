#include "BoundedGet.h"

#include "AddressRace.h"

#include <QNetworkProxy>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>

namespace {

constexpr qint64 ReadBufferBytes = 64 * 1024;
constexpr int MaxChunkLineBytes = 1024;
constexpr qint64 AwaitingChunkSize = -1;
constexpr qint64 AwaitingChunkEnd = -2;
constexpr int PaceCheckMs = 200;
constexpr int DefaultProxyPort = 1080; // as curl takes a proxy that names no port

QByteArray HeaderValue(const QList<QByteArray>& lines, const QByteArray& name)
{
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

GetProblem ProblemOf(QAbstractSocket::SocketError error, bool forwarded)
{
    switch (error) {
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return GetProblem::Certificate;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return GetProblem::Proxy;
    default:
        // A forwarded request that cannot even be sent never met the server.
        return forwarded ? GetProblem::Proxy : GetProblem::Unreachable;
    }
}

} // namespace

QList<QSslCertificate> TrustedWith(const QString& pemFile)
{
    if (pemFile.isEmpty())
        return {};
    const QList<QSslCertificate> own = QSslCertificate::fromPath(pemFile, QSsl::Pem);
    return own.isEmpty() ? own : QSslConfiguration::systemCaCertificates() + own;
}

BoundedGet::BoundedGet(const QUrl& url, const GetLimits& limits, const QList<QSslCertificate>& trusted,
    const ProxySettings& proxies, QObject* parent)
    : QObject(parent)
    , m_limits(limits)
    , m_trusted(trusted)
    , m_proxies(proxies)
{
    m_inactivity.setSingleShot(true);
    connect(&m_inactivity, &QTimer::timeout, this, [this] { Fail(QStringLiteral("the server went quiet")); });
    connect(&m_pace, &QTimer::timeout, this, &BoundedGet::CheckPace);
    m_running.start();
    if (m_limits.deadlineMs > 0 || m_limits.floorBytesPerSecond > 0)
        m_pace.start(PaceCheckMs);
    // Begun on the next turn of the event loop, once the caller has connected.
    QTimer::singleShot(0, this, [this, url] { Open(url); });
}

BoundedGet::~BoundedGet()
{
    Stop();
}

void BoundedGet::Stop()
{
    m_stopped = true;
    m_inactivity.stop();
    m_pace.stop();
    CloseConnection();
}

void BoundedGet::CloseConnection()
{
    if (m_race) {
        m_race->disconnect(this);
        m_race->Stop();
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void BoundedGet::CheckPace()
{
    const qint64 elapsed = m_running.elapsed();
    if (m_limits.deadlineMs > 0 && elapsed >= m_limits.deadlineMs)
        Fail(QStringLiteral("the server is too slow"));
    else if (m_limits.floorBytesPerSecond > 0 && elapsed >= m_limits.graceMs
        && m_received * 1000 < m_limits.floorBytesPerSecond * elapsed)
        Fail(QStringLiteral("the server is too slow"));
}

void BoundedGet::Open(const QUrl& url)
{
    if (m_stopped)
        return;
    const bool secure = url.scheme() == QLatin1String("https");
    if (!url.isValid() || url.host().isEmpty() || (!secure && url.scheme() != QLatin1String("http")))
        return Fail(QStringLiteral("not a web address"));
    DropConnection();
    m_url = url;
    m_buffer.clear();
    m_body.clear();
    m_inBody = false;
    m_status = 0;
    m_contentType.clear();
    m_contentLength = -1;
    m_chunked = false;
    m_chunkLeft = AwaitingChunkSize;
    m_streamed = 0;

    const QUrl proxy = m_proxies.For(url);
    m_forwarded = !secure && proxy.scheme() == QLatin1String("http");
    m_fromProxy = false;
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray proxyCredentials;
    if (m_forwarded) {
        // The proxy is asked for the whole address; its user and password, if
        // it has them, go with every request.
        target = url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment) + target;
        if (!proxy.userName().isEmpty())
            proxyCredentials = "Proxy-Authorization: Basic "
                + (proxy.userName(QUrl::FullyDecoded) + QLatin1Char(':') + proxy.password(QUrl::FullyDecoded)).toUtf8().toBase64()
                + "\r\n";
    }
    const QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + url.authority(QUrl::FullyEncoded).toLatin1()
        + "\r\n" + proxyCredentials + (m_limits.userAgent.isEmpty() ? QByteArray() : "User-Agent: " + m_limits.userAgent + "\r\n")
        + "Accept: */*\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n";
    m_inactivity.start(m_limits.inactivityMs);
    if (!proxy.isEmpty() && !m_forwarded) {
        // https through an http proxy is tunnelled to the server's own port;
        // a socks5 proxy carries either. The proxy finds the server.
        const auto type = proxy.scheme() == QLatin1String("socks5") ? QNetworkProxy::Socks5Proxy : QNetworkProxy::HttpProxy;
        QTcpSocket* socket = MakeSocket(secure);
        socket->setProxy(QNetworkProxy(type, proxy.host(), quint16(proxy.port(DefaultProxyPort)),
            proxy.userName(QUrl::FullyDecoded), proxy.password(QUrl::FullyDecoded)));
        Use(socket, request);
        if (secure)
            static_cast<QSslSocket*>(socket)->connectToHostEncrypted(url.host(), quint16(url.port(443)));
        else
            socket->connectToHost(url.host(), quint16(url.port(80)));
        return;
    }
    // Directly, or to an http proxy that takes the whole request: the first
    // of the host's addresses that answers.
    const QString host = m_forwarded ? proxy.host() : url.host();
    const quint16 port = quint16(m_forwarded ? proxy.port(DefaultProxyPort) : url.port(secure ? 443 : 80));
    m_race = std::make_unique<AddressRace>([this, secure] { return MakeSocket(secure); });
    connect(m_race.get(), &AddressRace::Won, this, [this, request, host](QTcpSocket* socket) {
        Use(socket, request);
        if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
            // The certificate is checked against the name, not the address.
            ssl->setPeerVerifyName(host);
            ssl->startClientEncryption();
        }
    });
    connect(m_race.get(), &AddressRace::Lost, this, [this](QAbstractSocket::SocketError error, const QString& why) {
        Fail(why, ProblemOf(error, m_forwarded));
    });
    m_race->Start(host, port);
}

QTcpSocket* BoundedGet::MakeSocket(bool secure) const
{
    auto* socket = secure ? new QSslSocket : new QTcpSocket;
    socket->setReadBufferSize(ReadBufferBytes);
    // Only the route chosen here: never Qt's own idea of the system's proxy.
    socket->setProxy(QNetworkProxy::NoProxy);
    if (secure && !m_trusted.isEmpty()) {
        auto* ssl = static_cast<QSslSocket*>(socket);
        QSslConfiguration config = ssl->sslConfiguration();
        config.setCaCertificates(m_trusted);
        ssl->setSslConfiguration(config);
    }
    return socket;
}

void BoundedGet::Use(QTcpSocket* socket, const QByteArray& request)
{
    m_socket.reset(socket);
    connect(socket, &QTcpSocket::readyRead, this, &BoundedGet::OnReadable);
    connect(socket, &QTcpSocket::disconnected, this, &BoundedGet::OnClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            OnClosed();
        else
            Fail(m_socket->errorString(), ProblemOf(error, m_forwarded));
    });
    // The request goes once the way to the server is open.
    if (auto* ssl = qobject_cast<QSslSocket*>(socket))
        connect(ssl, &QSslSocket::encrypted, this, [ssl, request] { ssl->write(request); });
    else if (socket->state() == QAbstractSocket::ConnectedState)
        socket->write(request);
    else
        connect(socket, &QTcpSocket::connected, this, [socket, request] { socket->write(request); });
}

void BoundedGet::DropConnection()
{
    CloseConnection();
    // Either may be the sender of the signal being handled (a redirect).
    if (m_race)
        m_race.release()->deleteLater();
    if (m_socket)
        m_socket.release()->deleteLater();
}

void BoundedGet::OnReadable()
{
    QPointer<BoundedGet> self(this);
    while (self && !m_stopped && m_socket && m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->read(ReadBufferBytes);
        m_inactivity.start(m_limits.inactivityMs);
        m_received += bytes.size();
        m_buffer += bytes;
        if (!m_inBody && !ReadHead())
            return;
        if (!ReadBody())
            return;
    }
}

void BoundedGet::OnClosed()
{
    if (m_stopped)
        return;
    OnReadable();
    if (m_stopped)
        return;
    // A body without a length ends with the connection; one with a length
    // or in chunks that ends early was cut off.
    if (m_inBody && m_contentLength < 0 && !m_chunked)
        Finish();
    else
        Fail(QStringLiteral("the connection closed early"));
}

bool BoundedGet::ReadHead()
{
    qsizetype end = m_buffer.indexOf("\r\n\r\n");
    qsizetype separator = 4;
    if (const qsizetype bare = m_buffer.indexOf("\n\n"); bare >= 0 && (end < 0 || bare < end)) {
        end = bare;
        separator = 2;
    }
    if (end < 0 ? m_buffer.size() > m_limits.maxHeaderBytes : end > m_limits.maxHeaderBytes) {
        Fail(QStringLiteral("reply head too large"), GetProblem::BadReply);
        return false;
    }
    if (end < 0)
        return false;
    QList<QByteArray> lines = m_buffer.left(end).split('\n');
    m_buffer.remove(0, end + separator);
    if (lines.size() > m_limits.maxHeaderLines + 1) {
        Fail(QStringLiteral("too many header lines"), GetProblem::BadReply);
        return false;
    }
    for (QByteArray& line : lines)
        line = line.trimmed();
    const QList<QByteArray> statusLine = lines.takeFirst().split(' ');
    const int status = statusLine.size() > 1 && statusLine[0].startsWith("HTTP/1.") ? statusLine[1].toInt() : 0;
    if (status >= 300 && status < 400 && status != 304) {
        const QUrl next = m_url.resolved(QUrl::fromEncoded(HeaderValue(lines, "Location")));
        if (++m_redirects > m_limits.maxRedirects)
            Fail(QStringLiteral("too many redirects"), GetProblem::BadReply);
        else if (m_url.scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https"))
            Fail(QStringLiteral("redirect from https to something less safe"), GetProblem::BadReply);
        else {
            m_socket->disconnect(this);
            m_socket->abort();
            QTimer::singleShot(0, this, [this, next] { Open(next); });
        }
        return false;
    }
    if (status < 100) {
        Fail(QStringLiteral("not an HTTP reply"), GetProblem::BadReply);
        return false;
    }
    m_status = status;
    // Squid marks its own error pages; RFC 9209 proxies say Proxy-Status.
    m_fromProxy = m_forwarded
        && (status == 407 || !HeaderValue(lines, "X-Squid-Error").isEmpty() || !HeaderValue(lines, "Proxy-Status").isEmpty());
    m_contentType = QString::fromLatin1(HeaderValue(lines, "Content-Type"));
    bool known = false;
    const qint64 length = HeaderValue(lines, "Content-Length").toLongLong(&known);
    m_contentLength = known && length >= 0 ? length : -1;
    m_chunked = HeaderValue(lines, "Transfer-Encoding").toLower().contains("chunked");
    m_inBody = true;
    QPointer<BoundedGet> self(this);
    emit Head();
    return self && !m_stopped;
}

bool BoundedGet::TakeBody(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return true;
    if (m_limits.maxBodyBytes >= 0) {
        m_body += bytes;
        if (m_body.size() > m_limits.maxBodyBytes) {
            Fail(QStringLiteral("reply too large"), GetProblem::BadReply);
            return false;
        }
    }
    QPointer<BoundedGet> self(this);
    emit Data(bytes);
    return self && !m_stopped;
}

bool BoundedGet::ReadBody()
{
    if (!m_chunked) {
        QByteArray bytes = std::exchange(m_buffer, {});
        bool complete = false;
        if (m_contentLength >= 0 && m_streamed + bytes.size() >= m_contentLength) {
            bytes.truncate(m_contentLength - m_streamed);
            complete = true;
        }
        m_streamed += bytes.size();
        if (!TakeBody(bytes))
            return false;
        if (complete) {
            Finish();
            return false;
        }
        return true;
    }
    while (!m_buffer.isEmpty()) {
        if (m_chunkLeft == AwaitingChunkEnd) {
            if (m_buffer.size() < 2)
                break;
            m_buffer.remove(0, 2);
            m_chunkLeft = AwaitingChunkSize;
        } else if (m_chunkLeft == AwaitingChunkSize) {
            const qsizetype lineEnd = m_buffer.indexOf('\n');
            if (lineEnd < 0 && m_buffer.size() > MaxChunkLineBytes) {
                Fail(QStringLiteral("bad chunk"), GetProblem::BadReply);
                return false;
            }
            if (lineEnd < 0)
                break;
            bool valid = false;
            m_chunkLeft = m_buffer.left(lineEnd).split(';').first().trimmed().toLongLong(&valid, 16);
            m_buffer.remove(0, lineEnd + 1);
            if (!valid || m_chunkLeft < 0) {
                Fail(QStringLiteral("bad chunk"), GetProblem::BadReply);
                return false;
            }
            if (m_chunkLeft == 0) {
                Finish();
                return false;
            }
        } else {
            const qsizetype take = qsizetype(std::min<qint64>(m_chunkLeft, m_buffer.size()));
            const QByteArray bytes = m_buffer.left(take);
            m_buffer.remove(0, take);
            m_chunkLeft -= take;
            if (m_chunkLeft == 0)
                m_chunkLeft = AwaitingChunkEnd;
            m_streamed += bytes.size();
            if (!TakeBody(bytes))
                return false;
        }
    }
    return true;
}

void BoundedGet::Finish()
{
    Stop();
    emit Finished();
}

void BoundedGet::Fail(const QString& why, GetProblem problem)
{
    if (m_stopped)
        return;
    Stop();
    m_problem = problem;
    emit Failed(why);
}
