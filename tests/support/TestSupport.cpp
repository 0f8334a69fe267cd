#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <unistd.h>

QString OwnLoopbackAddress(int suite)
{
    const int pid = int(getpid());
    return QStringLiteral("127.%1.%2.%3").arg(100 + suite).arg((pid >> 8) & 0xff).arg(1 + (pid & 0xff) % 254);
}

QString SourceDir()
{
    return qEnvironmentVariable("SONVALE_SOURCE_DIR");
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

int Run(const QString& program, const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

Station::Station(const QString& address, const QString& tlsPem)
    : m_address(address)
{
    Call(tlsPem.isEmpty() ? QStringList{"start"} : QStringList{"start", "--tls", tlsPem});
}

Station::~Station()
{
    Call({"stop"});
}

void Station::Call(const QStringList& arguments)
{
    const QString script = SourceDir() + "/scripts/station";
    const int code = Run(script, arguments + QStringList{"--address", m_address, "--dir", m_dir.path()});
    if (code != 0)
        qWarning("station %s failed with %d", qPrintable(arguments.join(' ')), code);
}

QString Station::PlaylistUrl(const QString& mount) const
{
    return QStringLiteral("http://%1:8000/%2.m3u").arg(m_address, mount);
}

void Station::Drop(const QString& mount) { Call({"drop", mount}); }
void Station::Restore(const QString& mount) { Call({"restore", mount}); }
void Station::SetTitle(const QString& mount, const QString& title) { Call({"title", mount, title}); }

int Station::PlaylistRequests(const QString& mount) const
{
    QFile log(m_dir.path() + "/log/access.log");
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return int(QString::fromUtf8(log.readAll()).count(QStringLiteral("GET /%1.m3u ").arg(mount)));
}

TestCertificates::TestCertificates()
{
    OpenSsl("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=Sonvale-Test-CA -keyout "
        + m_dir.filePath("ca.key") + " -out " + Authority());
}

bool TestCertificates::OpenSsl(const QString& arguments) const
{
    return Run("openssl", arguments.split(' '), 30000) == 0;
}

void TestCertificates::Issue(const QString& name, const QString& address, int days, bool selfSigned)
{
    const QString base = m_dir.filePath(name);
    QFile extensions(base + ".cnf");
    if (extensions.open(QIODevice::WriteOnly))
        extensions.write("subjectAltName=IP:" + address.toUtf8() + "\n");
    extensions.close();
    const QString key = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=" + address + " -keyout " + base + ".key";
    if (selfSigned)
        OpenSsl("req -x509 " + key + " -days 2 -out " + base + ".pem");
    else if (OpenSsl("req " + key + " -out " + base + ".csr"))
        OpenSsl(QStringLiteral("x509 -req -days %1 -in %2.csr -CA %3 -CAkey %4 -CAcreateserial -extfile %2.cnf -out %2.pem")
                    .arg(days).arg(base, Authority(), m_dir.filePath("ca.key")));
}

QString TestCertificates::Combined(const QString& name) const
{
    QFile pem(Certificate(name)), key(Key(name)), both(m_dir.filePath(name + ".all.pem"));
    if (pem.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly) && both.open(QIODevice::WriteOnly))
        both.write(pem.readAll() + key.readAll());
    return both.fileName();
}

HttpFixture::HttpFixture(const QString& address, int port)
    : m_address(address)
    , m_port(port)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start("python3", {SourceDir() + "/tests/support/http_fixture.py", address, QString::number(port)});
    m_process.waitForReadyRead(10000); // it prints one line once it listens
}

HttpFixture::~HttpFixture()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString HttpFixture::Url(const QString& path) const
{
    return QStringLiteral("http://%1:%2%3").arg(m_address).arg(m_port).arg(path);
}

QString RecordingSink(const QString& path)
{
    return QStringLiteral("audioconvert ! audioresample ! audio/x-raw,format=S16LE,rate=44100,channels=1 ! "
                          "filesink sync=true location=%1")
        .arg(path);
}

double RecordedSeconds(const QString& path)
{
    return QFileInfo(path).size() / (44100.0 * 2);
}

namespace {
// One figure of sox's statistics of the last seconds of a recording; -1 if none.
double RecordedStatistic(const QString& path, double seconds, const QString& name)
{
    const double start = std::max(0.0, RecordedSeconds(path) - seconds);
    QProcess sox;
    sox.start("sox", {"-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "1", path, "-n", "trim",
                         QString::number(start, 'f', 3), "stat"});
    if (!sox.waitForFinished(30000))
        return -1;
    const QString report = QString::fromUtf8(sox.readAllStandardError());
    const auto match = QRegularExpression(name + ":\\s+(-?[\\d.]+)").match(report);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}
} // namespace

double RecordedFrequency(const QString& path, double seconds)
{
    return RecordedStatistic(path, seconds, "Rough\\s+frequency");
}

double RecordedLoudness(const QString& path, double seconds)
{
    return RecordedStatistic(path, seconds, "RMS\\s+amplitude");
}

ProxyServer::ProxyServer(const QString& address, const QMap<QString, QString>& hosts, const QString& user,
    const QString& password)
    : m_address(address)
    , m_user(user)
    , m_password(password)
{
    // Squid drops to its own user when started as root: it must still reach its files.
    QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
    QFile hostsFile(m_dir.filePath("hosts"));
    hostsFile.open(QIODevice::WriteOnly);
    for (auto host = hosts.begin(); host != hosts.end(); ++host)
        hostsFile.write((host.value() + ' ' + host.key() + '\n').toUtf8());
    hostsFile.close();
    QStringList config = {
        QStringLiteral("http_port %1:3128").arg(address),
        "pid_filename " + m_dir.filePath("squid.pid"),
        "access_log stdio:" + m_dir.filePath("access.log"),
        "cache_log " + m_dir.filePath("cache.log"),
        "cache_store_log none",
        "hosts_file " + m_dir.filePath("hosts"),
        "cache deny all",
        "shutdown_lifetime 0 seconds",
        "forwarded_for delete",
    };
    if (!user.isEmpty()) {
        Run("sh", {"-c", QStringLiteral("printf '%1:%s\\n' \"$(openssl passwd -1 '%2')\" > '%3'")
                             .arg(user, password, m_dir.filePath("passwd"))});
        config << "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + m_dir.filePath("passwd")
               << "acl listeners proxy_auth REQUIRED" << "http_access deny !listeners";
    }
    // Debian's own access rules, as the package ships them.
    QFile stock(QStringLiteral("/etc/squid/squid.conf"));
    stock.open(QIODevice::ReadOnly);
    for (const QByteArray& line : stock.readAll().split('\n'))
        if (line.startsWith("acl ") || line.startsWith("http_access "))
            config << QString::fromUtf8(line);
    QFile conf(m_dir.filePath("squid.conf"));
    conf.open(QIODevice::WriteOnly);
    conf.write(config.join('\n').toUtf8() + '\n');
    conf.close();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/sbin/squid"), {"-N", "-f", m_dir.filePath("squid.conf")});
    const bool listening = WaitUntil([&] {
        QTcpSocket probe;
        probe.connectToHost(address, 3128);
        return probe.waitForConnected(200);
    }, 20000);
    if (!listening)
        qWarning("squid did not start on %s:3128", qPrintable(address));
}

ProxyServer::~ProxyServer()
{
    m_process.kill();
    m_process.waitForFinished();
}

QString ProxyServer::Url(bool withCredentials) const
{
    const QString credentials = withCredentials && !m_user.isEmpty() ? m_user + ':' + m_password + '@' : QString();
    return QStringLiteral("http://%1%2:3128").arg(credentials, m_address);
}

QStringList ProxyServer::Log() const
{
    QFile log(m_dir.filePath("access.log"));
    log.open(QIODevice::ReadOnly);
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}
