#pragma once

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

// Connects to the first of a host's addresses that answers, as browsers do
// (RFC 8305): each next address is tried once the last try has had
// `StaggerMs` without an answer, or at once when it fails, and the first
// connection made wins. An address that drops packets then costs a quarter
// of a second instead of the system's whole connect timeout.
class AddressRace : public QObject {
    Q_OBJECT
public:
    static constexpr int StaggerMs = 250;

    // `makeSocket` makes each try's socket, not yet connected.
    explicit AddressRace(std::function<QTcpSocket*()> makeSocket, QObject* parent = nullptr);
    ~AddressRace() override;

    // The host's addresses, by name (looked up first) or as an address.
    // Each start ends any race before.
    void Start(const QString& host, quint16 port);
    // An empty list fails at once.
    void Start(const QList<QHostAddress>& addresses, quint16 port);
    // Closes every try; nothing is reported any more.
    void Stop() { CloseAll(); }

signals:
    // Connected; the socket is the receiver's, the other tries are closed.
    void Won(QTcpSocket* socket);
    // Every address failed: the last failure.
    void Lost(QAbstractSocket::SocketError error, const QString& why);

private:
    void TryNext();
    void OnFailed(QTcpSocket* socket);
    // Out of the tries, and no longer heard.
    std::unique_ptr<QTcpSocket> Take(QTcpSocket* socket);
    void CloseAll();

    const std::function<QTcpSocket*()> m_makeSocket;
    int m_lookup = -1; // the host name's lookup while it runs
    QList<QHostAddress> m_addresses;
    quint16 m_port = 0;
    qsizetype m_next = 0;
    std::vector<std::unique_ptr<QTcpSocket>> m_tries;
    QTimer m_stagger;
};
