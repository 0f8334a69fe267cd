#include "PlaylistFetch.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace {

constexpr qint64 ReadBufferBytes = 64 * 1024;
constexpr int MaxChunkLineBytes = 1024;
constexpr qint64 AwaitingChunkSize = -1;
constexpr qint64 AwaitingChunkEnd = -2;

QByteArray HeaderValue(const QList<QByteArray>& lines, const QByteArray& name)
{
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

PlaylistFetch::PlaylistFetch(const QUrl& url, qint64 maxBody, const QList<QSslCertificate>& trusted, QObject* parent)
    : QObject(parent)
    , m_maxBody(maxBody)
    , m_trusted(trusted)
{
    // Begun on the next turn of the event loop, once the caller has connected.
    QTimer::singleShot(0, this, [this, url] { Open(url); });
}

PlaylistFetch::~PlaylistFetch()
{
    Stop();
}

void PlaylistFetch::Stop()
{
    m_stopped = true;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void PlaylistFetch::Open(const QUrl& url)
{
    const bool secure = url.scheme() == QLatin1String("https");
    if (!url.isValid() || url.host().isEmpty() || (!secure && url.scheme() != QLatin1String("http")))
        return Fail(QStringLiteral("not a web address"));
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.release()->deleteLater(); // may be the sender of the signal being handled
    }
    m_url = url;
    m_buffer.clear();
    m_body.clear();
    m_inBody = false;
    m_contentType.clear();
    m_contentLength = -1;
    m_chunked = false;
    m_chunkLeft = AwaitingChunkSize;

    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    const QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + url.authority(QUrl::FullyEncoded).toLatin1()
        + "\r\nUser-Agent: Sonvale/1.0\r\nAccept: */*\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n";
    auto* socket = secure ? new QSslSocket : new QTcpSocket;
    m_socket.reset(socket);
    socket->setReadBufferSize(ReadBufferBytes);
    connect(socket, &QTcpSocket::readyRead, this, &PlaylistFetch::OnReadable);
    connect(socket, &QTcpSocket::disconnected, this, &PlaylistFetch::OnClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            OnClosed();
        else
            Fail(m_socket->errorString());
    });
    if (secure) {
        auto* ssl = static_cast<QSslSocket*>(socket);
        if (!m_trusted.isEmpty()) {
            QSslConfiguration config = ssl->sslConfiguration();
            config.setCaCertificates(m_trusted);
            ssl->setSslConfiguration(config);
        }
        connect(ssl, &QSslSocket::encrypted, this, [ssl, request] { ssl->write(request); });
        ssl->connectToHostEncrypted(url.host(), quint16(url.port(443)));
    } else {
        connect(socket, &QTcpSocket::connected, this, [socket, request] { socket->write(request); });
        socket->connectToHost(url.host(), quint16(url.port(80)));
    }
}

void PlaylistFetch::OnReadable()
{
    QPointer<PlaylistFetch> self(this);
    while (self && !m_stopped && m_socket && m_socket->bytesAvailable() > 0) {
        m_buffer += m_socket->read(ReadBufferBytes);
        if (!m_inBody && !ReadHead())
            return;
        if (!ReadBody())
            return;
    }
}

void PlaylistFetch::OnClosed()
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

bool PlaylistFetch::ReadHead()
{
    qsizetype end = m_buffer.indexOf("\r\n\r\n");
    qsizetype separator = 4;
    if (const qsizetype bare = m_buffer.indexOf("\n\n"); bare >= 0 && (end < 0 || bare < end)) {
        end = bare;
        separator = 2;
    }
    if (end < 0 ? m_buffer.size() > MaxHeaderBytes : end > MaxHeaderBytes) {
        Fail(QStringLiteral("reply head too large"));
        return false;
    }
    if (end < 0)
        return false;
    QList<QByteArray> lines = m_buffer.left(end).split('\n');
    m_buffer.remove(0, end + separator);
    if (lines.size() > MaxHeaderLines + 1) {
        Fail(QStringLiteral("too many header lines"));
        return false;
    }
    for (QByteArray& line : lines)
        line = line.trimmed();
    const QList<QByteArray> statusLine = lines.takeFirst().split(' ');
    const int status = statusLine.size() > 1 && statusLine[0].startsWith("HTTP/1.") ? statusLine[1].toInt() : 0;
    if (status >= 300 && status < 400 && status != 304) {
        const QUrl next = m_url.resolved(QUrl::fromEncoded(HeaderValue(lines, "Location")));
        if (++m_redirects > MaxRedirects)
            Fail(QStringLiteral("too many redirects"));
        else if (m_url.scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https"))
            Fail(QStringLiteral("redirect from https to something less safe"));
        else {
            m_socket->disconnect(this);
            m_socket->abort();
            QTimer::singleShot(0, this, [this, next] { Open(next); });
        }
        return false;
    }
    if (status < 200 || status >= 300) {
        Fail(QStringLiteral("HTTP status %1").arg(status));
        return false;
    }
    m_contentType = QString::fromLatin1(HeaderValue(lines, "Content-Type"));
    bool known = false;
    const qint64 length = HeaderValue(lines, "Content-Length").toLongLong(&known);
    m_contentLength = known && length >= 0 ? length : -1;
    m_chunked = HeaderValue(lines, "Transfer-Encoding").toLower().contains("chunked");
    m_inBody = true;
    return true;
}

bool PlaylistFetch::ReadBody()
{
    const qsizetype before = m_body.size();
    bool complete = false;
    if (!m_chunked) {
        m_body += m_buffer;
        m_buffer.clear();
        if (m_contentLength >= 0 && m_body.size() >= m_contentLength) {
            m_body.truncate(m_contentLength);
            complete = true;
        }
    }
    while (m_chunked && !complete && !m_buffer.isEmpty() && m_body.size() <= m_maxBody) {
        if (m_chunkLeft == AwaitingChunkEnd) {
            if (m_buffer.size() < 2)
                break;
            m_buffer.remove(0, 2);
            m_chunkLeft = AwaitingChunkSize;
        } else if (m_chunkLeft == AwaitingChunkSize) {
            const qsizetype lineEnd = m_buffer.indexOf('\n');
            if (lineEnd < 0 && m_buffer.size() > MaxChunkLineBytes) {
                Fail(QStringLiteral("bad chunk"));
                return false;
            }
            if (lineEnd < 0)
                break;
            bool valid = false;
            m_chunkLeft = m_buffer.left(lineEnd).split(';').first().trimmed().toLongLong(&valid, 16);
            m_buffer.remove(0, lineEnd + 1);
            if (!valid || m_chunkLeft < 0) {
                Fail(QStringLiteral("bad chunk"));
                return false;
            }
            complete = m_chunkLeft == 0;
        } else {
            const qsizetype take = qsizetype(std::min<qint64>(m_chunkLeft, m_buffer.size()));
            m_body += m_buffer.left(take);
            m_buffer.remove(0, take);
            m_chunkLeft -= take;
            if (m_chunkLeft == 0)
                m_chunkLeft = AwaitingChunkEnd;
        }
    }
    if (m_body.size() > before) {
        QPointer<PlaylistFetch> self(this);
        emit Progress(m_url, m_contentType, m_body);
        if (!self || m_stopped)
            return false;
    }
    if (m_body.size() > m_maxBody) {
        Fail(QStringLiteral("reply too large"));
        return false;
    }
    if (complete) {
        Finish();
        return false;
    }
    return true;
}

void PlaylistFetch::Finish()
{
    Stop();
    emit Finished(m_body);
}

void PlaylistFetch::Fail(const QString& why)
{
    if (m_stopped)
        return;
    Stop();
    emit Failed(why);
}
