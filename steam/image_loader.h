// Pictures from outside the program: the Steam avatar and the server's
// banner, decoded with GDI+ and swapped into the shared images.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "app/launcher_state.h"
#include "render/images_win.h"

constexpr size_t kBannerFirstBuffer = 1024 * 1024;
constexpr size_t kBannerGrowLimit = 16 * 1024 * 1024;  // a larger buffer stops growing

// "banner.img" from the data folder into bannerImage, when it decodes.
// Start-up only: no other thread runs yet.
bool loadSavedBanner();

// The thread procedure: Steam statistics, avatar, then the banner.
DWORD WINAPI imageLoader(void*);

// Set once the loader has loaded the Steam statistics.
extern std::atomic<bool> gSteamStatsLoaded;
