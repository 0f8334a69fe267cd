#pragma once

#include <QString>

class UpdaterPlatform;

// The updater: asks the update service whether the installed player is the
// latest, and if not downloads the patch, asks the listener and starts it.
// Every failure ends it silently.
namespace MainModule {

struct Options {
    QString updateServiceHost;    // host, or host:port
    int inactivityTimeoutMs = 30000;
};

// Runs the whole flow; never throws.
void Main(UpdaterPlatform& platform, const Options& options);

QString GetInstalledVersion();
bool IsClientLatestVersion(const QString& version, const Options& options);
QString GetTempDirectory(UpdaterPlatform& platform);
void DownloadPatch(const QString& path, const Options& options);
void OfferPatchInstall(const QString& path, UpdaterPlatform& platform);

} // namespace MainModule
