#include "MainModule.h"

#include "MediaEngine.h"
#include "PlayerForm.h"
#include "TrayShell.h"

namespace MainModule {

const char* const PlayerWindowClass = "Sonvale";
QString SearchTitle;
std::uint32_t FoundWindow = 0;

namespace {

constexpr int TitleBufferLength = 261;

void EnumDesktopWindows(int (*callback)(const TopLevelWindow&, std::intptr_t), std::intptr_t data)
{
    for (const TopLevelWindow& window : ListTopLevelWindows())
        if (callback(window, data) == 0)
            return;
}

} // namespace

bool TitleContains(const QByteArray& title, const QString& text)
{
    const QByteArray buffer = title.left(TitleBufferLength - 1);
    return QString::fromUtf8(buffer.left(qstrnlen(buffer.constData(), buffer.size())))
        .contains(text, Qt::CaseInsensitive);
}

int EnumWindowProc(const TopLevelWindow& window, std::intptr_t)
{
    if (window.wmClass == PlayerWindowClass && TitleContains(window.title, SearchTitle)) {
        FoundWindow = window.id;
        return 0;
    }
    return 1;
}

std::uint32_t FindWindowByTitle(const QString& title)
{
    SearchTitle = title;
    EnumDesktopWindows(EnumWindowProc, 1);
    return FoundWindow;
}

std::unique_ptr<PlayerForm> Main(QtTrayShell& shell)
{
    if (const std::uint32_t running = FindWindowByTitle(QStringLiteral("Radio Velmora Player"))) {
        MapTopLevelWindow(running);
        return nullptr;
    }
    auto form = std::make_unique<PlayerForm>(std::make_unique<MediaEngine>(), shell);
    shell.SetHostMenu(form->contextMenu);
    form->Load();
    form->show();
    return form;
}

} // namespace MainModule
