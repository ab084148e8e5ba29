// The player's Steam identity and play statistics, read from the local Steam
// client's registry values and files, and published to the paint code as one
// consistent block.
#pragma once

#include "core/launcher_state.h"

// Reads Steam's sources over a copy of `start`: fields the load does not
// reach keep their values from `start`. Touches no shared state.
SteamStats readSteamStats(const SteamStats& start);

// Loads over the current block and publishes the result.
void loadSteamStats();

// The block as one unit: never a half-written name or path.
SteamStats steamStatsSnapshot();
void publishSteamStats(const SteamStats& stats);
