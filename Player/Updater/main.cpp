// updater: checks whether the installed Radio Velmora Player is the latest and
// offers the patch if it is not. It has no window and says nothing on failure.
#include "MainModule.h"
#include "UpdaterPlatform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <memory>

#ifndef SONVALE_UPDATE_HOST
#define SONVALE_UPDATE_HOST "localhost"
#endif

int main(int argc, char** argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    std::unique_ptr<QCoreApplication> app;
    if (display) {
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/updater/updater.ico")));
    } else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Radio Velmora Updater"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00.0049"));

    MainModule::Options options;
    options.updateServiceHost = qEnvironmentVariable("SONVALE_UPDATE_HOST", QStringLiteral(SONVALE_UPDATE_HOST));
    DesktopUpdaterPlatform platform(display);
    MainModule::Main(platform, options);
    return 0;
}
