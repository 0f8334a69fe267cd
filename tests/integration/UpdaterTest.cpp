// The updater's flow against a real local HTTP server, with the message
// boxes and the process start behind a seam the tests answer and watch.
#include "BoundedGet.h"
#include "MainModule.h"
#include "StationConfig.h"
#include "TestSupport.h"
#include "UpdaterPlatform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

// A station's update key, made with the real minisign tool as a station
// would, and signatures made with it.
class StationKey {
public:
    StationKey()
    {
        EXPECT_EQ(::Run("minisign", {"-G", "-W", "-p", m_dir.filePath("key.pub"), "-s", m_dir.filePath("key.sec")}), 0);
    }
    QByteArray PublicLine() const
    {
        QFile file(m_dir.filePath("key.pub"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().split('\n').value(1);
    }
    QByteArray Sign(const QByteArray& patch, const QString& trustedComment, bool legacy = false) const
    {
        QFile file(m_dir.filePath("patch"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(patch);
        file.close();
        QStringList arguments{"-S", "-s", m_dir.filePath("key.sec"), "-m", file.fileName(), "-t", trustedComment, "-x",
            m_dir.filePath("patch.minisig")};
        if (legacy)
            arguments << "-l";
        EXPECT_EQ(::Run("minisign", arguments), 0);
        QFile signature(m_dir.filePath("patch.minisig"));
        EXPECT_TRUE(signature.open(QIODevice::ReadOnly));
        return signature.readAll();
    }

private:
    QTemporaryDir m_dir;
};

// What the updater says of why it ended (its category, on for the test).
class UpdaterLog {
public:
    UpdaterLog()
    {
        QLoggingCategory::setFilterRules("sonvale.updater=true");
        s_lines = &lines;
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& text) {
            if (s_lines && qstrcmp(context.category, "sonvale.updater") == 0)
                *s_lines << text;
        });
    }
    ~UpdaterLog()
    {
        qInstallMessageHandler(m_previous);
        s_lines = nullptr;
        QLoggingCategory::setFilterRules("sonvale.updater=false");
    }
    QString Last() const { return lines.value(lines.size() - 1); }
    QStringList lines;

private:
    static inline QStringList* s_lines = nullptr;
    QtMessageHandler m_previous;
};

const QString Question = "A new version of Radio Velmora Player is available. Would you like to install it?";
const QString Note = "Please close and re-open the player at your earliest convenience.";

class AnsweringPlatform : public UpdaterPlatform {
public:
    bool AskYesNo(const QString& question, const QString& title) override
    {
        log << QStringLiteral("ask %1: %2").arg(title, question);
        patchAtQuestion = QFile(tempPath + "patch.exe").size();
        return answer;
    }
    void Inform(const QString& note, const QString& title) override { log << QStringLiteral("note %1: %2").arg(title, note); }
    void StartProcess(const QString& program) override
    {
        log << "start " + program;
        executableAtStart = QFileInfo(program).isExecutable();
        if (startFails)
            throw std::runtime_error("cannot start");
    }
    QString TempPath() override { return tempPath; }

    QStringList log;
    QString tempPath;
    bool answer = true;
    bool startFails = false;
    bool executableAtStart = false;
    qint64 patchAtQuestion = -1;
};

class UpdaterFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        address = OwnLoopbackAddress(4);
        scenario = new QTemporaryDir;
        service = new QProcess;
        service->start("python3", {SourceDir() + "/tests/support/update_service.py", address, "8080", scenario->path()});
        service->waitForReadyRead(10000);
    }
    static void TearDownTestSuite()
    {
        service->terminate();
        service->waitForFinished(5000);
        delete service;
        delete scenario;
    }
    void SetUp() override
    {
        for (const QString& name : QDir(scenario->path()).entryList(QDir::Files))
            QFile::remove(scenario->filePath(name));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
        platform.tempPath = temp.path() + "/";
        options.serviceBase = ServiceBase(address + ":8080");
        options.inactivityTimeoutMs = 1500;
        options.checkDeadlineMs = 2000;
        options.patchGraceMs = 1000;
    }
    static void Scenario(const QString& name, const QByteArray& content)
    {
        QFile file(scenario->filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    static void Check(const QByteArray& bodyText) { Scenario("check.body", "<html><body>" + bodyText + "</body></html>"); }
    static QStringList Requests()
    {
        QFile file(scenario->filePath("requests.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
    }
    QByteArray Patch() const
    {
        QFile file(platform.tempPath + "patch.exe");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
    void Run() { MainModule::Main(platform, options); }
    void ExpectSilentEndWithoutPatch()
    {
        EXPECT_TRUE(platform.log.isEmpty()) << platform.log.join(" | ").toStdString();
        EXPECT_EQ(Patch(), "<none>");
        EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden).size(), 0) << "nothing half-written";
    }

    static QString address;
    static QTemporaryDir* scenario;
    static QProcess* service;
    QTemporaryDir config, temp;
    AnsweringPlatform platform;
    MainModule::Options options;
};
QString UpdaterFlow::address;
QTemporaryDir* UpdaterFlow::scenario = nullptr;
QProcess* UpdaterFlow::service = nullptr;

} // namespace

TEST_F(UpdaterFlow, LatestVersionEndsWithoutDownloadOrQuestionWhateverTheStatus)
{
    for (const QByteArray& status : {QByteArray("200"), QByteArray("500")}) {
        Scenario("check.status", status);
        Run();
        ExpectSilentEndWithoutPatch();
    }
    Scenario("check.status", "200");
    Scenario("check.body", "<?xml version=\"1.0\"?>\n<html>\n  <body>\n    true\n  </body>\n</html>\n");
    Run();
    ExpectSilentEndWithoutPatch();
    EXPECT_EQ(Requests(), QStringList(3, "/player/isclientlatestversion.php?version=0100000000"))
        << "a pretty-printed reply means the latest too";
}

TEST_F(UpdaterFlow, StoredVersionIsSentPercentEncoded)
{
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Radio Velmora").setValue("Player/Version", "1.2 beta&x=1");
    Run();
    EXPECT_EQ(Requests(), QStringList{"/player/isclientlatestversion.php?version=1.2%20beta%26x%3D1"});
    EXPECT_TRUE(QFile::exists(config.filePath("Radio Velmora.ini")));
}

TEST_F(UpdaterFlow, NewerVersionDownloadsAsksNotesAndStartsThePatch)
{
    for (const QByteArray& text : {QByteArray("false"), QByteArray("TRUE"), QByteArray(" TRUE\n")}) {
        SCOPED_TRACE(text.toStdString());
        Check(text);
        Scenario("patch.body", "#!/bin/sh\necho patched\n");
        QFile old(platform.tempPath + "patch.exe");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'x')); // a longer patch from an earlier run
        old.close();
        platform.log.clear();
        Run();
        const QString path = platform.tempPath + "patch.exe";
        EXPECT_EQ(platform.log, (QStringList{"ask Radio Velmora Updater: " + Question,
                                     "note Radio Velmora Updater: " + Note, "start " + path}));
        EXPECT_EQ(Patch(), "#!/bin/sh\necho patched\n") << "replaced whole";
        EXPECT_EQ(platform.patchAtQuestion, 23) << "the patch is complete before anything is asked";
        EXPECT_TRUE(platform.executableAtStart);
    }
}

TEST_F(UpdaterFlow, AnsweringNoStartsNothingAndKeepsThePatch)
{
    Check("false");
    Scenario("patch.body", "PATCH");
    platform.answer = false;
    Run();
    EXPECT_EQ(platform.log, QStringList{"ask Radio Velmora Updater: " + Question});
    EXPECT_EQ(Patch(), "PATCH");
}

TEST_F(UpdaterFlow, PatchThatCannotBeStartedEndsSilentlyAfterBothBoxes)
{
    Check("false");
    Scenario("patch.body", "PATCH");
    platform.startFails = true;
    Run();
    EXPECT_EQ(platform.log.size(), 3);
}

TEST_F(UpdaterFlow, UnusableCheckRepliesEndSilently)
{
    // Malformed replies say nothing, whatever part of a tree a parser keeps.
    const QByteArray replies[] = {"true", "<xml><body>true</body></xml>", "<html><head/></html>",
        "<html><body>true</body>", "", "<html><body>tr", "<html><body>true", QByteArray("<html><body>tr\0ue</body></html>", 30),
        "<html><body>" + QByteArray("<a>").repeated(21000) + "true",
        "<?xml version=\"1.0\"?><!DOCTYPE html [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]><html><body>&e;</body></html>"};
    for (const QByteArray& reply : replies) {
        Scenario("check.body", reply);
        Run();
        ExpectSilentEndWithoutPatch();
    }
    Scenario("check.size", QByteArray::number(10 * 1024 * 1024));
    Run();
    ExpectSilentEndWithoutPatch();

    // A head that never ends is given up at its bound, not at the deadline.
    Scenario("check.mode", "endless-head");
    options.checkDeadlineMs = 60000;
    QElapsedTimer clock;
    clock.start();
    Run();
    EXPECT_LT(clock.elapsed(), 20000);
    ExpectSilentEndWithoutPatch();
    EXPECT_FALSE(Requests().contains("/player/patch.exe"));
}

TEST_F(UpdaterFlow, TricklingServicesEndSilentlyWithinTheirTime)
{
    Scenario("check.mode", "trickle");
    Scenario("check.body", "<html><body>false</body></html>" + QByteArray(1000, ' '));
    QElapsedTimer clock;
    clock.start();
    Run();
    EXPECT_LT(clock.elapsed(), 8000) << "the check has its deadline, however often a byte comes";
    ExpectSilentEndWithoutPatch();
    EXPECT_FALSE(Requests().contains("/player/patch.exe"));

    Check("false");
    Scenario("check.mode", "normal");
    Scenario("patch.mode", "trickle");
    Scenario("patch.body", QByteArray(100000, 'p'));
    clock.restart();
    Run();
    EXPECT_LT(clock.elapsed(), 8000) << "a patch below its floor is given up";
    ExpectSilentEndWithoutPatch();
}

TEST_F(UpdaterFlow, OverHttpsTheServiceMustProveItselfAndNeverSendsUsBackToHttp)
{
    // The service's certificate for its own address, one for another address,
    // one that expired yesterday, and one that signed itself.
    TestCertificates certificates;
    certificates.Issue("good", address);
    certificates.Issue("elsewhere", "127.0.0.99");
    certificates.Issue("expired", address, -1);
    certificates.Issue("self", address, 2, true);
    std::vector<std::unique_ptr<QProcess>> services;
    for (const auto& [port, name] : {std::pair{8443, "good"}, std::pair{8444, "elsewhere"}, std::pair{8445, "self"},
             std::pair{8446, "expired"}}) {
        services.push_back(std::make_unique<QProcess>());
        services.back()->start("python3", {SourceDir() + "/tests/support/update_service.py", address, QString::number(port),
            scenario->path(), certificates.Certificate(name), certificates.Key(name)});
        ASSERT_TRUE(services.back()->waitForReadyRead(10000));
    }
    options.trusted = TrustedWith(certificates.Authority());
    ASSERT_FALSE(options.trusted.isEmpty());
    StationKey key;
    options.updateKey = key.PublicLine();
    Check("false");
    Scenario("patch.body", "PATCH");
    Scenario("sig.body", key.Sign("PATCH", "version=0100000059"));

    options.serviceBase = ServiceBase("https://" + address + ":8443");
    Run();
    EXPECT_EQ(platform.log.size(), 3) << "the service proved itself: checked, downloaded, asked, started";
    EXPECT_EQ(Patch(), "PATCH");
    QFile::remove(platform.tempPath + "patch.exe");
    platform.log.clear();
    for (const char* port : {"8444", "8445", "8446"}) {
        SCOPED_TRACE(port);
        options.serviceBase = ServiceBase("https://" + address + ":" + port);
        Run();
        ExpectSilentEndWithoutPatch();
    }
    Scenario("check.location", "http://" + address.toUtf8() + ":8080/player/isclientlatestversion.php?version=0");
    const int before = int(Requests().size());
    options.serviceBase = ServiceBase("https://" + address + ":8443");
    Run();
    ExpectSilentEndWithoutPatch();
    EXPECT_EQ(Requests().size(), before + 1) << "the redirect to http was not followed";
    for (auto& service : services) {
        service->terminate();
        service->waitForFinished(5000);
    }
}

TEST_F(UpdaterFlow, UnreachableRefusedAndSilentServicesEndSilently)
{
    options.serviceBase = ServiceBase("sonvale-no-such-host.invalid");
    Run();
    options.serviceBase = ServiceBase(address + ":9");
    Run();
    options.serviceBase = ServiceBase(address + ":8080");
    Scenario("check.mode", "silent");
    Run();
    ExpectSilentEndWithoutPatch();
}

TEST_F(UpdaterFlow, BadPatchRepliesWriteNothingAndLeaveAnEarlierPatchIntact)
{
    Check("false");
    const struct { const char* status; const char* mode; QByteArray body; } cases[] = {
        {"404", "normal", "missing"}, {"500", "normal", "oops"}, {"200", "normal", ""},
        {"200", "cut", QByteArray(200000, 'p')}, {"200", "silent", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.status) + " " + c.mode);
        Scenario("patch.status", c.status);
        Scenario("patch.mode", c.mode);
        Scenario("patch.body", c.body);
        QFile earlier(platform.tempPath + "patch.exe");
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("EARLIER");
        earlier.close();
        Run();
        EXPECT_TRUE(platform.log.isEmpty());
        EXPECT_EQ(Patch(), "EARLIER");
        EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"patch.exe"});
    }
}

TEST_F(UpdaterFlow, UnusableTemporaryDirectoryEndsBeforeAnyDownload)
{
    Check("false");
    Scenario("patch.body", "PATCH");
    for (const QString& path :
        {temp.path() + "/missing/", temp.path() + "/" + QString(260, 'd') + "/", QString(), QStringLiteral("/")}) {
        platform.tempPath = path;
        Run();
    }
    EXPECT_TRUE(platform.log.isEmpty());
    EXPECT_FALSE(Requests().contains("/player/patch.exe"));

    QDir(temp.path()).mkdir("readonly");
    platform.tempPath = temp.path() + "/readonly/";
    QFile::setPermissions(platform.tempPath, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (getuid() != 0) { // root writes anywhere
        Run();
        EXPECT_TRUE(platform.log.isEmpty());
    }
}

TEST_F(UpdaterFlow, LargePatchIsStreamedCompleteAndAppearsOnlyWhenWhole)
{
    Check("false");
    QByteArray body(20 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < body.size(); i += 4096)
        body[i] = char(i / 4096);
    Scenario("patch.body", body);
    platform.answer = false;
    Run();
    EXPECT_EQ(platform.patchAtQuestion, body.size());
    EXPECT_TRUE(Patch() == body);
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"patch.exe"});
}

TEST(UpdaterDesktop, PatchIsStartedFromAnArgumentVectorNeverThroughAShell)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/tmp with spaces; touch INJECTED";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString patch = folder + "/patch.exe";
    QFile file(patch);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("#!/bin/sh\ntouch '%1/ran'\n").arg(dir.path()).toUtf8());
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    DesktopUpdaterPlatform platform(false);
    platform.StartProcess(patch);
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(dir.path() + "/ran"); }, 10000));
    EXPECT_FALSE(QFile::exists("INJECTED"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/INJECTED"));
    EXPECT_THROW(platform.StartProcess(dir.path() + "/does-not-exist"), std::runtime_error);
    EXPECT_THROW(platform.AskYesNo("?", "t"), std::runtime_error) << "no display to ask on";

    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", dir.path().toUtf8() + "/does-not-exist");
    EXPECT_THROW(MainModule::GetTempDirectory(platform), std::runtime_error) << "a TMPDIR that is not there";
    qputenv("TMPDIR", tmp);
}

TEST_F(UpdaterFlow, ASignedBuildOffersOnlyAPatchTheStationSignedForANewerVersion)
{
    StationKey key, otherKey;
    options.updateKey = key.PublicLine();
    const QByteArray patch = "#!/bin/sh\necho patched\n";
    const QByteArray good = key.Sign(patch, "version=0100000059");
    Check("false");
    Scenario("patch.body", patch);
    Scenario("sig.body", good);
    Run();
    EXPECT_EQ(platform.log.size(), 3) << "signed for a newer version: asked, noted, started";
    EXPECT_EQ(Patch(), patch);
    QFile::remove(platform.tempPath + "patch.exe");
    platform.log.clear();

    const auto flipped = [](QByteArray bytes, qsizetype at) {
        bytes[at] = char(bytes[at] ^ 0x01);
        return bytes;
    };
    QList<QByteArray> lines = good.split('\n');
    const QByteArray signatureBytes = QByteArray::fromBase64(lines[1]);
    QByteArray otherSignature = good;
    otherSignature.replace(lines[1], flipped(signatureBytes, 40).toBase64());
    const struct {
        const char* what;
        QByteArray signature; // "-" for none at all
        QByteArray served;    // the patch served, when not the one signed
        const char* logged;
    } refused[] = {
        {"no signature", "-", {}, "no signature (HTTP status 404"},
        {"an empty signature", "", {}, "no signature (HTTP status 200, 0 bytes)"},
        {"a malformed file", "untrusted comment: x\nnot base64!\n", {}, "malformed signature file"},
        {"another key", otherKey.Sign(patch, "version=0100000059"), {}, "signed by another key"},
        {"a flipped byte in the patch", good, flipped(patch, 3), "the signature does not match the patch"},
        {"a flipped byte in the signature", otherSignature, {}, "the signature does not match the patch"},
        {"a trusted comment changed", QByteArray(good).replace("version=0100000059", "version=0100000099"), {},
            "the trusted comment does not match its signature"},
        {"no version", key.Sign(patch, "timestamp:1765280000 file:patch.exe"), {}, "names no version"},
        {"an older version", key.Sign(patch, "version=0099999999"), {}, "not newer than the installed version"},
        {"the installed version", key.Sign(patch, "version=0100000000"), {}, "not newer than the installed version"},
        {"a legacy signature", key.Sign(patch, "version=0100000059", true), {}, "legacy signature"},
        {"a file over its bound", "untrusted comment: " + QByteArray(9000, 'x') + "\n" + good, {}, "reply too large"},
    };
    UpdaterLog log;
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        QFile::remove(scenario->filePath("sig.body"));
        if (c.signature != "-")
            Scenario("sig.body", c.signature);
        Scenario("patch.body", c.served.isEmpty() ? patch : c.served);
        Run();
        ExpectSilentEndWithoutPatch();
        EXPECT_TRUE(log.Last().contains(c.logged)) << log.Last().toStdString();
    }
}

TEST_F(UpdaterFlow, ChecksAndDownloadsByHostNameThroughAStockProxyWithAndWithoutAPassword)
{
    // The service's name resolves for the proxies alone.
    const QMap<QString, QString> hosts = {{"updates.test", address}};
    ProxyServer open(OwnLoopbackAddress(16), hosts);
    ProxyServer guarded(OwnLoopbackAddress(17), hosts, "listener", "velmora pass");
    options.serviceBase = ServiceBase("updates.test:8080");
    Check("false");
    Scenario("patch.body", "PATCH");
    for (const ProxyServer* proxy : {&open, &guarded}) {
        options.proxies.http = QUrl(proxy->Url(true));
        platform.log.clear();
        QFile::remove(platform.tempPath + "patch.exe");
        Run();
        EXPECT_EQ(platform.log.size(), 3) << platform.log.join(" | ").toStdString();
        EXPECT_EQ(Patch(), "PATCH");
        // Squid writes a request's line once the transaction has ended on its side too.
        const auto logged = [&](const char* request) { return proxy->Log().join('\n').contains(request); };
        EXPECT_TRUE(WaitUntil([&] { return logged("GET http://updates.test:8080/player/patch.exe"); }, 5000));
        EXPECT_TRUE(logged("GET http://updates.test:8080/player/isclientlatestversion.php"))
            << proxy->Log().join('\n').toStdString();
    }
    // A password the proxy wants and does not get ends it silently, as every failure does.
    options.proxies.http = QUrl(guarded.Url(false));
    platform.log.clear();
    QFile::remove(platform.tempPath + "patch.exe");
    Run();
    ExpectSilentEndWithoutPatch();
}

TEST_F(UpdaterFlow, TheProgramTakesItsProxyFromTheEnvironmentAndReachesANoProxyHostDirectly)
{
    // The service's name resolves for the proxy and, in a mount namespace
    // of its own, for the updater program alone: nothing on this machine changes.
    if (QProcess::execute("unshare", {"-m", "mount", "--bind", "/etc/hosts", "/etc/hosts"}) != 0)
        GTEST_SKIP() << "no mount namespace here (it needs root)";
    QTemporaryDir own;
    QFile hosts(own.filePath("hosts"));
    ASSERT_TRUE(hosts.open(QIODevice::WriteOnly));
    hosts.write("127.0.0.1 localhost\n" + address.toUtf8() + " updates.test\n");
    hosts.close();
    ProxyServer proxy(OwnLoopbackAddress(24), {{"updates.test", address}});
    Check("true");
    const auto runUpdater = [&](const QString& noProxy) {
        QProcessEnvironment environment;
        environment.insert("PATH", qEnvironmentVariable("PATH"));
        environment.insert("HOME", own.path());
        environment.insert("XDG_CONFIG_HOME", own.path());
        environment.insert("SONVALE_UPDATE_HOST", "updates.test:8080");
        environment.insert("http_proxy", proxy.Url());
        if (!noProxy.isEmpty())
            environment.insert("no_proxy", noProxy);
        QProcess updater;
        updater.setProcessEnvironment(environment);
        updater.start("unshare", {"-m", "sh", "-c", "mount --bind \"$0\" /etc/hosts && exec \"$@\"", hosts.fileName(),
                                     qEnvironmentVariable("SONVALE_UPDATER_PROGRAM")});
        ASSERT_TRUE(updater.waitForFinished(15000));
        EXPECT_EQ(updater.exitCode(), 0) << updater.readAllStandardError().toStdString();
    };
    const auto proxied = [&] { return proxy.Log().join('\n').count("isclientlatestversion.php"); };

    runUpdater(QStringLiteral("example.org,.test"));
    EXPECT_EQ(Requests().size(), 1) << Requests().join(' ').toStdString();
    runUpdater({});
    EXPECT_EQ(Requests().size(), 2) << "the service was asked again";
    // Squid logs each request as it ends: the direct one, had it come
    // through, would stand before this one.
    EXPECT_TRUE(WaitUntil([&] { return proxied() > 0; }, 5000)) << "through the proxy: " << proxy.Log().join('\n').toStdString();
    EXPECT_EQ(proxied(), 1) << "a no_proxy domain goes directly: " << proxy.Log().join('\n').toStdString();
}
