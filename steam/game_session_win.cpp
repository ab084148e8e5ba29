#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <cwchar>

#include "core/event_log.h"
#include "core/event_log_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "steam/game_session.h"
#include "steam/steam_stats.h"

namespace {

// The id of a process with this executable name (any case), 0 when none
// runs. A snapshot that cannot be taken answers `ifNoSnapshot`.
DWORD processId(const wchar_t* exeName, DWORD ifNoSnapshot) {
    KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ifNoSnapshot;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
        if (::lstrcmpiW(entry.szExeFile, exeName) == 0) return entry.th32ProcessID ? entry.th32ProcessID : 1;
    return 0;
}

bool processRuns(const wchar_t* exeName, bool ifNoSnapshot) { return processId(exeName, ifNoSnapshot ? 1 : 0) != 0; }

// The game's process the monitor last saw, held so its exit code can be
// read once it has ended.
struct FollowedGame {
    KernelHandle process;
    DWORD id = 0;
    const wchar_t* name = L"";

    void look() {
        for (const wchar_t* exe : {kShippingExe, kGameExe}) {
            const DWORD found = processId(exe, 0);
            if (!found || found == id) continue;
            logEnd();
            id = found;
            name = exe;
            process = KernelHandle(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, found));
            logEvent("the game runs: %s, process %lu", logUtf8(exe).c_str(), static_cast<unsigned long>(found));
            return;
        }
    }
    void logEnd() {
        if (!id) return;
        DWORD code = STILL_ACTIVE;
        if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0 && ::GetExitCodeProcess(process.get(), &code))
            logEvent("%s (process %lu) ended with exit code %lu (0x%08lX)", logUtf8(name).c_str(),
                     static_cast<unsigned long>(id), static_cast<unsigned long>(code), static_cast<unsigned long>(code));
        else
            logEvent("%s (process %lu) ended; its exit code could not be read", logUtf8(name).c_str(),
                     static_cast<unsigned long>(id));
        id = 0;
        process.reset();
    }
};

// After a game played offline, the phase and text from before it.
std::atomic<bool> gOfflineSession{false};
int32_t gPhaseBefore = ServerError;
wchar_t gTextBefore[kStatusTextUnits];

DWORD WINAPI gameMonitor(void*) {
    setLogThread("monitor");
    setStatus(Running, L"Tervalon is running. Have fun!");
    bool seen = false;
    FollowedGame game;
    for (int poll = 1;; ++poll) {
        waitMs(kMonitorPollMs);
        bool running = isGameRunning();
        if (running) game.look();
        seen = seen || running;
        if (!running && (seen || poll >= kMonitorStartPolls)) break;
    }
    game.logEnd();
    if (!seen) logEvent("the game was never seen running");
    gState.gameRunning = 0;
    // Playing changed the statistics. When Steam's files cannot be read just
    // now, the player keeps the ones from before the game.
    SteamStats before = steamStatsSnapshot();
    SteamStats cleared{};
    SteamStats after = readSteamStats(cleared);
    if (after.valid) publishSteamStats(after);
    else publishSteamStats(before);
    postStateChanged(0);
    // Played offline: the server was not reached, so nothing is "up to
    // date"; the worker's wait goes on from where it was.
    if (gOfflineSession.exchange(false)) setStatus(gPhaseBefore, L"%ls", gTextBefore);
    else setStatus(Ready, L"Up to date \u2022 version %d", static_cast<int>(gState.serverVersion));
    return 0;
}

void showBox(const wchar_t* text, UINT icon) {
    ::MessageBoxW(gState.mainWindow, text, kWindowTitle, MB_OK | icon);
}

}  // namespace

bool isGameRunning() { return processRuns(kShippingExe, false) || processRuns(kGameExe, false); }

bool tryStartGameMonitor() {
    int32_t idle = 0;
    if (!gState.gameRunning.compare_exchange_strong(idle, 1)) return false;
    if (!startDetachedThread(gameMonitor)) {
        gState.gameRunning = 0;  // no monitor after all: let the next attempt start one
        return false;
    }
    return true;
}

bool launchGame() {
    if (isGameRunning()) {
        logEvent("the game runs already: following it");
        return tryStartGameMonitor();
    }
    // A process list that cannot be taken skips the check.
    if (!processRuns(kSteamExe, true)) {
        logEvent("Steam is not running: asked it to open, the game is not started");
        ::ShellExecuteW(nullptr, L"open", kSteamOpenAddress, nullptr, nullptr, SW_SHOWNORMAL);
        showBox(kSteamStartingText, MB_ICONINFORMATION);
        return false;
    }
    const std::wstring folder = gameFolderNow();
    wchar_t exe[kFilePathUnits];
    int n = _snwprintf(exe, kFilePathUnits, L"%ls\\%ls", folder.c_str(), kGameExe);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (n <= 0 || n >= kFilePathUnits ||
        !::CreateProcessW(exe, nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process)) {
        logEvent("the game could not be started from %s: %s", logUtf8(exe).c_str(), describeError(::GetLastError()).c_str());
        showBox(kGameStartFailedText, MB_ICONERROR);
        return false;
    }
    logEvent("started %s, process %lu", logUtf8(exe).c_str(), static_cast<unsigned long>(process.dwProcessId));
    // Closed at once: the monitor finds the game by its name.
    KernelHandle thread(process.hThread), child(process.hProcess);
    tryStartGameMonitor();
    return true;
}

bool launchGameOffline() {
    {
        LockHolder hold(gStateLock);
        gPhaseBefore = gState.phase;
        std::wmemcpy(gTextBefore, gState.statusText, kStatusTextUnits);
    }
    gOfflineSession = true;
    logEvent("play offline: starting the installed game without the server");
    if (launchGame()) return true;
    gOfflineSession = false;
    return false;
}
