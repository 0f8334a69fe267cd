// updater: checks whether the installed player is the latest and offers the
// patch if it is not. It has no window and says nothing on failure.
#include "BoundedGet.h"
#include "CommandLine.h"
#include "Identity.h"
#include "MainModule.h"
#include "StationConfig.h"
#include "UpdaterPlatform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <memory>

#ifndef SONVALE_UPDATE_KEY
#define SONVALE_UPDATE_KEY ""
#endif

namespace {

const QtMessageHandler QtsOwnHandler = qInstallMessageHandler(nullptr);

// Toolkit chatter (a display that cannot be opened, missing fonts) stays out
// of sight; the updater's own category speaks when the logging rules turn it
// on (QT_LOGGING_RULES="sonvale.updater=true").
void OwnMessagesOnly(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (context.category && qstrcmp(context.category, "sonvale.updater") == 0)
        QtsOwnHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv)
{
    if (const int status = AnswerCommandLine(argc, argv, QString::fromUtf8(Identity::UpdaterProgram),
            QString::fromUtf8(Identity::UpdaterVersion),
            QStringLiteral("%1: offers the newest %2 when there is one.\n"
                           "It has no window and says nothing when it fails.")
                .arg(QString::fromUtf8(Identity::UpdaterName), QString::fromUtf8(Identity::PlayerName)));
        status >= 0)
        return status;
    qInstallMessageHandler(OwnMessagesOnly);
    bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    std::unique_ptr<QCoreApplication> app;
    if (display) {
        // A display that cannot be opened counts as none: Qt falls back to
        // drawing nowhere instead of aborting.
        const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
        qputenv("QT_QPA_PLATFORM", (chosen.isEmpty() ? QByteArray("xcb;wayland") : chosen) + ";offscreen");
        app = std::make_unique<QApplication>(argc, argv);
        display = QGuiApplication::platformName() != QLatin1String("offscreen");
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/updater/updater.ico")));
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QString::fromUtf8(Identity::UpdaterName));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(Identity::UpdaterVersion));

    const StationConfig config = StationConfig::FromEnvironment();
    MainModule::Options options;
    options.serviceBase = config.updateBase;
    options.trusted = TrustedWith(config.updateCa);
    options.proxies = config.proxies;
    options.updateKey = QByteArrayLiteral(SONVALE_UPDATE_KEY);
    DesktopUpdaterPlatform platform(display);
    MainModule::Main(platform, options);
    return 0;
}
