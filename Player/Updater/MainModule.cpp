#include "MainModule.h"

#include "Identity.h"
#include "PatchSignature.h"
#include "UpdaterPlatform.h"
#include "XmlHttp.h"

#include <QDomDocument>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryFile>
#include <QSettings>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>

namespace MainModule {
namespace {

Q_LOGGING_CATEGORY(lcUpdater, "sonvale.updater", QtCriticalMsg)

constexpr qint64 MaxCheckReplyBytes = 64 * 1024;
constexpr int TempPathBufferLength = 255;
constexpr qint64 WritebackStepBytes = 4 * 1024 * 1024;

QUrl ServiceUrl(const Options& options, const QByteArray& pathAndQuery)
{
    // Only http and https are spoken.
    const QUrl url = QUrl::fromEncoded(options.serviceBase.toUtf8() + pathAndQuery, QUrl::StrictMode);
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        throw std::runtime_error("the update service is reached over http or https only");
    return url;
}

// What every request of the update service is made with.
GetLimits Limits()
{
    GetLimits limits;
    limits.userAgent = QByteArray(Identity::PlayerProgram) + '-' + Identity::UpdaterProgram + '/' + Identity::UpdaterVersion;
    return limits;
}

} // namespace

QString GetInstalledVersion()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QString::fromUtf8(Identity::StationName));
    return settings.value(QStringLiteral("Player/Version"), QStringLiteral("0100000000")).toString();
}

bool IsClientLatestVersion(const QString& version, const Options& options)
{
    // The version is percent-encoded; ordinary versions pass unchanged.
    const QUrl url = ServiceUrl(options, "/player/isclientlatestversion.php?version=" + QUrl::toPercentEncoding(version));
    GetLimits limits = Limits();
    limits.maxBodyBytes = MaxCheckReplyBytes;
    limits.inactivityMs = options.inactivityTimeoutMs;
    limits.deadlineMs = options.checkDeadlineMs;
    return IsLatestReply(HttpGet(url, limits, options.trusted, options.proxies).body);
}

bool IsLatestReply(const QByteArray& reply)
{
    // A reply that does not parse says nothing, whatever part of a tree Qt
    // kept (a truncated "tr", an unclosed body, an entity bomb).
    QDomDocument document;
    if (!document.setContent(reply))
        throw std::runtime_error("the reply is not well-formed XML");
    const QDomElement root = document.documentElement();
    const QDomElement body = root.tagName() == QLatin1String("html") ? root.firstChildElement(QStringLiteral("body")) : QDomElement();
    if (body.isNull())
        throw std::runtime_error("no html/body in the reply");
    // A pretty-printed reply means the same as a bare one; case still counts.
    return body.text().trimmed() == QLatin1String("true");
}

QString GetTempDirectory(UpdaterPlatform& platform)
{
    const QString path = platform.TempPath();
    const QFileInfo directory(path);
    // A path the system could not have handed over, or one that cannot take
    // the patch, ends the updater before anything is downloaded. The root
    // directory is what a temporary directory that does not exist resolves
    // to: never a place for the patch.
    if (path.isEmpty() || path.size() > TempPathBufferLength || !directory.isDir() || !directory.isWritable()
        || directory.canonicalFilePath() == QLatin1String("/"))
        throw std::runtime_error("no usable temporary directory");
    return path;
}

namespace {

PatchSignature FetchSignature(const Options& options)
{
    GetLimits limits = Limits();
    limits.maxBodyBytes = PatchSignature::MaxFileBytes;
    limits.inactivityMs = options.inactivityTimeoutMs;
    limits.deadlineMs = options.checkDeadlineMs;
    HttpReply reply;
    try {
        reply = HttpGet(ServiceUrl(options, "/player/patch.exe.minisig"), limits, options.trusted, options.proxies);
    } catch (const HttpError& error) {
        throw SignatureError(std::string("no signature: ") + error.what());
    }
    if (reply.status != 200 || reply.body.isEmpty())
        throw SignatureError(QStringLiteral("no signature (HTTP status %1, %2 bytes)")
                .arg(reply.status).arg(reply.body.size()).toStdString());
    return PatchSignature::Parse(reply.body);
}

} // namespace

void DownloadPatch(const QString& path, const Options& options, const QString& installedVersion)
{
    // Streamed into a temporary file beside the target and renamed over it
    // only once complete: whoever looks sees the old patch.exe or the whole
    // new one, never part of it. A failed download takes its file with it.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open())
        throw std::runtime_error("the patch file cannot be written");
    // Start writing to disk while the download goes on; the hash is taken of
    // the very bytes written.
    PatchHash hash;
    qint64 writtenBack = 0;
    const auto write = [&](const QByteArray& chunk) {
        hash.Add(chunk);
        if (file.write(chunk) != chunk.size())
            return false;
        if (file.pos() - writtenBack >= WritebackStepBytes && file.flush()) {
            sync_file_range(file.handle(), writtenBack, file.pos() - writtenBack, SYNC_FILE_RANGE_WRITE);
            writtenBack = file.pos();
        }
        return true;
    };
    GetLimits limits = Limits();
    limits.inactivityMs = options.inactivityTimeoutMs;
    limits.graceMs = options.patchGraceMs;
    limits.floorBytesPerSecond = options.patchFloorBytesPerSecond;
    const int status = HttpDownload(ServiceUrl(options, "/player/patch.exe"), write, limits, options.trusted, options.proxies);
    if (status != 200 || file.size() == 0)
        throw std::runtime_error("no patch");
    // The file that is started is the file that was verified: it was created
    // anew (O_EXCL) with mode 0600 and written only through this descriptor,
    // so in a sticky temporary directory no other user can change, replace or
    // rename it, here or once it is patch.exe. A refused patch goes with its
    // temporary file.
    if (!options.updateKey.isEmpty())
        VerifyPatch(UpdateKey::Parse(options.updateKey), FetchSignature(options), hash.Final(), installedVersion);
    if (!file.flush() || std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        throw std::runtime_error("the patch file cannot be written");
    file.setAutoRemove(false);
}

void OfferPatchInstall(const QString& path, UpdaterPlatform& platform)
{
    const QString title = QString::fromUtf8(Identity::UpdaterName);
    if (!platform.AskYesNo(
            QStringLiteral("A new version of %1 is available. Would you like to install it?")
                .arg(QString::fromUtf8(Identity::PlayerName)),
            title))
        return;
    platform.Inform(QStringLiteral("Please close and re-open the player at your earliest convenience."), title);
    QFile patch(path);
    patch.setPermissions(patch.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    platform.StartProcess(path);
}

void Main(UpdaterPlatform& platform, const Options& options)
{
    try {
        const QString version = GetInstalledVersion();
        if (IsClientLatestVersion(version, options))
            return;
        const QString path = GetTempDirectory(platform) + QStringLiteral("patch.exe");
        DownloadPatch(path, options, version);
        OfferPatchInstall(path, platform);
    } catch (const std::exception& error) {
        // Every failure ends the updater without a word to the listener.
        qCWarning(lcUpdater) << "ended:" << error.what();
    } catch (...) {
        qCWarning(lcUpdater) << "ended: unknown failure";
    }
}

} // namespace MainModule
