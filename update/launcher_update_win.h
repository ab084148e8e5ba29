// Keeps the launcher itself current. After an info fetch, a signed offer of a
// newer build (/launcher/self, .sig and .exe) is downloaded beside the exe
// as "<exe>.new", with its document and signature kept beside it, so that the
// next start can check the build again before it swaps it in. Only with a
// manifest key: without one, the launcher never asks.
#pragma once

#include <windows.h>

#include <string>

#include "core/byte_buffer.h"
#include "update/launcher_offer.h"

// The files of a prepared build beside `exe`.
struct PreparedLauncher {
    std::wstring build;      // "<exe>.new"
    std::wstring offer;      // "<exe>.new.self": the document, exactly as served
    std::wstring signature;  // "<exe>.new.self.sig"
};
PreparedLauncher preparedLauncherFor(const std::wstring& exe);

// The exe this process keeps current; start-up sets it. Empty: never asks.
extern std::wstring gLauncherExePath;

// Starts one check on a thread of its own, unless one is running or no
// usable key is configured. The game's update cycle does not wait for it.
void checkLauncherOfferSoon();

// The check on the caller's thread: fetch the offer and its signature,
// verify, compare versions, download, check size and SHA-256, prepare.
// Anything that fails leaves no "<exe>.new" behind and nothing else changed.
void checkLauncherOffer();

// Does `signature` sign `offer` under the configured key, and is the offer
// readable? The swap at start-up asks the same of the kept files.
bool offerVerifies(const ByteBuffer& offer, const ByteBuffer& signature, LauncherOffer* out);

// Does the file at `path` have exactly the offer's size and SHA-256?
bool fileMatchesOffer(const wchar_t* path, const LauncherOffer& offer);

// The same, read through an open handle from its start: what is checked is
// what that handle holds, whatever happens to the name.
bool openFileMatchesOffer(HANDLE file, const LauncherOffer& offer);

// Removes a prepared build and its documents, whichever exist, with any
// temporary file a kill left while they were written.
void discardPreparedLauncher(const PreparedLauncher& prepared);

// Told each outcome as one line ("version 2 offered, signed, prepared"),
// for TVLHeadless; null in the launcher, which shows the player nothing.
using LauncherOfferObserver = void (*)(const wchar_t* line);
extern LauncherOfferObserver gLauncherOfferObserver;
