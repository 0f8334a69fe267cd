// The player: one station's stream, in a skinned window with a tray icon.
#include "CommandLine.h"
#include "Identity.h"
#include "ImageButtonAccessible.h"
#include "MachineEvents.h"
#include "MainModule.h"
#include "MprisService.h"
#include "PlayerForm.h"
#include "RadioPlayer.h"
#include "StationConfig.h"
#include "SystrayHelper.h"

#include <QApplication>
#include <QTimer>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <malloc.h>
#include <unistd.h>

namespace {

// An error that reaches the top of an event handler ends the program with the
// standard report: a message box with the error's text, the same on stderr,
// exit status 1.
[[noreturn]] void ReportUnhandledError(const char* text)
{
    std::fprintf(stderr, "%s: %s\n", Identity::PlayerProgram, text);
    std::fflush(stderr);
    if (qApp)
        QMessageBox::critical(nullptr, QString::fromUtf8(Identity::PlayerProgram), QString::fromUtf8(text));
    _exit(1);
}

class PlayerApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (event->type() == QEvent::ApplicationDeactivate && SystrayHelper::KeepsMenuOnDeactivation(activePopupWidget()))
            return false;
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            ReportUnhandledError(error.what());
        } catch (...) {
            ReportUnhandledError("Unknown error");
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    // Every GStreamer streaming thread would otherwise get a malloc arena of
    // its own, up to eight per core, and each keeps its own fragments when
    // the thread ends; a reconnecting player starts many. At a radio stream's
    // pace two arenas are never contended.
    mallopt(M_ARENA_MAX, 2);
    if (const int status = AnswerCommandLine(argc, argv, QString::fromUtf8(Identity::PlayerProgram),
            QString::fromUtf8(Identity::PlayerVersion),
            QStringLiteral("%1: plays the %2 internet station.\n"
                           "Only one player runs per display; a second start shows the first one's window.")
                .arg(QString::fromUtf8(Identity::PlayerName), QString::fromUtf8(Identity::StationName)));
        status >= 0)
        return status;
    // Global window positions, shaped windows and the window list need X11:
    // on a Wayland desktop the player runs as an X11 client.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    PlayerApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(Identity::PlayerProgram));
    QApplication::setApplicationVersion(QString::fromUtf8(Identity::PlayerVersion));
    QGuiApplication::setDesktopFileName(QString::fromUtf8(Identity::AppId));
    QApplication::setQuitOnLastWindowClosed(false);
    // Before any control exists: an interface once made is kept.
    ImageButtonAccessible::Install();
    try {
        std::optional<MainModule::RunningPlayer> running = MainModule::Main(StationConfig::FromEnvironment());
        if (!running)
            return 0;
        RadioPlayer& player = *running->player;
        // The desktop's services are met once the event loop runs: their
        // round trips on the buses never hold up the window's first paint.
        QTimer::singleShot(0, &player, [&player] {
            (new MprisService(player, &player))->Register();
            auto* machine = new MachineEvents(&player);
            QObject::connect(machine, &MachineEvents::NetworkReachable, &player, &RadioPlayer::SetNetworkReachable);
            QObject::connect(machine, &MachineEvents::PrepareForSleep, &player, &RadioPlayer::PrepareForSleep);
            QObject::connect(&player, &RadioPlayer::PlaybackStatusChanged, machine,
                [machine, &player] { machine->SetPlaying(player.Status().playback == Playback::Playing); });
        });
        QObject::connect(running->form.get(), &PlayerForm::Unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        return app.exec();
    } catch (const std::exception& error) {
        ReportUnhandledError(error.what());
    }
}
