// The update worker's cycle in-process against the test server, one cycle at
// a time on a thread of its own, with every wait run fast through the seam
// and every step seen through the status observer.
#include <doctest/doctest.h>

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "tests/support/processes.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_server_client.h"
#include "update/update_worker.h"

namespace {

std::mutex gStepsLock;
std::vector<int> gPhases;

void recordStep(int phase, const wchar_t*) {
    std::lock_guard<std::mutex> hold(gStepsLock);
    gPhases.push_back(phase);
}

std::string info(int version, int lobbies, int players) {
    return "{\"version\": " + std::to_string(version) + ", \"lobbies\": " + std::to_string(lobbies) +
           ", \"players\": " + std::to_string(players) + ", \"notes\": \"Notes\"}";
}

std::string manifest(int version, const ManifestEntry& e) {
    return "{\"version\": " + std::to_string(version) + ", \"files\": [{\"p\": \"" + e.path + "\", \"s\": " +
           std::to_string(e.size) + ", \"h\": \"" + e.sha1 + "\"}]}";
}

struct WorkerFixture {
    sandbox::PostSink window;
    HANDLE cycle = nullptr;
    ManifestEntry entry;

    explicit WorkerFixture(const char* name) {
        testsrv::useServer();
        sandbox::useFolders(name);
        gState.mainWindow = window.hwnd;
        gWaitSeam.divisor = 1000;
        gWaitSeam.requestedMs = 0;
        gStatusObserver = recordStep;
        gPhases.clear();
        entry = sandbox::makeEntry("Game/data.bin", "the game's data");
        testsrv::putFile("files/Game/data.bin", "the game's data");
        testsrv::putFile("info.json", info(3, 4, 5));
        testsrv::putFile("manifest.json", manifest(3, entry));
    }
    ~WorkerFixture() {
        if (cycle) ::CloseHandle(cycle);
        gStatusObserver = nullptr;
        gWaitSeam.divisor = 1;
    }
    void start() {
        cycle = ::CreateThread(nullptr, 0, [](void*) -> DWORD { runUpdateCycle(); return 0; }, nullptr, 0, nullptr);
        REQUIRE(cycle);
    }
    // The cycle came to its end by itself; one stuck in a wait fails the test.
    bool ended(DWORD ms = 30000) { return ::WaitForSingleObject(cycle, ms) == WAIT_OBJECT_0; }
    bool reaches(int phase) {
        return procs::waitUntil([phase] {
            std::lock_guard<std::mutex> hold(gStepsLock);
            return !gPhases.empty() && gPhases.back() == phase;
        });
    }
    bool passed(int phase) {
        std::lock_guard<std::mutex> hold(gStepsLock);
        return std::find(gPhases.begin(), gPhases.end(), phase) != gPhases.end();
    }
};

}  // namespace

TEST_CASE("each wait lasts as long as its cause says, then the cycle starts again on its own") {
    WorkerFixture f("worker-waits");
    uint64_t expected = 0;
    SUBCASE("server unreachable: 301 pauses") {
        testsrv::setRules(R"([{"path": "/launcher/info", "drop": true}])");
        expected = 301 * kRetryPollMs;
    }
    SUBCASE("server not set up: 601 pauses") {
        testsrv::putFile("info.json", "{\"lobbies\": 1}");
        expected = 601 * kRetryPollMs;
    }
    SUBCASE("files being prepared: 151 pauses") {
        testsrv::setRules(R"([{"path": "/launcher/manifest", "status": 503}])");
        expected = 151 * kRetryPollMs;
    }
    f.start();
    REQUIRE(f.ended());
    CHECK(gWaitSeam.requestedMs == expected);
}

TEST_CASE("after a failed pass the next cycle goes on without a press; after Retry of an interruption too") {
    WorkerFixture f("worker-failed-pass");
    testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "status": 404}])");
    SUBCASE("one pass failed before") {
        gState.failedPasses = 1;
        f.start();
        REQUIRE(f.ended());  // no press was needed in UpdateReady
        CHECK(f.passed(UpdateReady));
        CHECK(f.passed(Downloading));
        CHECK(gState.failedPasses == 2);
        CHECK(gWaitSeam.requestedMs == 2 * 2000 + kFailedPassPauseMs);  // two attempt pauses, then the pass pause
    }
    SUBCASE("the third failed pass asks for Retry; the cycle after it downloads without another press") {
        gState.failedPasses = 2;
        f.start();
        REQUIRE(f.reaches(LocalError));
        gState.retryRequested = 1;  // the player presses Retry
        REQUIRE(f.ended());
        ::CloseHandle(f.cycle);
        gPhases.clear();
        f.start();
        REQUIRE(f.reaches(LocalError));  // straight through UpdateReady to a new attempt
        CHECK(f.passed(Downloading));
        CHECK(gState.failedPasses == 4);
        gState.retryRequested = 1;
        REQUIRE(f.ended());
    }
}

TEST_CASE("a free-space query that fails goes on to download") {
    WorkerFixture f("worker-no-free-space");
    std::wcscpy(gState.dataFolder, L"Q:\\no such drive");  // the game folder stays real
    gState.retryRequested = 1;  // the press in UpdateReady
    f.start();
    REQUIRE(f.ended());
    CHECK_FALSE(f.passed(LocalError));
    CHECK(sandbox::readFile(sandbox::gamePath("Game/data.bin")) == "the game's data");
}

TEST_CASE("the Ready poll: counts and online state, nothing on a failed poll, a new version only in Ready") {
    WorkerFixture f("worker-ready-poll");
    sandbox::writeFile(sandbox::gamePath("Game/data.bin"), "the game's data");  // already installed
    f.start();
    REQUIRE(f.reaches(Ready));
    f.window.drain();
    f.window.wParams.clear();
    testsrv::putFile("info.json", info(3, 7, 8));
    CHECK(procs::waitUntil([] { return gState.lobbiesOpen == 7 && gState.playersInMatches == 8; }));
    gState.serverOnline = 0;
    CHECK(procs::waitUntil([] { return gState.serverOnline == 1; }));
    f.window.drain();
    CHECK(std::find(f.window.wParams.begin(), f.window.wParams.end(), WPARAM{1}) == f.window.wParams.end());

    testsrv::setRules(R"([{"path": "/launcher/info", "status": 500}])");
    gState.lobbiesOpen = -5;
    ::Sleep(300);  // several polls fail
    CHECK(gState.lobbiesOpen == -5);
    testsrv::clearRules();

    setStatus(Running, L"Tervalon is running. Have fun!");
    testsrv::putFile("info.json", info(4, 7, 8));
    CHECK_FALSE(f.ended(500));  // a new version waits for the game to end
    setStatus(Ready, L"Up to date");
    CHECK(f.ended());
}
