#pragma once

#include "TopLevelWindows.h"

#include <QString>
#include <cstdint>
#include <memory>

class PlayerForm;
class QtTrayShell;

// The player's start: one player at a time, recognised by its window title.
namespace MainModule {

// The X11 class of the player's windows; only such windows count as a
// running player, whatever other programs call their windows.
extern const char* const PlayerWindowClass;

extern QString SearchTitle;
extern std::uint32_t FoundWindow;

// Either shows the running player's window and returns nothing, or creates,
// loads and shows this player's window.
std::unique_ptr<PlayerForm> Main(QtTrayShell& shell);

std::uint32_t FindWindowByTitle(const QString& title);

// Called for each top-level window; 0 ends the walk.
int EnumWindowProc(const TopLevelWindow& window, std::intptr_t data);

// The title as a 261-character buffer holds it (at most 260 characters),
// searched for the text without regard to case.
bool TitleContains(const QByteArray& title, const QString& text);

} // namespace MainModule
