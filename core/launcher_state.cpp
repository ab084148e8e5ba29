#include "core/launcher_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "core/event_log_win.h"

LauncherState gState;
StateMutex gStateLock;
StateMutex gImageLock;
StatusObserver gStatusObserver = nullptr;

namespace {
constexpr wchar_t kInitialStatus[] = L"Connecting to the server...";

// The state holds its initial values from the first instruction of the
// program; gState is defined above, so it is constructed before this runs.
struct InitialValues {
    InitialValues() { resetLauncherState(); }
} gInitialValues;
}  // namespace

void resetLauncherState() {
    LauncherState& s = gState;
    std::wcscpy(s.serverHost, kDefaultServerHost);
    s.dataFolder[0] = 0;
    s.gameFolder[0] = 0;
    s.httpSession = nullptr;
    s.mainWindow = nullptr;
    s.manifestKey = ManifestKey{};
    s.configProblem = 0;
    s.proxy = ProxySetting{};
    s.phase = Connecting;
    std::wcscpy(s.statusText, kInitialStatus);
    s.patchNotes.reset();
    s.lobbiesOpen = -1;
    s.playersInMatches = -1;
    s.serverOnline = 0;
    s.serverVersion = 0;
    s.gameInstalled = 0;
    s.retryRequested = 0;
    s.bytesTotal = 0;
    s.bytesDone = 0;
    s.bytesAtLastTick = 0;
    s.downloadSpeed = 0.0;
    s.bytesFromNetwork = 0;
    s.copyBytesLeft = 0;
    s.speedLimit = 0;
    s.playerCommand = kNoCommand;
    s.moveTarget[0] = 0;
    s.verifyRequested = 0;
    s.gameRunning = 0;
    s.serverFault = 0;
    std::memset(&s.steamStats, 0, sizeof(s.steamStats));
    s.bannerImage.reset();
    s.backgroundImage.reset();
    s.logoImage.reset();
    s.avatarImage.reset();
    s.bannerSerial = 0;
    s.manifestEntries.clear();
    s.fileCache.clear();
    s.failedPasses = 0;
}

namespace {

// What the player was shown. Within Checking and Downloading the text
// counts files as they go ("Downloading a.pak"): the requests say that.
void logStatus(int before, int phase, const wchar_t* text) {
    if (phase == before && (phase == Checking || phase == Downloading)) return;
    logEvent("%s: %s", logUtf8(phaseInfo(phase).name).c_str(), logUtf8(text).c_str());
}

}  // namespace

void setStatus(int phase, const wchar_t* format, ...) {
    wchar_t seen[kStatusTextUnits];
    int seenPhase, previousPhase;
    {
        LockHolder hold(gStateLock);
        previousPhase = gState.phase;
        if (phase >= 0) gState.phase = phase;
        if (format) {
            va_list args;
            va_start(args, format);
            // Writes at most 255 units; a longer result is cut, and the
            // terminator below holds either way.
            ::_vsnwprintf(gState.statusText, kStatusTextUnits - 1, format, args);
            va_end(args);
            gState.statusText[kStatusTextUnits - 1] = 0;
        }
        seenPhase = gState.phase;
        std::wmemcpy(seen, gState.statusText, kStatusTextUnits);
    }
    logStatus(previousPhase, seenPhase, seen);
    if (gStatusObserver) gStatusObserver(seenPhase, seen);
    postStateChanged(0);
}

void postStateChanged(WPARAM wParam) {
    // A null window would turn the post into a thread message on the caller.
    if (gState.mainWindow) ::PostMessageW(gState.mainWindow, kMsgStateChanged, wParam, 0);
}

ByteBuffer readWholeFile(const wchar_t* path) {
    FILE* f = ::_wfopen(path, L"rb");
    if (!f) return {};
    int64_t length = -1;
    if (::_fseeki64(f, 0, SEEK_END) == 0) length = ::_ftelli64(f);
    if (length <= 0 || length > kWholeFileLimit || ::_fseeki64(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return {};
    }
    char* block = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (!block) {
        std::fclose(f);
        return {};
    }
    size_t got = std::fread(block, 1, static_cast<size_t>(length), f);
    std::fclose(f);
    if (got != static_cast<size_t>(length)) {
        std::free(block);
        return {};
    }
    return ByteBuffer::adopt(block, got);
}

std::wstring gameFolderNow() {
    LockHolder hold(gStateLock);
    return gState.gameFolder;
}
