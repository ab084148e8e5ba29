// TVLHeadless: the launcher without its window. Start-up as the launcher
// does it (data folders, TVLLauncher.ini beside this exe, cache, HTTP
// session), then the update worker and the image loader, with a message-only
// window standing in for the main window. Every change of phase or status
// text is printed as "<Phase>: <text>" in UTF-8, what became of each
// cycle's release as "Release: <result>", and every look at the
// launcher's own offer as "Launcher: <result>", and each file brought up to
// date from its installed copy as "Delta: <path>: reused ..., fetched ...,
// N request(s)", each move to another source of objects as "Source: <the
// source moved to>: <which failed, at what>", and before each Ready the connections opened so far as
// "Network: N connection(s) opened". It never replaces itself.
//
//   --version         print the launcher's version and exit
//   --press-update    press the main button whenever the phase is UpdateReady
//   --press-retry     press it whenever the phase is ServerError, LocalError or Waiting
//   --exit-on-ready   exit with 0 as soon as the phase first becomes Ready
//   --timeout S       exit with 3 after S seconds
//   --fast-waits N    divide every wait by N (for tests; the launcher has no such thing)
//   --limit MBPS      keep downloads to MBPS MB/s (1 to 1000) for this run
//   --verify          hash every game file, whatever the cache says, and repair what differs
//   --game-folder P   move the game to folder P, as the menu does, and remember it there
//   --connections N   use at most N connections (1 to 8) instead of the launcher's number
//   --log             echo launcher.log's lines to standard error as they are written
//   --play-offline    choose "Play offline" once, as soon as the menu would offer it
//                     (ServerError, or a LocalError of the server's); prints
//                     "Offline: ..." and exits 0 when the game it started has ended
//
// Exit codes: 0 at --exit-on-ready or after an offline game, 2 for a usage
// error, 3 at --timeout, 4 when TVLLauncher.ini cannot be trusted (the
// LocalError line says why), 5 when "Play offline" refused (the Offline line
// says why), 6 when the game did not start.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <mutex>
#include <string>

#include "app/startup.h"
#include "core/config_file.h"
#include "core/decimal_scan.h"
#include "core/event_log_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/launcher_version.h"
#include "core/player_settings.h"
#include "core/wait_seam.h"
#include "delta/delta_win.h"
#include "net/http_client.h"
#include "net/segment_fetch_win.h"
#include "net/sources_win.h"
#include "render/window_controls.h"
#include "steam/game_session.h"
#include "steam/image_loader.h"
#include "steam/steam_stats.h"
#include "update/launcher_update_win.h"
#include "update/offline_play_win.h"
#include "update/update_worker.h"

namespace {

constexpr UINT_PTR kTimeoutTimer = 1;
constexpr UINT_PTR kPressTimer = 2;
constexpr UINT kPressCheckMs = 100;
constexpr int64_t kLongestTimeoutSeconds = 4000000;  // the timer's milliseconds must fit 32 bits
constexpr int64_t kLargestWaitDivisor = 1000000;
constexpr int64_t kLargestLimitMBps = 1000;

struct Options {
    bool pressUpdate = false;
    bool pressRetry = false;
    bool exitOnReady = false;
    int timeoutSeconds = 0;
    unsigned waitDivisor = 1;
    int64_t limitMBps = 0;
    bool verify = false;
    bool playOffline = false;
    std::wstring gameFolder;
};

struct Shown {
    int phase = -1;
    std::wstring text;
    bool steamPrinted = false;
};

Options gOptions;
Shown gShown;

// Every setStatus, in order, as the worker and the monitor made them.
std::mutex gStepsLock;
std::deque<std::pair<int, std::wstring>> gSteps;
std::atomic<unsigned> gStepCount{0};

constexpr int kReleaseStep = -2;  // a line of its own, not a phase
constexpr int kLauncherStep = -3;
constexpr int kDeltaStep = -4;
constexpr int kSourceStep = -5;

void recordStep(int phase, const wchar_t* text) {
    std::lock_guard<std::mutex> hold(gStepsLock);
    gSteps.emplace_back(phase, text);
    ++gStepCount;
}

// In order with the status lines, so a server owner reads why a phase came.
void recordRelease(const wchar_t* result) {
    recordStep(kReleaseStep, result);
    postStateChanged(0);
}

void recordDelta(const wchar_t* result) {
    recordStep(kDeltaStep, result);
    postStateChanged(0);
}

void recordSourceMove(const wchar_t* result) {
    recordStep(kSourceStep, result);
    postStateChanged(0);
}

void recordLauncherOffer(const wchar_t* result) {
    recordStep(kLauncherStep, result);
    postStateChanged(0);
}

void printLine(const std::wstring& line) {
    std::wstring withEnd = line + L"\n";
    int n = ::WideCharToMultiByte(CP_UTF8, 0, withEnd.c_str(), static_cast<int>(withEnd.size()), nullptr, 0, nullptr,
                                  nullptr);
    std::string utf8(n > 0 ? n : 0, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, withEnd.c_str(), static_cast<int>(withEnd.size()), utf8.data(), n, nullptr,
                          nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

void printSteamOnce() {
    if (gShown.steamPrinted || !gSteamStatsLoaded) return;
    gShown.steamPrinted = true;
    SteamStats s = steamStatsSnapshot();
    if (!s.valid) {
        printLine(L"Steam: not found");
        return;
    }
    wchar_t line[1024];
    _snwprintf(line, 1024, L"Steam: %ls | playtime %lld | lastplayed %lld | avatar %ls", s.personaName,
               static_cast<long long>(s.playtimeMinutes), static_cast<long long>(s.lastPlayed), s.avatarPath);
    line[1023] = 0;
    printLine(line);
}

// As a player would press the main button: only in a phase where it reacts,
// and only once the worker has stayed there (no new status for a whole check
// interval), so that a phase passed through on the way is never pressed.
void pressIfAsked() {
    static unsigned lastCount = ~0u;
    unsigned count = gStepCount;
    bool settled = count == lastCount;
    lastCount = count;
    int phase = gState.phase;
    bool update = gOptions.pressUpdate && phase == UpdateReady;
    bool retry = gOptions.pressRetry && (phase == ServerError || phase == LocalError || phase == Waiting);
    if (settled && (update || retry)) gState.retryRequested = 1;
}

void onStateChanged();
[[noreturn]] void endNow(UINT code);

// --play-offline: as a player would choose it from the menu, once.
void playOfflineIfAsked() {
    static bool started = false, tried = false;
    static unsigned lastCount = ~0u;
    const unsigned count = gStepCount;
    const bool settled = count == lastCount;
    lastCount = count;
    if (started) {
        if (gState.gameRunning || gState.phase == Running) return;
        onStateChanged();  // the phase the game's end put back comes first
        printLine(L"Offline: the game has ended");
        endNow(0);
    }
    if (tried || !settled || !playOfflineEnabled(gState.phase, gState.serverFault != 0, gState.gameRunning != 0, true))
        return;
    tried = true;
    const OfflinePlay play = judgeOfflinePlay();
    if (!play.playable) {
        printLine(L"Offline: refused: " + play.reason);
        endNow(5);
    }
    printLine(L"Offline: playing version " + std::to_wstring(play.version));
    if (!launchGameOffline()) {
        printLine(L"Offline: the game did not start");
        endNow(6);
    }
    started = true;
}

// Ends with `code` at once. The background threads may be inside WinHTTP
// (the image loader's fetch, a poll); the teardown ExitProcess runs under
// Wine can fault there, and the exit code must say what the run found.
[[noreturn]] void endNow(UINT code) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), code);
    ::ExitProcess(code);  // not reached
}

void showStep(int phase, const std::wstring& text) {
    if (phase == kReleaseStep || phase == kLauncherStep || phase == kDeltaStep || phase == kSourceStep) {
        const wchar_t* tag = phase == kReleaseStep    ? L"Release: "
                             : phase == kLauncherStep ? L"Launcher: "
                             : phase == kDeltaStep    ? L"Delta: "
                                                      : L"Source: ";
        printLine(tag + text);
        return;
    }
    if (phase == gShown.phase && text == gShown.text) return;
    gShown.phase = phase;
    gShown.text = text;
    if (phase == Ready) printLine(L"Network: " + std::to_wstring(gConnectionsOpened.load()) + L" connection(s) opened");
    printLine(std::wstring(phaseInfo(phase).name) + L": " + text);
    if (gOptions.exitOnReady && phase == Ready) endNow(0);
}

void onStateChanged() {
    printSteamOnce();
    std::deque<std::pair<int, std::wstring>> steps;
    {
        std::lock_guard<std::mutex> hold(gStepsLock);
        steps.swap(gSteps);
    }
    for (auto& [phase, text] : steps) showStep(phase, text);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kMsgStateChanged) {
        onStateChanged();
        return 0;
    }
    if (msg == WM_TIMER && wParam == kPressTimer) {
        pressIfAsked();
        if (gOptions.playOffline) playOfflineIfAsked();
        return 0;
    }
    if (msg == WM_TIMER && wParam == kTimeoutTimer) {
        endNow(3);
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A whole number from 1 to `largest`, in digits only. "abc", "-5", "0"
// and "5s" are refused: a bad --timeout must not mean "run forever".
bool wholeNumberArgument(const wchar_t* text, int64_t largest, int64_t* out) {
    std::string digits;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9') return false;
        digits += static_cast<char>(*c);
    }
    size_t pos = 0;
    int64_t value = 0;
    if (digits.empty() || !scanInt64(digits.data(), digits.size(), &pos, &value)) return false;  // overflow too
    if (value < 1 || value > largest) return false;
    *out = value;
    return true;
}

// A folder's path: not empty, short enough for the game's files to fit
// under it, and without the characters no Windows path holds.
bool folderArgument(const wchar_t* text, std::wstring* out) {
    const std::wstring folder = text;
    if (folder.empty() || folder.size() >= kFolderPathUnits) return false;
    if (folder.find_first_of(L"*?\"<>|") != std::wstring::npos) return false;
    for (wchar_t c : folder)
        if (c < 0x20) return false;
    *out = folder;
    return true;
}

bool parseOptions(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--press-update") gOptions.pressUpdate = true;
        else if (a == L"--press-retry") gOptions.pressRetry = true;
        else if (a == L"--exit-on-ready") gOptions.exitOnReady = true;
        else if (a == L"--verify") gOptions.verify = true;
        else if (a == L"--log") gLogEcho = true;
        else if (a == L"--play-offline") gOptions.playOffline = true;
        else if (a == L"--timeout" && i + 1 < argc) {
            int64_t seconds = 0;
            if (!wholeNumberArgument(argv[++i], kLongestTimeoutSeconds, &seconds)) return false;
            gOptions.timeoutSeconds = static_cast<int>(seconds);
        } else if (a == L"--fast-waits" && i + 1 < argc) {
            int64_t divisor = 0;
            if (!wholeNumberArgument(argv[++i], kLargestWaitDivisor, &divisor)) return false;
            gOptions.waitDivisor = static_cast<unsigned>(divisor);
        } else if (a == L"--game-folder" && i + 1 < argc) {
            if (!folderArgument(argv[++i], &gOptions.gameFolder)) return false;
        } else if (a == L"--connections" && i + 1 < argc) {
            int64_t connections = 0;
            if (!wholeNumberArgument(argv[++i], kMostConnections, &connections)) return false;
            gConnectionLimit = static_cast<int>(connections);
        } else if (a == L"--limit" && i + 1 < argc) {
            if (!wholeNumberArgument(argv[++i], kLargestLimitMBps, &gOptions.limitMBps)) return false;
        } else return false;
    }
    return true;
}

HWND createMessageWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TVLHeadless";
    ::RegisterClassW(&wc);
    return ::CreateWindowExW(0, L"TVLHeadless", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    restrictDllSearch();
    if (argc == 2 && std::wstring(argv[1]) == L"--version") {
        std::printf("%d\n", static_cast<int>(kLauncherVersion));
        return 0;
    }
    if (!parseOptions(argc, argv)) {
        std::fprintf(stderr,
                     "usage: TVLHeadless [--version] [--press-update] [--press-retry] [--exit-on-ready] "
                     "[--timeout S] [--fast-waits N] [--limit MBPS] [--verify] [--game-folder PATH] [--connections N] "
                     "[--log] [--play-offline]\n");
        return 2;
    }
    gWaitSeam.divisor = gOptions.waitDivisor ? gOptions.waitDivisor : 1;
    prepareLauncher();
    if (gOptions.limitMBps) gState.speedLimit = gOptions.limitMBps * kBytesPerMB;  // this run only
    gState.verifyRequested = gOptions.verify ? 1 : 0;
    if (!gOptions.gameFolder.empty()) {  // before the worker starts: no lock needed yet
        wcscpy_s(gState.moveTarget, gOptions.gameFolder.c_str());
        gState.playerCommand = kCommandMove;
    }
    if (gState.configProblem != kConfigFine) {  // the launcher would show this and contact no server
        printLine(std::wstring(phaseInfo(LocalError).name) + L": " + configProblemText(gState.configProblem));
        return 4;
    }
    if (gState.proxy.kind != kProxySystem) {
        const std::string shown = shownProxy(gState.proxy);  // ASCII: never the user name or password
        printLine(L"Network: " + std::wstring(shown.begin(), shown.end()) + L", from TVLLauncher.ini");
    }
    gState.mainWindow = createMessageWindow();
    if (gOptions.pressUpdate || gOptions.pressRetry || gOptions.playOffline) ::SetTimer(gState.mainWindow, kPressTimer, kPressCheckMs, nullptr);
    if (gOptions.timeoutSeconds > 0)
        ::SetTimer(gState.mainWindow, kTimeoutTimer, static_cast<UINT>(gOptions.timeoutSeconds) * 1000, nullptr);
    gStatusObserver = recordStep;
    gReleaseObserver = recordRelease;
    gLauncherOfferObserver = recordLauncherOffer;
    gDeltaObserver = recordDelta;
    gSourceObserver = recordSourceMove;
    {
        LockHolder hold(gStateLock);
        showStep(gState.phase, gState.statusText);  // the first line: Connecting
    }
    startBackgroundThreads();
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return 0;
}
