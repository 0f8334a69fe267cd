#include "MainModule.h"

#include "MediaEngine.h"
#include "PlayerForm.h"

namespace MainModule {

const char* const PlayerWindowClass = "Sonvale";

namespace {
constexpr int TitleBufferLength = 261;
} // namespace

bool TitleContains(const QByteArray& title, const QString& text)
{
    const QByteArray buffer = title.left(TitleBufferLength - 1);
    return QString::fromUtf8(buffer.left(qstrnlen(buffer.constData(), buffer.size())))
        .contains(text, Qt::CaseInsensitive);
}

std::uint32_t FindWindowByTitle(const QString& title, const std::vector<TopLevelWindow>& windows)
{
    for (const TopLevelWindow& window : windows)
        if (window.wmClass == PlayerWindowClass && TitleContains(window.title, title))
            return window.id;
    return 0;
}

std::unique_ptr<PlayerForm> Main()
{
    const QString title = QStringLiteral("Radio Velmora Player");
    if (const std::uint32_t running = FindWindowByTitle(title, ListTopLevelWindows())) {
        RequestShow(running);
        return nullptr;
    }
    auto form = std::make_unique<PlayerForm>(std::make_unique<MediaEngine>());
    form->Load();
    form->show();
    return form;
}

} // namespace MainModule
