#pragma once

#include <QByteArray>
#include <QObject>
#include <QSslCertificate>
#include <QUrl>
#include <memory>

class QTcpSocket;

// A GET of a station's playlist address on Qt's sockets, on the calling
// thread, bounded everywhere a server could push: at most MaxHeaderLines
// header lines in MaxHeaderBytes, a body of at most the given size, at most
// MaxRedirects redirects and never one from https to http, and no
// compression asked for (a compressed body is taken as it comes, so nothing
// is ever inflated). Whatever it meets costs a bounded amount of work, and
// destroying it closes the connection at once.
class PlaylistFetch : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxHeaderBytes = 16 * 1024;
    static constexpr int MaxHeaderLines = 100;
    static constexpr int MaxRedirects = 5;

    // Over https the server's certificate must chain to `trusted`, or to the
    // system's store when that is empty.
    PlaylistFetch(const QUrl& url, qint64 maxBody, const QList<QSslCertificate>& trusted = {}, QObject* parent = nullptr);
    ~PlaylistFetch() override;

    // Closes the connection; nothing is reported any more. Safe from inside
    // a handler of this fetch's own signals.
    void Stop();

signals:
    // Body bytes arrived: the address answered (after redirects) with this
    // content type and, so far, this body.
    void Progress(const QUrl& url, const QString& contentType, const QByteArray& body);
    // The whole body of a successful reply.
    void Finished(const QByteArray& body);
    // Refused, unreachable, a bad or oversized reply, too many redirects.
    void Failed(const QString& why);

private:
    void Open(const QUrl& url);
    void OnReadable();
    void OnClosed();
    bool ReadHead();
    bool ReadBody();
    void Finish();
    void Fail(const QString& why);

    QUrl m_url;
    qint64 m_maxBody;
    QList<QSslCertificate> m_trusted;
    int m_redirects = 0;
    bool m_stopped = false;
    std::unique_ptr<QTcpSocket> m_socket;
    QByteArray m_buffer;       // received, not yet taken apart
    bool m_inBody = false;
    QString m_contentType;
    qint64 m_contentLength = -1;
    bool m_chunked = false;
    qint64 m_chunkLeft = 0;    // of the current chunk; -1 while its size line is awaited
    QByteArray m_body;
};
