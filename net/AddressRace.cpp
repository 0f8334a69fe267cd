#include "AddressRace.h"

#include <QHostInfo>
#include <QTcpSocket>
#include <algorithm>

AddressRace::AddressRace(std::function<QTcpSocket*()> makeSocket, QObject* parent)
    : QObject(parent)
    , m_makeSocket(std::move(makeSocket))
{
    m_stagger.setSingleShot(true);
    connect(&m_stagger, &QTimer::timeout, this, &AddressRace::TryNext);
}

AddressRace::~AddressRace()
{
    CloseAll();
}

void AddressRace::Start(const QString& host, quint16 port)
{
    if (QHostAddress address; address.setAddress(host)) {
        Start({address}, port);
        return;
    }
    CloseAll();
    m_lookup = QHostInfo::lookupHost(host, this, [this, port](const QHostInfo& info) {
        m_lookup = -1;
        if (info.error() != QHostInfo::NoError)
            emit Lost(QAbstractSocket::HostNotFoundError, info.errorString());
        else
            Start(info.addresses(), port);
    });
}

void AddressRace::Start(const QList<QHostAddress>& addresses, quint16 port)
{
    CloseAll();
    m_addresses = addresses;
    m_port = port;
    m_next = 0;
    if (m_addresses.isEmpty()) {
        // Reported from the event loop, as every other outcome.
        QTimer::singleShot(0, this, [this] { emit Lost(QAbstractSocket::HostNotFoundError, QStringLiteral("the host has no address")); });
        return;
    }
    TryNext();
}

void AddressRace::TryNext()
{
    if (m_next >= m_addresses.size())
        return;
    QTcpSocket* socket = m_makeSocket();
    m_tries.emplace_back(socket);
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        QTcpSocket* winner = Take(socket).release();
        CloseAll();
        emit Won(winner);
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { OnFailed(socket); });
    socket->connectToHost(m_addresses.at(m_next++), m_port);
    if (m_next < m_addresses.size())
        m_stagger.start(StaggerMs);
}

std::unique_ptr<QTcpSocket> AddressRace::Take(QTcpSocket* socket)
{
    const auto found = std::find_if(m_tries.begin(), m_tries.end(), [socket](const auto& t) { return t.get() == socket; });
    if (found == m_tries.end())
        return {};
    std::unique_ptr<QTcpSocket> taken = std::move(*found);
    m_tries.erase(found);
    taken->disconnect(this);
    return taken;
}

void AddressRace::OnFailed(QTcpSocket* socket)
{
    std::unique_ptr<QTcpSocket> failed = Take(socket);
    if (!failed)
        return;
    const QAbstractSocket::SocketError error = failed->error();
    const QString why = failed->errorString();
    // Inside this socket's own signal: deleted once it has returned.
    failed.release()->deleteLater();
    if (m_next < m_addresses.size()) {
        m_stagger.stop();
        TryNext();
    } else if (m_tries.empty()) {
        emit Lost(error, why);
    }
}

void AddressRace::CloseAll()
{
    if (m_lookup >= 0) {
        QHostInfo::abortHostLookup(m_lookup);
        m_lookup = -1;
    }
    m_stagger.stop();
    for (auto& socket : m_tries) {
        socket->disconnect(this);
        socket->abort();
    }
    m_tries.clear();
}
