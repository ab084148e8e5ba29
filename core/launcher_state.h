// The one process-wide record that every thread of the launcher shares, and
// the status channel through which any thread changes the phase and the
// status line and asks the window to repaint.
//
// Word-sized fields are std::atomic so that no reader ever sees a torn value;
// each still has exactly one writing thread (noted per field). Text and
// pointer fields that more than one thread touches are guarded by stateLock
// or imageLock. Neither lock is ever taken while the other is held, and no
// file or network work happens under either.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/byte_buffer.h"
#include "core/game_files.h"
#include "core/launcher_phase.h"
#include "core/manifest_key.h"
#include "core/proxy_setting.h"
#include "core/graphics_handles_win.h"

// Posted (never sent) to mainWindow whenever shared state changed.
// wParam 1 also says that patchNotes was replaced.
constexpr UINT kMsgStateChanged = WM_APP + 1;

constexpr int kStatusTextUnits = 256;  // 255 characters and a terminator
constexpr int kFolderPathUnits = 260;
constexpr int kFilePathUnits = 520;
constexpr int kServerHostUnits = 128;
constexpr wchar_t kDefaultServerHost[] = L"launcher.tervalon.net";

// Player's Steam identity and history with the game. A plain record without
// pointers, so it can be copied, cleared and put back as one unit.
struct SteamStats {
    int32_t valid;
    wchar_t personaName[128];
    wchar_t avatarPath[kFilePathUnits];
    int64_t playtimeMinutes;  // -1 when not found
    int64_t lastPlayed;       // Unix seconds, 0 when not found
};

// A slim reader/writer lock used exclusively, with a scoped holder.
struct StateMutex {
    SRWLOCK lock = SRWLOCK_INIT;
};
class LockHolder {
public:
    explicit LockHolder(StateMutex& m) : m_(m) { ::AcquireSRWLockExclusive(&m_.lock); }
    ~LockHolder() { ::ReleaseSRWLockExclusive(&m_.lock); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

private:
    StateMutex& m_;
};

struct LauncherState {
    // Written by start-up before any other thread exists; read-only afterwards.
    wchar_t serverHost[kServerHostUnits];
    wchar_t dataFolder[kFolderPathUnits];
    // Start-up's choice; afterwards only the worker changes it (a move), under
    // stateLock. Other threads read it through gameFolderNow().
    wchar_t gameFolder[kFolderPathUnits];
    void* httpSession;  // HINTERNET of WinHTTP, may be null
    HWND mainWindow;
    ManifestKey manifestKey;  // with a key, only manifests signed by it are used
    int32_t configProblem;    // ConfigProblem: not kConfigFine means no server is contacted
    ProxySetting proxy;       // the ini's proxy= line; kProxySystem without one

    // Written only by setStatus under stateLock; a lone read of phase needs no lock.
    std::atomic<int32_t> phase;
    wchar_t statusText[kStatusTextUnits];  // stateLock
    std::optional<std::wstring> patchNotes;  // stateLock; nullopt means no notes

    // Worker writes; window reads. Negative counts mean none arrived yet.
    std::atomic<int32_t> lobbiesOpen;
    std::atomic<int32_t> playersInMatches;
    std::atomic<uint8_t> serverOnline;
    std::atomic<int32_t> serverVersion;
    std::atomic<int32_t> gameInstalled;
    std::atomic<int32_t> retryRequested;  // window sets 1, worker clears
    std::atomic<int32_t> verifyRequested;  // 1: the next check hashes every file; cleared once repaired
    std::atomic<int64_t> bytesTotal;
    std::atomic<int64_t> bytesDone;
    std::atomic<int64_t> bytesFromNetwork;  // of bytesDone, what came over the network: the speed counts these
    std::atomic<int64_t> copyBytesLeft;    // of what is left, what a delta copies from an installed file
    std::atomic<int64_t> speedLimit;       // bytes a second the downloads keep to; 0 for none
    std::atomic<int32_t> playerCommand;    // PlayerCommand: window sets, worker takes at its next wait
    wchar_t moveTarget[kFolderPathUnits];  // stateLock: where kCommandMove moves the game
    std::atomic<int64_t> bytesAtLastTick;  // window's speed timer only
    std::atomic<double> downloadSpeed;     // window's speed timer only
    std::atomic<int32_t> gameRunning;      // set by one atomic test-and-set
    std::atomic<int32_t> serverFault;      // worker: this LocalError is the server's, not the files'

    SteamStats steamStats;

    // imageLock. Each field owns its image; a replaced one is disposed.
    ImageHandle bannerImage;
    ImageHandle backgroundImage;
    ImageHandle logoImage;
    ImageHandle avatarImage;
    uint32_t bannerSerial;  // imageLock; raised whenever a running launcher swaps the banner

    // Worker thread only (start-up fills fileCache before the worker starts).
    std::vector<ManifestEntry> manifestEntries;
    std::vector<FileCacheEntry> fileCache;  // at most 4096 rows; empty when no file
    int32_t failedPasses;
};

// What the player asked for from the menu, beyond the main button.
enum PlayerCommand : int32_t {
    kNoCommand = 0,
    kCommandVerify = 1,
    kCommandMove = 2,
    kCommandUninstall = 3,
};

extern LauncherState gState;
extern StateMutex gStateLock;
extern StateMutex gImageLock;

// Puts every field back to its initial value. Start-up calls it once; tests
// call it between cases. Not for use while other threads run.
void resetLauncherState();

// The only way to change phase and statusText. phase < 0 keeps the phase;
// format == nullptr keeps the text. The result is cut at 255 characters.
// Always posts kMsgStateChanged (wParam 0) to mainWindow.
void setStatus(int phase, const wchar_t* format, ...);

// Called after every setStatus with the phase and text it left, outside the
// lock, on the caller's thread. For tools that must see every step, not just
// what is on screen when the window repaints; null in the launcher.
using StatusObserver = void (*)(int phase, const wchar_t* text);
extern StatusObserver gStatusObserver;

// Tells the window that shared state changed (kMsgStateChanged).
void postStateChanged(WPARAM wParam);

// gameFolder as it is now, for threads other than the worker.
std::wstring gameFolderNow();

// A whole file of 1 byte to 64 MiB, followed by a zero byte; empty otherwise.
ByteBuffer readWholeFile(const wchar_t* path);
constexpr int64_t kWholeFileLimit = 64LL * 1024 * 1024;
