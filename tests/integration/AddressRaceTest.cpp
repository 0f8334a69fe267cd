// Connecting to a host with several addresses: the first that answers wins,
// however long the others stay silent.
#include "AddressRace.h"
#include "TestSupport.h"

#include <QTest>
#include <QTcpServer>
#include <QTcpSocket>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listener whose queue is full: a connection to it is neither taken nor
// refused, its packets are dropped, as at a dead relay or a route that leads
// nowhere.
class SilentListener {
public:
    SilentListener(const QString& address, quint16 port)
    {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        inet_pton(AF_INET, address.toLatin1().constData(), &where.sin_addr);
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        m_filler = socket(AF_INET, SOCK_STREAM, 0);
        m_ready = bind(m_listener, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 && listen(m_listener, 0) == 0
            && ::connect(m_filler, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    }
    ~SilentListener()
    {
        close(m_filler);
        close(m_listener);
    }
    bool Ready() const { return m_ready; }

private:
    int m_listener = -1;
    int m_filler = -1;
    bool m_ready = false;
};

} // namespace

TEST(AddressRace, TheFirstAddressThatAnswersWinsWhetherTheOthersAreSilentOrRefuse)
{
    const QString silent = OwnLoopbackAddress(20), refusing = OwnLoopbackAddress(21), answering = OwnLoopbackAddress(22);
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress(answering)));
    const quint16 port = server.serverPort();
    SilentListener dead(silent, port);
    ASSERT_TRUE(dead.Ready());

    AddressRace race([] { return new QTcpSocket; });
    std::vector<std::unique_ptr<QTcpSocket>> won;
    std::vector<QAbstractSocket::SocketError> lost;
    QObject::connect(&race, &AddressRace::Won, [&](QTcpSocket* socket) { won.emplace_back(socket); });
    QObject::connect(&race, &AddressRace::Lost, [&](QAbstractSocket::SocketError error) { lost.push_back(error); });
    // Without the race, the silent address would hold the connection for
    // the system's whole connect timeout, far beyond this wait.
    race.Start({QHostAddress(silent), QHostAddress(refusing), QHostAddress(answering)}, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !won.empty(); }, 3000));
    EXPECT_EQ(won.front()->peerAddress(), QHostAddress(answering));
    EXPECT_EQ(won.front()->state(), QAbstractSocket::ConnectedState);
    QTest::qWait(AddressRace::StaggerMs * 2);
    EXPECT_TRUE(lost.empty()) << "the losing tries were closed, not reported";

    race.Start({QHostAddress(refusing), QHostAddress(OwnLoopbackAddress(23))}, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lost.empty(); }, 3000)) << "every address refused";
    EXPECT_EQ(lost.front(), QAbstractSocket::ConnectionRefusedError);
    EXPECT_EQ(won.size(), 1u);
}
