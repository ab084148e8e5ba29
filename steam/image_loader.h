// Pictures from outside the program: the Steam avatar and the server's
// banner, decoded with GDI+ and swapped into the shared images.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "core/launcher_state.h"

constexpr size_t kBannerFirstBuffer = 1024 * 1024;
constexpr size_t kBannerGrowLimit = 16 * 1024 * 1024;  // a larger buffer stops growing

// "banner.img" from the data folder into bannerImage, when it decodes.
// Start-up only: no other thread runs yet.
bool loadSavedBanner();

// The pictures the window opens with: banner.img from the last run (else
// the built-in banner), the backdrop and the logo, decoded outside any lock
// and put in place under imageLock. Decoding takes 50-90 ms under Wine, so
// the loader does it while the window shows its first frame without them.
void loadStartupPictures();

// The thread procedure: the start-up pictures, Steam statistics, avatar.
DWORD WINAPI imageLoader(void*);

// The server's banner, asked for by the update worker once it knows where
// it comes from: the release's banner object (checked by hash, fetched only
// when it is not shown already), or, null, the fixed /launcher/banner
// (once per run). Decoded, saved as banner.img and shown, on a thread of
// its own.
struct ObjectRef;
void requestBanner(const ObjectRef* banner);

// The same on the caller's thread, every time it is called; true when a
// banner was put in place.
bool loadServerBanner(const ObjectRef* banner);

// Set once the loader has loaded the Steam statistics.
extern std::atomic<bool> gSteamStatsLoaded;
