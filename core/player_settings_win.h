// "settings.txt" in the data folder: read once at start, written again
// (atomically) whenever the player changes a setting, from either thread.
#pragma once

#include <string>

#include "core/player_settings.h"

// Reads the file from gState.dataFolder and keeps it for the saves below.
// Missing or unreadable: the defaults.
PlayerSettings loadPlayerSettings();

// The remembered game folder as a path; empty when none is remembered, or
// it is relative, or it does not convert to one that fits.
std::wstring rememberedGameFolder(const PlayerSettings& settings);

// Each changes one setting and writes the whole file again; false when the
// file could not be written (the old one then stays as it was).
bool saveSpeedLimitSetting(int32_t mbps);
bool saveGameFolderSetting(const std::wstring& folder);
