#include "AddressRace.h"

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
        const auto won = std::find_if(m_tries.begin(), m_tries.end(), [socket](const auto& t) { return t.get() == socket; });
        QTcpSocket* winner = won->release();
        m_tries.erase(won);
        winner->disconnect(this);
        CloseAll();
        emit Won(winner);
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { OnFailed(socket); });
    socket->connectToHost(m_addresses.at(m_next++), m_port);
    if (m_next < m_addresses.size())
        m_stagger.start(StaggerMs);
}

void AddressRace::OnFailed(QTcpSocket* socket)
{
    const QAbstractSocket::SocketError error = socket->error();
    const QString why = socket->errorString();
    const auto failed = std::find_if(m_tries.begin(), m_tries.end(), [socket](const auto& t) { return t.get() == socket; });
    if (failed == m_tries.end())
        return;
    socket->disconnect(this);
    // Inside this socket's own signal: deleted once it has returned.
    failed->release()->deleteLater();
    m_tries.erase(failed);
    if (m_next < m_addresses.size()) {
        m_stagger.stop();
        TryNext();
    } else if (m_tries.empty()) {
        emit Lost(error, why);
    }
}

void AddressRace::CloseAll()
{
    m_stagger.stop();
    for (auto& socket : m_tries) {
        socket->disconnect(this);
        socket->abort();
    }
    m_tries.clear();
}
