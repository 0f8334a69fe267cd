#pragma once

#include "TopLevelWindows.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class PlayerForm;
class RadioPlayer;
struct StationConfig;

// The player's start: one player at a time, recognised by its window title.
namespace MainModule {

// The X11 class of the player's windows; only such windows count as a
// running player, whatever other programs call their windows.
extern const char* const PlayerWindowClass;

// The player and its window, for the whole run.
struct RunningPlayer {
    RunningPlayer();
    RunningPlayer(RunningPlayer&&) noexcept;
    ~RunningPlayer();
    std::unique_ptr<RadioPlayer> player;
    std::unique_ptr<PlayerForm> form; // goes before the player it shows
};

// Either asks the running player to show its window and returns nothing, or
// creates the player, loads and shows its window.
std::optional<RunningPlayer> Main(const StationConfig& config);

// The first player window, in the order given, whose title contains the
// text; 0 when there is none.
std::uint32_t FindWindowByTitle(const QString& title, const std::vector<TopLevelWindow>& windows);

// The title as a 261-character buffer holds it (at most 260 characters),
// searched for the text without regard to case.
bool TitleContains(const QByteArray& title, const QString& text);

} // namespace MainModule
