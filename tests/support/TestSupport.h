#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

// A loopback address of this test process's own (127.N.x.y), so that servers
// on the fixed port 8000 of parallel test runs never meet.
QString OwnLoopbackAddress(int suite);

QString SourceDir();

// Polls the event loop until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// Runs a command to its end (at most timeoutMs) and returns its exit code;
// its output goes to the test's own output.
int Run(const QString& program, const QStringList& arguments, int timeoutMs = 60000);

// A certificate authority of the test's own (made with openssl), and
// certificates it signs for an IP address.
class TestCertificates {
public:
    TestCertificates();
    QString Authority() const { return m_dir.filePath("ca.pem"); }
    // A certificate NAME for the address, signed by the authority or, with
    // `selfSigned`, by itself; `days` -1 gives one that expired yesterday.
    void Issue(const QString& name, const QString& address, int days = 1, bool selfSigned = false);
    QString Certificate(const QString& name) const { return m_dir.filePath(name + ".pem"); }
    QString Key(const QString& name) const { return m_dir.filePath(name + ".key"); }
    // Certificate and key in one file, as Icecast takes them.
    QString Combined(const QString& name) const;

private:
    bool OpenSsl(const QString& arguments) const;
    QTemporaryDir m_dir;
};

// The local station of scripts/station, started on an address of its own
// and stopped (every process by its pid) when this goes away.
class Station {
public:
    // With `tlsPem` the station also serves https on port 8443.
    explicit Station(const QString& address, const QString& tlsPem = {});
    ~Station();
    QString Address() const { return m_address; }
    QString PlaylistUrl(const QString& mount) const;
    QString Directory() const { return m_dir.path(); }
    void Drop(const QString& mount);
    void Restore(const QString& mount);
    void SetTitle(const QString& mount, const QString& title);
    int PlaylistRequests(const QString& mount) const;

private:
    void Call(const QStringList& arguments);
    QString m_address;
    QTemporaryDir m_dir;
};

// tests/support/http_fixture.py serving its fixed routes on address:port.
class HttpFixture {
public:
    HttpFixture(const QString& address, int port);
    ~HttpFixture();
    QString Url(const QString& path) const;

private:
    QString m_address;
    int m_port;
    QProcess m_process;
};

// A real Squid proxy on ADDRESS:3128 with Debian's stock access rules (CONNECT
// only to port 443, plain requests from this machine). The names in `hosts`
// resolve for it alone, so the programs reach them only through it; with a
// user and password it asks for them (Basic).
class ProxyServer {
public:
    ProxyServer(const QString& address, const QMap<QString, QString>& hosts, const QString& user = {},
        const QString& password = {});
    ~ProxyServer();
    // http://ADDRESS:3128, with the user and password if asked.
    QString Url(bool withCredentials = false) const;
    // Squid's access log: one line a request ("TCP_MISS/200 … GET http://…").
    QStringList Log() const;

private:
    QTemporaryDir m_dir;
    QString m_address;
    QString m_user;
    QString m_password;
    QProcess m_process;
};

// An audio sink description that records raw 16-bit mono 44.1 kHz PCM in
// real time, as a sound card would take it.
QString RecordingSink(const QString& path);
double RecordedSeconds(const QString& path);
// sox's "Rough frequency" of the last `seconds` of a raw recording; -1 if unknown.
double RecordedFrequency(const QString& path, double seconds = 2.0);
// sox's RMS amplitude of the last seconds (0 silence, 1 full scale).
double RecordedLoudness(const QString& path, double seconds = 1.0);
