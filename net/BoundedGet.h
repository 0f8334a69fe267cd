#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSslCertificate>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "ProxySettings.h"

class AddressRace;
class QTcpSocket;

// How much a server may send, and how long it may take. Whatever it does,
// a request costs a bounded amount of work.
struct GetLimits {
    int maxHeaderBytes = 16 * 1024;
    int maxHeaderLines = 100;
    qint64 maxBodyBytes = 64 * 1024; // a larger body fails; below 0 the body is only streamed, never kept
    int maxRedirects = 5;
    int inactivityMs = 30000;        // no byte for this long fails it
    int deadlineMs = 0;              // the whole request, redirects included; 0: none
    int graceMs = 0;                 // the throughput floor holds from this long on
    qint64 floorBytesPerSecond = 0;  // 0: none
    QByteArray userAgent;            // the program and its version, as "name/version"; empty: none said
};

// What kind of failure ended a request.
enum class GetProblem {
    None,
    Unreachable, // refused, unreachable, unknown host, too slow, cut off
    Certificate, // the server could not prove who it is
    BadReply,    // the reply broke a bound or was not HTTP
    Proxy,       // the proxy could not be reached or refused the request
};

// The certificates an https server must chain to: the system's store plus
// the PEM file's (a station's own authority); empty (the system's store
// alone) when no file is named or it holds none.
QList<QSslCertificate> TrustedWith(const QString& pemFile);

// One HTTP GET on Qt's sockets, on the calling thread: bounded head (lines
// and bytes), bounded body, bounded redirects and never one from https to
// something less safe, no compression asked for (nothing is ever inflated),
// an inactivity timeout, a deadline and a throughput floor. Any status is
// reported with its body; callers decide what a status means. Destroying it
// closes the connection at once.
//
// Through an http proxy a plain-http request is forwarded (its address in
// full, with the proxy's user and password as Basic credentials); https is
// tunnelled to the server's own port, and a socks5 proxy carries anything.
class BoundedGet : public QObject {
    Q_OBJECT
public:
    // Over https the server's certificate must chain to `trusted`, or to the
    // system's store when that is empty. `proxies` says which proxy, if any,
    // each request (redirects included) goes through.
    BoundedGet(const QUrl& url, const GetLimits& limits, const QList<QSslCertificate>& trusted = {},
        const ProxySettings& proxies = {}, QObject* parent = nullptr);
    ~BoundedGet() override;

    // Closes the connection; nothing is reported any more. Safe from inside
    // a handler of this request's own signals.
    void Stop();

    QUrl Url() const { return m_url; } // after redirects
    int Status() const { return m_status; }
    QString ContentType() const { return m_contentType; }
    // The reply is the proxy's own (it asked for credentials, or said it
    // refused or could not serve the request), not the server's.
    bool FromProxy() const { return m_fromProxy; }
    // The body so far (nothing when the limits say it is only streamed).
    const QByteArray& Body() const { return m_body; }
    // Once Failed: what kind of failure it was.
    GetProblem Problem() const { return m_problem; }

signals:
    // The final reply's head has arrived: Url, Status and ContentType are known.
    void Head();
    // Body bytes, as they arrive.
    void Data(const QByteArray& chunk);
    void Finished();
    // Refused, unreachable, too slow, a bad or oversized reply, too many
    // redirects, cut off.
    void Failed(const QString& why);

private:
    void Open(const QUrl& url);
    QTcpSocket* MakeSocket(bool secure) const;
    void Use(QTcpSocket* socket, const QByteArray& request);
    void CloseConnection();
    void DropConnection();
    void OnReadable();
    void OnClosed();
    bool ReadHead();
    bool ReadBody();
    bool TakeBody(const QByteArray& bytes);
    void CheckPace();
    void Finish();
    void Fail(const QString& why, GetProblem problem = GetProblem::Unreachable);

    const GetLimits m_limits;
    const QList<QSslCertificate> m_trusted;
    const ProxySettings m_proxies;
    bool m_forwarded = false;  // this request goes to an http proxy in full
    bool m_fromProxy = false;
    QUrl m_url;
    int m_redirects = 0;
    bool m_stopped = false;
    std::unique_ptr<AddressRace> m_race;
    std::unique_ptr<QTcpSocket> m_socket;
    QByteArray m_buffer;       // received, not yet taken apart
    bool m_inBody = false;
    int m_status = 0;
    GetProblem m_problem = GetProblem::None;
    QString m_contentType;
    qint64 m_contentLength = -1;
    bool m_chunked = false;
    qint64 m_chunkLeft = 0;    // of the current chunk; -1 while its size line is awaited
    qint64 m_received = 0;     // bytes read, for the throughput floor
    qint64 m_streamed = 0;     // body bytes of this reply taken so far
    QByteArray m_body;
    QElapsedTimer m_running;
    QTimer m_inactivity;
    QTimer m_pace;
};
