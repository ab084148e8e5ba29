// The update worker's cycle in-process against the test server, one cycle at
// a time on a thread of its own, with every wait run fast through the seam
// and every step seen through the status observer.
#include <doctest/doctest.h>

#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "files/file_check.h"
#include "tests/support/processes.h"
#include "tests/support/release_signer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_server_client.h"
#include "trust/release_floor.h"
#include "update/download.h"
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
    DownloadRun run;  // what the cycle learns of its files
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
        testsrv::removeFile("launcher/release");  // a site without a release unless a test makes one
    }
    ~WorkerFixture() {
        if (cycle) ::CloseHandle(cycle);
        gStatusObserver = nullptr;
        gWaitSeam.divisor = 1;
    }
    void start() {
        cycle = ::CreateThread(nullptr, 0, [](void* run) -> DWORD {
            runUpdateCycle(*static_cast<DownloadRun*>(run));
            return 0;
        }, &run, 0, nullptr);
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

// ---- the release ------------------------------------------------------------

namespace {

struct ReleaseSite {
    std::string manifestObject, notesObject, release;
    explicit ReleaseSite(const WorkerFixture& f, int version = 5, int64_t expires = 253402300799) {
        manifestObject = signer::putObject(manifest(1, f.entry));  // the release's version is the one shown
        notesObject = signer::putObject("Signed notes\nLine two \xE2\x80\xA2 caf\xC3\xA9");
        testsrv::putFile("launcher/o/" + std::string(f.entry.sha1), "the game's data");
        release = signer::signRelease(signer::releaseHead(version, manifestObject, notesObject, expires));
        testsrv::putFile("launcher/release", release);
    }
};

bool requested(const std::string& prefix) {
    for (const auto& r : testsrv::requests())
        if (r.target.rfind(prefix, 0) == 0) return true;
    return false;
}

std::wstring statusNow() {
    LockHolder hold(gStateLock);
    return gState.statusText;
}

}  // namespace

TEST_CASE("a signed release installs through its objects alone, and what the window shows is signed") {
    WorkerFixture f("worker-release");
    signer::useTestKey();
    ReleaseSite site(f);
    testsrv::putFile("info.json", "{\"version\": 9, \"lobbies\": 4, \"players\": 5, \"notes\": \"SECURITY NOTICE\"}");
    testsrv::clearLog();
    gState.retryRequested = 1;  // the press in UpdateReady
    f.start();
    REQUIRE(f.ended());
    CHECK(sandbox::readFile(sandbox::gamePath("Game/data.bin")) == "the game's data");
    CHECK(requested("/launcher/o/" + std::string(f.entry.sha1)));
    CHECK_FALSE(requested("/launcher/manifest"));
    CHECK_FALSE(requested("/launcher/file"));
    CHECK(gState.serverVersion == 5);
    CHECK(gState.lobbiesOpen == 4);
    {
        LockHolder hold(gStateLock);
        REQUIRE(gState.patchNotes);
        CHECK(*gState.patchNotes == L"Signed notes\r\nLine two \u2022 caf\u00e9");
    }
    CHECK(loadReleaseFloor().version == 5);
    CHECK(sandbox::readFile(std::wstring(gState.dataFolder) + L"\\release.txt") == site.release);
}

TEST_CASE("a release that fails any rule is refused with its cause, installs nothing and keeps the floor") {
    WorkerFixture f("worker-release-refused");
    signer::useTestKey();
    ReleaseSite good(f, 5);
    REQUIRE(saveReleaseFloor(4, 0));
    std::wstring cause;
    SUBCASE("for another server") {
        std::string other = good.release.substr(0, good.release.find("sig "));
        other.replace(other.find("host ") + 5, other.find('\n', other.find("host ")) - other.find("host ") - 5,
                      "beta.tervalon.net");
        testsrv::putFile("launcher/release", signer::signRelease(other));
        cause = L"made for another server (beta.tervalon.net)";
    }
    SUBCASE("expired, with both dates") {
        testsrv::putFile("launcher/release",
                         signer::signRelease(signer::releaseHead(5, good.manifestObject, good.notesObject, 1700000000)));
        cause = L"expired on 2023-11-14, and this computer's date is 20";
    }
    SUBCASE("older than the floor") {
        testsrv::putFile("launcher/release",
                         signer::signRelease(signer::releaseHead(3, good.manifestObject, good.notesObject)));
        cause = L"offers version 3, older than the installed version 4";
    }
    SUBCASE("a manifest object with one byte changed") {
        std::string changed = manifest(1, f.entry);
        changed[changed.size() - 3] ^= 1;
        testsrv::putFile("launcher/o/" + good.manifestObject.substr(0, 64), changed);
        cause = L"does not match its signed description";
    }
    SUBCASE("a signature over other bytes") {
        std::string forged = good.release;
        forged.replace(forged.find("version 5"), 9, "version 6");
        testsrv::putFile("launcher/release", forged);
        cause = L"not signed with the game's key";
    }
    SUBCASE("no release at all") {
        testsrv::removeFile("launcher/release");
        cause = L"not signed with the game's key";
    }
    f.start();
    REQUIRE(f.reaches(ServerError));
    CHECK(statusNow().find(cause) != std::wstring::npos);
    CHECK(statusNow().find(L"Retrying automatically") != std::wstring::npos);
    REQUIRE(f.ended());
    CHECK(gWaitSeam.requestedMs == kNotSignedPauses * kRetryPollMs);
    CHECK_FALSE(requested("/launcher/o/" + std::string(f.entry.sha1)));
    CHECK_FALSE(requested("/launcher/manifest"));
    CHECK_FALSE(sandbox::exists(sandbox::gamePath("Game/data.bin")));
    CHECK(loadReleaseFloor().version == 4);
}

TEST_CASE("without a key: a release that reads well is used as it is, and a site without one is read as before") {
    WorkerFixture f("worker-release-unchecked");
    gState.retryRequested = 1;
    SUBCASE("a release, signed by whatever key") {
        ReleaseSite site(f, 5);
        testsrv::clearLog();
        f.start();
        REQUIRE(f.ended());
        CHECK(requested("/launcher/o/" + std::string(f.entry.sha1)));
        CHECK_FALSE(requested("/launcher/manifest"));
        CHECK(gState.serverVersion == 5);
    }
    SUBCASE("no release") {
        testsrv::clearLog();
        f.start();
        REQUIRE(f.ended());
        CHECK(requested("/launcher/manifest"));
        CHECK(requested("/launcher/file"));
        CHECK(gState.serverVersion == 3);
    }
    CHECK(sandbox::readFile(sandbox::gamePath("Game/data.bin")) == "the game's data");
}

TEST_CASE("a cache that lags behind serves an older release: nothing newer yet, the one in use goes on") {
    WorkerFixture f("worker-release-lagging");
    signer::useTestKey();
    ReleaseSite current(f, 5);
    sandbox::writeFile(sandbox::gamePath("Game/data.bin"), "the game's data");
    const auto serve = [&](int version) {
        testsrv::putFile("launcher/release",
                         signer::signRelease(signer::releaseHead(version, current.manifestObject, current.notesObject)));
    };
    f.start();
    REQUIRE(f.reaches(Ready));  // version 5 accepted, and kept
    serve(4);                   // the Ready poll meets an older release
    CHECK_FALSE(f.ended(500));
    std::string forged = signer::signRelease(signer::releaseHead(7, current.manifestObject, current.notesObject));
    forged.replace(forged.find("version 7"), 9, "version 8");  // newer, but not signed by the key
    testsrv::putFile("launcher/release", forged);
    CHECK_FALSE(f.ended(500));  // no news: PLAY stays
    CHECK_FALSE(f.passed(ServerError));
    serve(6);
    REQUIRE(f.ended());  // a newer one ends the wait

    // A fresh cycle meets the lagging cache, with the record of accepted
    // versions lost: the kept release still proves version 5.
    serve(4);
    ::DeleteFileW((std::wstring(gState.dataFolder) + L"\\release_versions.txt").c_str());
    ::CloseHandle(f.cycle);
    gPhases.clear();
    f.start();
    REQUIRE(f.reaches(Ready));
    CHECK_FALSE(f.passed(ServerError));
    CHECK(gState.serverVersion == 5);
    serve(6);
    REQUIRE(f.ended());
}

TEST_CASE("a game file held by another program: the status names it, the verified part waits, Retry moves it") {
    WorkerFixture f("worker-held-target");
    const std::wstring target = sandbox::gamePath("Game/data.bin");
    sandbox::writeFile(target, "an old copy");
    HANDLE held = ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);  // no sharing at all
    REQUIRE(held != INVALID_HANDLE_VALUE);
    gState.retryRequested = 1;  // the press in UpdateReady
    f.start();
    REQUIRE(f.reaches(LocalError));
    CHECK(statusNow() == L"data.bin is in use by another program. Close it, then press Retry.");
    CHECK(sandbox::readFile(target + L".part") == "the game's data");
    CHECK(gState.failedPasses == 0);
    ::CloseHandle(held);
    gState.retryRequested = 1;
    REQUIRE(f.ended());
    ::CloseHandle(f.cycle);
    gState.retryRequested = 1;
    testsrv::clearLog();
    f.start();
    REQUIRE(f.ended());  // the pass finished: the file is in place
    CHECK(sandbox::readFile(target) == "the game's data");
    for (const auto& r : testsrv::requests()) CHECK(r.target.rfind("/launcher/file", 0) != 0);  // only the move
}

TEST_CASE("a file damaged with its size and time kept: a normal check trusts the cache; Verify from the menu repairs it alone") {
    WorkerFixture f("worker-verify");
    const std::wstring target = sandbox::gamePath("Game/data.bin");
    sandbox::writeFile(target, "the game's data");
    ManifestEntry other = sandbox::makeEntry("Game/other.bin", "more of the game");
    testsrv::putFile("files/Game/other.bin", "more of the game");
    sandbox::writeFile(sandbox::gamePath("Game/other.bin"), "more of the game");
    const auto serve = [&](int version) {
        testsrv::putFile("info.json", info(version, 1, 1));
        testsrv::putFile("manifest.json", "{\"version\": " + std::to_string(version) + ", \"files\": [{\"p\": \"" +
                                              f.entry.path + "\", \"s\": 15, \"h\": \"" + f.entry.sha1 + "\"}, {\"p\": \"" +
                                              other.path + "\", \"s\": 16, \"h\": \"" + other.sha1 + "\"}]}");
    };
    serve(3);
    f.start();
    REQUIRE(f.reaches(Ready));  // both hashed once, and cached
    serve(4);
    REQUIRE(f.ended());

    // A byte changed; the size and the last-write time put back as they were.
    HANDLE h = ::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    FILETIME written;
    ::GetFileTime(h, nullptr, nullptr, &written);
    DWORD done = 0;
    ::WriteFile(h, "T", 1, &done, nullptr);
    ::SetFileTime(h, nullptr, nullptr, &written);
    ::CloseHandle(h);

    ::CloseHandle(f.cycle);
    testsrv::clearLog();
    gPhases.clear();
    loadFileCache();  // as the next start reads it
    f.start();
    REQUIRE(f.reaches(Ready));  // the cache vouches for it: nothing noticed
    CHECK(sandbox::readFile(target) == "The game's data");
    gState.playerCommand = kCommandVerify;  // chosen from the menu in Ready: the poll gives way
    REQUIRE(f.ended());

    ::CloseHandle(f.cycle);
    testsrv::clearLog();
    gPhases.clear();
    f.start();
    REQUIRE(f.ended());  // repaired at once, without a press
    CHECK(sandbox::readFile(target) == "the game's data");
    int files = 0;
    for (const auto& r : testsrv::requests()) files += r.target.rfind("/launcher/file", 0) == 0;
    CHECK(files == 1);
    CHECK(gState.verifyRequested == 0);
}

TEST_CASE("Uninstall from the menu: the game's files and folders go, the player's own stay and are counted, INSTALL is offered") {
    WorkerFixture f("worker-uninstall");
    sandbox::writeFile(sandbox::gamePath("Game/data.bin"), "the game's data");
    sandbox::writeFile(sandbox::gamePath("Game/Old/retired.pak"), "from an older version");
    sandbox::writeFile(sandbox::gamePath("Game/Old/retired.pak.part"), "from an older");
    sandbox::writeFile(sandbox::gamePath("Game/my notes.txt"), "mine");
    sandbox::writeFile(sandbox::gamePath("Screenshots/shot.png"), "mine too");
    f.start();
    REQUIRE(f.reaches(Ready));
    FileCacheEntry retired{};  // the cache still knows what an older version installed
    retired.path = "Game/Old/retired.pak";
    gState.fileCache.push_back(retired);
    gState.playerCommand = kCommandUninstall;
    REQUIRE(f.ended());
    ::CloseHandle(f.cycle);
    f.start();
    REQUIRE(f.reaches(UpdateReady));
    CHECK(statusNow().rfind(L"Game uninstalled \u2022 2 file(s) of your own left in ", 0) == 0);
    CHECK(std::wstring(mainButtonLabel(UpdateReady, gState.gameInstalled != 0)) == L"INSTALL");
    for (const char* gone : {"Game/data.bin", "Game/Old/retired.pak", "Game/Old/retired.pak.part", "Game/Old"})
        CHECK_FALSE(sandbox::exists(sandbox::gamePath(gone)));
    CHECK(sandbox::readFile(sandbox::gamePath("Game/my notes.txt")) == "mine");
    CHECK(sandbox::readFile(sandbox::gamePath("Screenshots/shot.png")) == "mine too");
    for (const wchar_t* record : {L"\\files.cache", L"\\installed.txt"})
        CHECK_FALSE(sandbox::exists(std::wstring(gState.dataFolder) + record));
    gState.retryRequested = 1;  // INSTALL
    REQUIRE(f.ended());
    CHECK(sandbox::readFile(sandbox::gamePath("Game/data.bin")) == "the game's data");
}
