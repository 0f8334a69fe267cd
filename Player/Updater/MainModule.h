#pragma once

#include "ProxySettings.h"

#include <QSslCertificate>
#include <QString>

class UpdaterPlatform;

// The updater: asks the update service whether the installed player is the
// latest, and if not downloads the patch, asks the listener and starts it.
// Every failure ends it silently.
namespace MainModule {

struct Options {
    // The service's base address (ServiceBase): http://host[:port] or https://host[:port].
    QString serviceBase;
    int inactivityTimeoutMs = 30000;
    // A trickling service must not keep the windowless updater alive: the
    // check has this long in all, the patch must average this many bytes a
    // second once it has been downloading for the grace time.
    int checkDeadlineMs = 30000;
    int patchGraceMs = 30000;
    qint64 patchFloorBytesPerSecond = 10 * 1024;
    // Certificates an https service must chain to; empty: the system's store.
    QList<QSslCertificate> trusted;
    ProxySettings proxies;
    // The station's update key (the base64 line of a minisign public key);
    // when set, only a patch signed with it, naming a newer version, is offered.
    QByteArray updateKey;
};

// Runs the whole flow; never throws.
void Main(UpdaterPlatform& platform, const Options& options);

QString GetInstalledVersion();
bool IsClientLatestVersion(const QString& version, const Options& options);
// The check reply's verdict: true when its html/body text is "true". Throws
// when the reply is not well-formed XML or has no html/body.
bool IsLatestReply(const QByteArray& reply);
QString GetTempDirectory(UpdaterPlatform& platform);
// Downloads the patch to `path`; with an update key, only a patch whose
// signature verifies ever gets there.
void DownloadPatch(const QString& path, const Options& options, const QString& installedVersion);
void OfferPatchInstall(const QString& path, UpdaterPlatform& platform);

} // namespace MainModule
