// What the player chose from the menu and the launcher keeps between runs:
// the download speed limit and the game's folder. "settings.txt" in the
// data folder, one "key=value" line each, UTF-8. Pure: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct PlayerSettings {
    int32_t speedLimitMBps = 0;  // 0: no limit
    std::string gameFolder;      // UTF-8; empty: the default under the data folder
};

constexpr size_t kPlayerSettingsLimit = 4096;
constexpr int32_t kLargestSpeedLimitMBps = 1000;
constexpr size_t kLongestGameFolderBytes = 1024;
constexpr int64_t kBytesPerMB = 1048576;  // a limit's MB, as the window shows speeds

// Reads what it can trust and leaves the rest at its default: a line that
// is spoiled costs only itself, so a damaged file never moves the game.
// Unknown keys are skipped, for a later launcher's settings.
PlayerSettings readPlayerSettings(const char* data, size_t size);

// The file's text for `settings`; readPlayerSettings reads it back as it was.
std::string playerSettingsText(const PlayerSettings& settings);
