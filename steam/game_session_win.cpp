#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstring>

#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "steam/game_session.h"
#include "steam/steam_stats.h"

namespace {

// Whether a process with this executable name (any case) runs. A snapshot
// that cannot be taken answers `ifNoSnapshot`.
bool processRuns(const wchar_t* exeName, bool ifNoSnapshot) {
    KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ifNoSnapshot;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more && !found;
         more = ::Process32NextW(snapshot.get(), &entry))
        found = ::lstrcmpiW(entry.szExeFile, exeName) == 0;
    return found;
}

DWORD WINAPI gameMonitor(void*) {
    setStatus(Running, L"Tervalon is running. Have fun!");
    bool seen = false;
    for (int poll = 1;; ++poll) {
        waitMs(kMonitorPollMs);
        bool running = isGameRunning();
        seen = seen || running;
        if (!running && (seen || poll >= kMonitorStartPolls)) break;
    }
    gState.gameRunning = 0;
    // Playing changed the statistics. When Steam's files cannot be read just
    // now, the player keeps the ones from before the game.
    SteamStats before = steamStatsSnapshot();
    SteamStats cleared{};
    SteamStats after = readSteamStats(cleared);
    if (after.valid) publishSteamStats(after);
    else publishSteamStats(before);
    postStateChanged(0);
    setStatus(Ready, L"Up to date \u2022 version %d", static_cast<int>(gState.serverVersion));
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

void launchGame() {
    if (isGameRunning()) {
        tryStartGameMonitor();
        return;
    }
    // A process list that cannot be taken skips the check.
    if (!processRuns(kSteamExe, true)) {
        ::ShellExecuteW(nullptr, L"open", kSteamOpenAddress, nullptr, nullptr, SW_SHOWNORMAL);
        showBox(kSteamStartingText, MB_ICONINFORMATION);
        return;
    }
    const std::wstring folder = gameFolderNow();
    wchar_t exe[kFilePathUnits];
    int n = _snwprintf(exe, kFilePathUnits, L"%ls\\%ls", folder.c_str(), kGameExe);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (n <= 0 || n >= kFilePathUnits ||
        !::CreateProcessW(exe, nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process)) {
        showBox(kGameStartFailedText, MB_ICONERROR);
        return;
    }
    // Closed at once: the monitor finds the game by its name.
    KernelHandle thread(process.hThread), child(process.hProcess);
    tryStartGameMonitor();
}
