// libFuzzer target: whatever a server answers the bounded GET, its head and
// its body, plain, with a length or in chunks. Each input is one reply from
// a loopback server; redirects are never followed, so nothing else is asked.
#include "BoundedGet.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr qint64 MaxBody = 4096;

QTcpServer& Server()
{
    static int argc = 1;
    static char name[] = "fuzz_http_reply";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTcpServer server;
    if (!server.isListening() && !server.listen(QHostAddress::LocalHost, 0))
        std::abort();
    return server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QTcpServer& server = Server();
    const QByteArray reply(reinterpret_cast<const char*>(data), qsizetype(size));
    QEventLoop loop;
    const auto answer = QObject::connect(&server, &QTcpServer::newConnection, &loop, [&] {
        QTcpSocket* client = server.nextPendingConnection();
        client->write(reply);
        client->disconnectFromHost();
        QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    });
    GetLimits limits;
    limits.maxBodyBytes = MaxBody;
    limits.maxHeaderBytes = 2048;
    limits.maxHeaderLines = 20;
    limits.maxRedirects = 0;
    limits.inactivityMs = 1000;
    BoundedGet get(QUrl(QStringLiteral("http://127.0.0.1:%1/list.m3u").arg(server.serverPort())), limits);
    qint64 streamed = 0;
    QObject::connect(&get, &BoundedGet::Data, [&](const QByteArray& chunk) { streamed += chunk.size(); });
    QObject::connect(&get, &BoundedGet::Finished, &loop, &QEventLoop::quit);
    QObject::connect(&get, &BoundedGet::Failed, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, [] { std::abort(); }); // every reply ends, one way or the other
    loop.exec();
    QObject::disconnect(answer);
    if (get.Body().size() > MaxBody + 64 * 1024 || streamed > MaxBody + 64 * 1024)
        std::abort(); // the body bound holds, whatever the reply said of its length
    return 0;
}
