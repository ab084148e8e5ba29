// Keeps the launcher itself current. A release whose `launcher` line names
// a build newer than this one has that build downloaded beside the exe as
// "<exe>.new", its object checked by size and SHA-256, with the release kept
// beside it, so that the next start can check the build again before it
// swaps it in. Only with a manifest key: without one, the launcher never asks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/byte_buffer.h"

// The build a release offers, as its `launcher` line names it.
struct LauncherOffer {
    int32_t version = 0;
    int64_t size = 0;
    uint8_t sha256[32] = {};
};

// The files of a prepared build beside `exe`.
struct PreparedLauncher {
    std::wstring build;    // "<exe>.new"
    std::wstring release;  // "<exe>.new.release": the release that offered it, exactly as served
};
PreparedLauncher preparedLauncherFor(const std::wstring& exe);

// The exe this process keeps current; start-up sets it. Empty: never asks.
extern std::wstring gLauncherExePath;

// Starts one look at the offer of `release` (the bytes of a release the
// worker accepted) on a thread of its own, unless one is running or no
// usable key is configured. The game's update cycle does not wait for it.
void checkLauncherOfferSoon(const ByteBuffer& release);

// The look on the caller's thread: verify the release again, compare
// versions, download the exe object, check it, prepare. Anything that fails
// leaves no "<exe>.new" behind and nothing else changed.
void checkLauncherOffer(const std::string& release);

// The offer of the release kept at `path`: trusted as a kept release is
// (signed, this host, not below the floor), naming a launcher no older than
// one swapped in before.
bool keptOffer(const std::wstring& path, LauncherOffer* out);

// Does the file at `path` have exactly the offer's size and SHA-256?
bool fileMatchesOffer(const wchar_t* path, const LauncherOffer& offer);

// The same, read through an open handle from its start: what is checked is
// what that handle holds, whatever happens to the name.
bool openFileMatchesOffer(HANDLE file, const LauncherOffer& offer);

// Removes a prepared build and its release, whichever exist, with any
// temporary file a kill left while they were written.
void discardPreparedLauncher(const PreparedLauncher& prepared);

// Told each outcome as one line ("version 2 offered, signed, prepared"),
// for TVLHeadless; null in the launcher, which shows the player nothing.
using LauncherOfferObserver = void (*)(const wchar_t* line);
extern LauncherOfferObserver gLauncherOfferObserver;
