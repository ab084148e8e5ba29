// Game launch and the session monitor with real processes: stand-ins for the
// game and Steam built by the project under their real names, real process
// snapshots, real message boxes (dismissed as a user would) and a real URL
// protocol handler. The monitor's 1,500 ms polls run fast through the wait seam.
#include <doctest/doctest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "steam/game_session.h"
#include "steam/steam_stats.h"
#include "tests/support/processes.h"
#include "tests/support/sandbox.h"
#include "tests/support/steam_fixture.h"
#include "tests/support/wide_strings.h"

namespace {

using procs::installFake;
using procs::killAll;
using procs::processRunning;
using procs::startProcess;
using procs::waitUntil;

std::wstring statusText() {
    LockHolder hold(gStateLock);
    return gState.statusText;
}

// Presses OK on every message box of this process and keeps what it said.
class MessageBoxWatcher {
public:
    MessageBoxWatcher() : thread_([this] { run(); }) {}
    ~MessageBoxWatcher() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> texts() {
        std::lock_guard<std::mutex> hold(mutex_);
        return texts_;
    }

private:
    static BOOL CALLBACK collectStatic(HWND child, LPARAM out) {
        wchar_t cls[32], text[512];
        ::GetClassNameW(child, cls, 32);
        if (::lstrcmpiW(cls, L"Static") == 0 && ::GetWindowTextW(child, text, 512) > 0)
            *reinterpret_cast<std::wstring*>(out) = text;
        return TRUE;
    }
    static BOOL CALLBACK findBox(HWND w, LPARAM self) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        wchar_t cls[32], caption[64];
        ::GetClassNameW(w, cls, 32);
        // Only a dialog's caption is asked for: asking a window whose thread
        // pumps no messages (the test's own) would block.
        if (pid != ::GetCurrentProcessId() || std::wstring(cls) != L"#32770") return TRUE;
        ::GetWindowTextW(w, caption, 64);
        auto* watcher = reinterpret_cast<MessageBoxWatcher*>(self);
        if (std::wstring(caption) == kWindowTitle && watcher->seen_.insert(w).second) {
            std::wstring text;
            ::EnumChildWindows(w, collectStatic, reinterpret_cast<LPARAM>(&text));
            {
                std::lock_guard<std::mutex> hold(watcher->mutex_);
                watcher->texts_.push_back(text);
            }
            ::PostMessageW(w, WM_COMMAND, IDOK, 0);
        }
        return TRUE;
    }
    void run() {
        while (!stop_) {
            ::EnumWindows(findBox, reinterpret_cast<LPARAM>(this));
            ::Sleep(50);
        }
    }
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::wstring> texts_;
    std::set<HWND> seen_;  // a box may outlive one round of the search
    std::thread thread_;
};

// A launcher window, a fresh game folder, fast polls, and no stand-in
// process left over afterwards.
struct SessionFixture {
    HWND window;
    std::wstring steamDir;
    explicit SessionFixture(const char* name) {
        resetLauncherState();
        sandbox::useFolders(name);
        steamDir = steamfix::steamFolder(name);
        window = ::CreateWindowExW(0, L"STATIC", L"launcher", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                   nullptr);
        gState.mainWindow = window;
        gState.serverVersion = 7;
        setStatus(Ready, L"Up to date \u2022 version %d", 7);
        // Polls every 150 ms: faster ones can fall between the bootstrap's exit
        // and Wine listing the shipping process by name while the machine is busy.
        gWaitSeam.divisor = 10;
        gWaitSeam.requestedMs = 0;
        ::SetEnvironmentVariableW(L"TVL_FAKE_GAME_MODE", nullptr);
        ::SetEnvironmentVariableW(L"TVL_FAKE_STAY_MS", L"1500");
    }
    ~SessionFixture() {
        waitUntil([] { return gState.gameRunning == 0; });
        for (const wchar_t* name : {kGameExe, kShippingExe, kSteamExe}) killAll(name);
        gState.mainWindow = nullptr;
        ::DestroyWindow(window);
        gWaitSeam.divisor = 1;
    }
    std::string started() { return sandbox::readFile(std::wstring(gState.gameFolder) + L"\\started.txt"); }
};

}  // namespace

TEST_CASE("the game is recognised by either executable name, in any case") {
    SessionFixture f("names");
    CHECK_FALSE(isGameRunning());
    installFake(L"Tervalon.exe", gState.gameFolder, L"TERVALON.EXE");
    startProcess(std::wstring(gState.gameFolder) + L"\\TERVALON.EXE");
    CHECK(waitUntil(isGameRunning, 5000));
    killAll(L"TERVALON.EXE");
    CHECK(waitUntil([] { return !isGameRunning(); }, 5000));
    installFake(kShippingExe, gState.gameFolder);
    startProcess(std::wstring(gState.gameFolder) + L"\\" + kShippingExe);
    CHECK(waitUntil(isGameRunning, 5000));
}

TEST_CASE("PLAY without Steam asks Steam to open, says so, and starts nothing") {
    SessionFixture f("nosteam");
    installFake(kGameExe, gState.gameFolder);
    installFake(kSteamExe, f.steamDir);
    // The shell hands "steam://" addresses to the stand-in, as to the real client.
    // (Wine's shell reads protocol handlers from the machine's classes only.)
    HKEY key;
    REQUIRE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\steam\\shell\\open\\command", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS);
    std::wstring command = L"\"" + f.steamDir + L"\\steam.exe\" \"%1\"";
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                     static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\steam", L"URL Protocol", REG_SZ, L"", sizeof(wchar_t));
    {
        MessageBoxWatcher boxes;
        launchGame();
        CHECK(boxes.texts() == std::vector<std::wstring>{kSteamStartingText});
    }
    CHECK(waitUntil([&] { return !sandbox::readFile(f.steamDir + L"\\steam_url.txt").empty(); }, 10000));
    CHECK(sandbox::readFile(f.steamDir + L"\\steam_url.txt").rfind("steam://open/main", 0) == 0);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\steam");
    CHECK(f.started().empty());
    CHECK(gState.phase == Ready);
    CHECK(gState.gameRunning == 0);
}

TEST_CASE("PLAY with Steam running starts the game and follows it to the end") {
    SessionFixture f("play");
    steamfix::SteamRegistry registry;
    registry.setPath(f.steamDir);
    steamfix::writeSteamFile(f.steamDir, "config/loginusers.vdf", steamfix::loginUsers({{"76561198000000001", "Ana"}}));
    steamfix::writeSteamFile(f.steamDir, "userdata/39734273/config/localconfig.vdf", steamfix::localConfig(100, 200));
    SteamStats before{};
    before.valid = 1;
    wcscpy(before.personaName, L"Ana");
    before.playtimeMinutes = 40;
    publishSteamStats(before);

    installFake(kGameExe, gState.gameFolder);
    installFake(kShippingExe, gState.gameFolder);
    installFake(kSteamExe, f.steamDir);
    ::SetEnvironmentVariableW(L"TVL_FAKE_STAY_MS", L"60000");
    startProcess(f.steamDir + L"\\steam.exe");
    REQUIRE(waitUntil([] { return processRunning(kSteamExe); }, 5000));
    // The bootstrap starts the shipping executable and exits at once; the monitor
    // must follow the second name.
    ::SetEnvironmentVariableW(L"TVL_FAKE_STAY_MS", L"1500");
    ::SetEnvironmentVariableW(L"TVL_FAKE_GAME_MODE", L"bootstrap");

    SUBCASE("Steam's files readable afterwards: new statistics") {
        MessageBoxWatcher boxes;
        launchGame();
        CHECK(gState.gameRunning == 1);
        CHECK(waitUntil([] { return gState.phase == Running; }));
        CHECK(statusText() == L"Tervalon is running. Have fun!");
        CHECK(waitUntil([] { return processRunning(kShippingExe); }, 5000));
        CHECK(waitUntil([] { return gState.phase == Ready; }));
        CHECK(boxes.texts().empty());
        CHECK(steamStatsSnapshot().playtimeMinutes == 100);
        CHECK(steamStatsSnapshot().lastPlayed == 200);
    }
    SUBCASE("Steam's files unreadable afterwards: the statistics from before stay") {
        launchGame();
        CHECK(waitUntil([] { return gState.phase == Running; }));
        registry.clear();
        CHECK(waitUntil([] { return gState.phase == Ready; }));
        CHECK(steamStatsSnapshot().valid == 1);
        CHECK(steamStatsSnapshot().playtimeMinutes == 40);
    }
    CHECK(statusText() == L"Up to date \u2022 version 7");
    CHECK(gState.gameRunning == 0);
    CHECK_FALSE(processRunning(kShippingExe));
    // Started from the game folder, without arguments.
    std::string started = f.started();
    std::string folder(gState.gameFolder, gState.gameFolder + wcslen(gState.gameFolder));
    CHECK(started.find("Tervalon.exe|" + folder + "|0") != std::string::npos);
    CHECK(started.find("Tervalon-Win64-Shipping.exe|") != std::string::npos);
}

TEST_CASE("PLAY with Steam running but no game executable shows the error box") {
    SessionFixture f("nogame");
    installFake(kSteamExe, f.steamDir);
    ::SetEnvironmentVariableW(L"TVL_FAKE_STAY_MS", L"60000");
    startProcess(f.steamDir + L"\\steam.exe");
    REQUIRE(waitUntil([] { return processRunning(kSteamExe); }, 5000));
    MessageBoxWatcher boxes;
    launchGame();
    CHECK(boxes.texts() == std::vector<std::wstring>{kGameStartFailedText});
    CHECK(gState.phase == Ready);
    CHECK(gState.gameRunning == 0);
}

TEST_CASE("PLAY while the game already runs: no Steam check, no second game, a monitor") {
    SessionFixture f("already");
    installFake(kShippingExe, gState.gameFolder);
    installFake(kGameExe, gState.gameFolder);
    startProcess(std::wstring(gState.gameFolder) + L"\\" + kShippingExe);
    REQUIRE(waitUntil(isGameRunning, 5000));
    MessageBoxWatcher boxes;  // Steam does not run: a check would show a box
    launchGame();
    CHECK(waitUntil([] { return gState.phase == Running; }));
    CHECK(waitUntil([] { return gState.phase == Ready; }));
    CHECK(boxes.texts().empty());
    CHECK(f.started().find("Tervalon.exe|") == std::string::npos);
}

TEST_CASE("a game never seen keeps Running through 42 polls, then Ready") {
    SessionFixture f("neverseen");
    REQUIRE(tryStartGameMonitor());
    CHECK(waitUntil([] { return gState.phase == Running; }));
    CHECK(waitUntil([] { return gState.phase == Ready; }));
    CHECK(gWaitSeam.requestedMs == uint64_t{kMonitorStartPolls} * kMonitorPollMs);
    CHECK(kMonitorPollMs == 1500);
    CHECK(kMonitorStartPolls == 42);
}

TEST_CASE("two threads starting a monitor at the same moment start exactly one") {
    SessionFixture f("race");
    gWaitSeam.divisor = 100;  // no game is started here: the monitor only waits out its 42 polls
    for (int round = 0; round < 5; ++round) {
        std::atomic<bool> go{false};
        std::atomic<int> started{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&] {
                while (!go) std::this_thread::yield();
                if (tryStartGameMonitor()) ++started;
            });
        go = true;
        for (auto& t : threads) t.join();
        CHECK(started == 1);
        REQUIRE(waitUntil([] { return gState.gameRunning == 0 && gState.phase == Ready; }));
    }
}
