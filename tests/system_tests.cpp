// Whole stories of the update cycle: TVLHeadless.exe as a real process
// against the real test server, with the player's data folder of this Wine
// prefix. Waits run 100 times faster (--fast-waits 100).
#include <doctest/doctest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/headless_run.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_server_client.h"

namespace {

const std::string kDot = "\xE2\x80\xA2";  // the bullet of the status texts, in UTF-8

struct GameFile {
    std::string path;
    std::string content;
};

std::vector<GameFile> sampleGame(unsigned seed) {
    return {{"Tervalon.exe", testsrv::randomBytes(40000, seed)},
            {"Tervalon/Content/Paks/Level 1.pak", testsrv::randomBytes(300000, seed + 1)},
            {"Tervalon/Config/Caf\xC3\xA9.ini", "[Game]\r\nName=Tervalon\r\n"},
            {"Engine/empty.txt", ""}};
}

std::string manifestLine(const std::string& path, long long size, const std::string& sha1) {
    return "  {\"p\": \"" + path + "\", \"s\": " + std::to_string(size) + ", \"h\": \"" + sha1 + "\"}";
}

// Publishes the files (and any extra manifest lines) as the server's game.
void publish(int version, const std::vector<GameFile>& files, const std::vector<std::string>& extra = {}) {
    std::string manifest = "{\"version\": " + std::to_string(version) + ", \"files\": [\n";
    for (const GameFile& f : files) {
        testsrv::putFile("files/" + f.path, f.content);
        manifest += manifestLine(f.path, static_cast<long long>(f.content.size()), sandbox::sha1Hex(f.content)) + ",\n";
    }
    for (const std::string& line : extra) manifest += line + ",\n";
    testsrv::putFile("manifest.json", manifest + "]}\n");
    testsrv::putFile("info.json", "{\"version\": " + std::to_string(version) +
                                      ", \"lobbies\": 2, \"players\": 9, \"notes\": \"Patch " + std::to_string(version) +
                                      "\\nFixes\"}");
}

int64_t totalBytes(const std::vector<GameFile>& files) {
    int64_t n = 0;
    for (const GameFile& f : files) n += static_cast<int64_t>(f.content.size());
    return n;
}

std::string readyToInstall(int version, size_t files, int64_t bytes) {
    char t[200];
    std::snprintf(t, sizeof t, "UpdateReady: Ready to install %s version %d %s %d file(s), %.2f GB", kDot.c_str(), version,
                  kDot.c_str(), static_cast<int>(files), static_cast<double>(bytes) / 1073741824.0);
    return t;
}

std::string updateAvailable(int version, size_t files, int64_t bytes) {
    char t[200];
    std::snprintf(t, sizeof t, "UpdateReady: Update available %s version %d %s %d file(s), %.1f MB", kDot.c_str(),
                  version, kDot.c_str(), static_cast<int>(files), static_cast<double>(bytes) / 1048576.0);
    return t;
}

std::string upToDate(int version) { return "Ready: Up to date " + kDot + " version " + std::to_string(version); }

const std::string kUnreachable =
    "ServerError: Can't reach the server. Check your internet connection, then press Retry.";
const std::string kUnexpected = "ServerError: The server sent an unexpected answer. Press Retry.";
const std::string kInterrupted = "LocalError: Download interrupted. Press Retry to continue where it stopped.";

struct SystemFixture {
    std::wstring exe;
    std::wstring data = headless::dataFolder();
    SystemFixture() {
        testsrv::useServer();
        exe = headless::installCopy(testsrv::host());
        std::error_code ec;
        std::filesystem::remove_all(data, ec);  // a fresh install
    }
    std::wstring gamePath(const std::string& relative) {  // relative is UTF-8 with "/"
        wchar_t wide[400];
        int n = ::MultiByteToWideChar(CP_UTF8, 0, relative.c_str(), -1, wide, 400);
        std::wstring w = data + L"\\Game\\" + std::wstring(wide, n > 0 ? n - 1 : 0);
        for (auto& c : w)
            if (c == L'/') c = L'\\';
        return w;
    }
    void expectInstalled(const std::vector<GameFile>& files) {
        for (const GameFile& f : files) {
            CAPTURE(f.path);
            CHECK(sandbox::readFile(gamePath(f.path)) == f.content);
        }
    }
    int fileRequests() {
        int n = 0;
        for (auto& r : testsrv::requests()) n += r.target.rfind("/launcher/file", 0) == 0;
        return n;
    }
};

// Installs the sample game, as a first start of the launcher would.
void install(SystemFixture& f) {
    headless::Run run(f.exe, L"--press-update --exit-on-ready --fast-waits 100");
    REQUIRE(run.waitExit() == 0);
}

}  // namespace

TEST_CASE("a fresh installation runs through download to Ready") {
    SystemFixture f;
    auto game = sampleGame(1);
    publish(3, game);
    headless::Run run(f.exe, L"--press-update --exit-on-ready --fast-waits 100");
    REQUIRE(run.waitExit() == 0);
    auto lines = run.lines();
    CAPTURE(run.transcript());
    CHECK(lines.front() == "Connecting: Connecting to the server...");
    CHECK(headless::count(lines, readyToInstall(3, game.size(), totalBytes(game))) == 1);
    CHECK(headless::count(lines, "Downloading: Downloading...") == 1);
    CHECK(headless::count(lines, "Downloading: Downloading Level 1.pak") == 1);
    CHECK(headless::count(lines, "Downloading: Downloading empty.txt") == 1);
    CHECK(headless::count(lines, "Steam: ") == 1);
    CHECK(lines.back() == upToDate(3));
    f.expectInstalled(game);
    CHECK(sandbox::readFile(f.data + L"\\installed.txt") == "version=3\r\n");
}

TEST_CASE("an update of an installed game, then a second check judged by the cache alone") {
    SystemFixture f;
    auto game = sampleGame(2);
    publish(3, game);
    install(f);

    auto next = game;
    next[1].content = testsrv::randomBytes(310000, 99);  // one changed file
    publish(4, next);
    testsrv::clearLog();
    {
        headless::Run run(f.exe, L"--press-update --exit-on-ready --fast-waits 100");
        REQUIRE(run.waitExit() == 0);
        CAPTURE(run.transcript());
        CHECK(headless::count(run.lines(), updateAvailable(4, 1, 310000)) == 1);
        CHECK(run.lines().back() == upToDate(4));
        CHECK(f.fileRequests() == 1);
    }
    f.expectInstalled(next);

    // Nobody can read the files now: only the cache can judge them current.
    std::vector<HANDLE> locks;
    for (const GameFile& g : next)
        locks.push_back(::CreateFileW(f.gamePath(g.path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    testsrv::clearLog();
    headless::Run again(f.exe, L"--exit-on-ready --fast-waits 100");
    CHECK(again.waitExit() == 0);
    for (HANDLE h : locks) ::CloseHandle(h);
    CAPTURE(again.transcript());
    CHECK(headless::count(again.lines(), "UpdateReady:") == 0);
    CHECK(again.lines().back() == upToDate(4));
    CHECK(f.fileRequests() == 0);
}

TEST_CASE("server troubles that retry on their own") {
    SystemFixture f;
    publish(3, sampleGame(3));
    std::string expected;
    SUBCASE("the manifest answers 503: Waiting, then a new attempt") {
        testsrv::setRules(R"([{"path": "/launcher/manifest", "status": 503, "body": "", "times": 1}])");
        expected = "Waiting: The server is preparing the game files (the first start after an update can take a few "
                   "minutes). Retrying automatically...";
    }
    SUBCASE("an info answer without version") {
        testsrv::setRules(R"([{"path": "/launcher/info", "body": "{\"lobbies\": 1}", "times": 1}])");
        expected = "ServerError: The server isn't set up for the launcher yet. The server owner needs to install the "
                   "latest server update.";
    }
    SUBCASE("the server is down, then back") {
        testsrv::setRules(R"([{"path": "/launcher/info", "drop": true, "times": 1}])");
        expected = kUnreachable;
    }
    SUBCASE("the info's headers trickle a byte a second, forever") {
        testsrv::setRules(R"([{"path": "/launcher/info", "header_trickle_ms": 1000, "times": 1}])");
        expected = kUnreachable;
    }
    headless::Run run(f.exe, L"--press-update --exit-on-ready --fast-waits 100");
    CHECK(run.waitExit() == 0);
    CAPTURE(run.transcript());
    CHECK(headless::count(run.lines(), expected) == 1);
    CHECK(headless::count(run.lines(), "Connecting: Connecting to the server...") >= 2);
    CHECK(run.lines().back() == upToDate(3));
}

TEST_CASE("an unexpected manifest waits for Retry, and Retry tries again") {
    SystemFixture f;
    auto game = sampleGame(4);
    publish(3, game, {manifestLine("../outside.txt", 1, std::string(40, 'a'))});
    {
        headless::Run run(f.exe, L"--press-update --fast-waits 100 --timeout 4");
        CHECK(run.waitExit() == 3);
        CAPTURE(run.transcript());
        CHECK(run.lines().back() == kUnexpected);
        CHECK(headless::count(run.lines(), "Connecting:") == 1);
    }
    testsrv::setRules(R"([{"path": "/launcher/manifest", "status": 500, "body": "oops", "times": 1}])");
    publish(3, game);
    headless::Run retry(f.exe, L"--press-update --press-retry --exit-on-ready --fast-waits 100");
    CHECK(retry.waitExit() == 0);
    CAPTURE(retry.transcript());
    CHECK(headless::count(retry.lines(), kUnexpected) == 1);
    CHECK(retry.lines().back() == upToDate(3));
}

TEST_CASE("two stopped passes retry on their own; the third waits for Retry") {
    SystemFixture f;
    auto game = sampleGame(5);
    publish(3, game);
    testsrv::setRules(R"([{"path": "/launcher/file?p=Tervalon.exe", "status": 404}])");
    headless::Run run(f.exe, L"--press-update --fast-waits 100");
    REQUIRE(run.waitForLine(kInterrupted));
    ::Sleep(1500);  // long enough for several automatic retries, were there any
    auto lines = run.lines();
    CAPTURE(run.transcript());
    CHECK(headless::count(lines, "Downloading: Downloading...") == 3);
    CHECK(headless::count(lines, "Connecting:") == 3);
    CHECK(lines.back() == kInterrupted);
    CHECK(f.fileRequests() >= 9);  // three attempts in each of three passes
}

TEST_CASE("not enough disk space shows the download size and waits") {
    SystemFixture f;
    auto game = sampleGame(6);
    const long long huge = 10'000'000'000'000LL;  // 10 TB: more than any test machine has free
    publish(3, game, {manifestLine("Tervalon/Content/Paks/huge.pak", huge, std::string(40, 'b'))});
    headless::Run run(f.exe, L"--press-update --fast-waits 100");
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "LocalError: Not enough disk space: %.1f GB free space needed. Free some space and press Retry.",
                  static_cast<double>(huge + totalBytes(game)) / 1073741824.0);
    CHECK(run.waitForLine(expected, 30000));
    CAPTURE(run.transcript());
    CHECK(f.fileRequests() == 0);
}

TEST_CASE("the Ready poll notices a new version and updates") {
    SystemFixture f;
    auto game = sampleGame(7);
    publish(3, game);
    headless::Run run(f.exe, L"--press-update --fast-waits 100 --timeout 120");
    REQUIRE(run.waitForLine(upToDate(3)));
    auto next = game;
    next[0].content = testsrv::randomBytes(41000, 77);
    publish(4, next);
    CHECK(run.waitForLine(upToDate(4)));
    CAPTURE(run.transcript());
    CHECK(headless::count(run.lines(), updateAvailable(4, 1, 41000)) == 1);
    f.expectInstalled(next);
}

TEST_CASE("a launcher killed mid-download resumes from its part file") {
    SystemFixture f;
    std::vector<GameFile> game = {{"Tervalon/Content/Paks/big.pak", testsrv::randomBytes(6 * 1024 * 1024, 8)}};
    publish(3, game);
    testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "chunk": 262144, "delay_ms": 100, "times": 1}])");
    std::wstring part = f.gamePath(game[0].path) + L".part";
    int64_t have = 0;
    {
        headless::Run run(f.exe, L"--press-update --fast-waits 100");
        REQUIRE(run.waitForLine("Downloading: Downloading big.pak"));
        for (int i = 0; i < 200 && sandbox::fileSize(part) < 1024 * 1024; ++i) ::Sleep(20);
        run.kill();
        have = sandbox::fileSize(part);
    }
    REQUIRE(have > 0);
    REQUIRE(have < static_cast<int64_t>(game[0].content.size()));
    testsrv::clearLog();
    headless::Run again(f.exe, L"--press-update --exit-on-ready --fast-waits 100");
    CHECK(again.waitExit() == 0);
    auto log = testsrv::requests();
    std::vector<std::string> ranges;
    for (auto& r : log)
        if (r.target.rfind("/launcher/file", 0) == 0) ranges.push_back(r.range);
    CHECK(ranges == std::vector<std::string>{"bytes=" + std::to_string(have) + "-"});
    f.expectInstalled(game);
}

TEST_CASE("a file that trickles: every attempt fails at the span, passes retry, then Download interrupted") {
    SystemFixture f;
    std::vector<GameFile> game = {{"Tervalon/Content/Paks/slow.pak", testsrv::randomBytes(400000, 9)}};
    publish(3, game);
    testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "chunk": 500, "delay_ms": 250}])");
    headless::Run run(f.exe, L"--press-update --fast-waits 60");  // a span of 1 s
    REQUIRE(run.waitForLine(kInterrupted, 60000));
    CAPTURE(run.transcript());
    CHECK(headless::count(run.lines(), "Downloading: Downloading...") == 3);
    CHECK(f.fileRequests() == 9);
    std::wstring part = f.gamePath(game[0].path) + L".part";
    CHECK(sandbox::fileSize(part) > 0);
    CHECK_FALSE(sandbox::exists(f.gamePath(game[0].path)));
}

TEST_CASE("a --timeout, --fast-waits or --limit out of range, or a --game-folder no folder can have, is a usage error") {
    SystemFixture f;
    for (const wchar_t* args : {L"--timeout abc", L"--timeout -5", L"--timeout 0", L"--timeout 5s", L"--timeout",
                                L"--timeout 99999999999", L"--fast-waits abc", L"--fast-waits -5", L"--fast-waits 0",
                                L"--limit 0", L"--limit 2.5", L"--limit 1001", L"--limit", L"--game-folder",
                                L"--game-folder \"\"", L"--game-folder C:\\Games\\*", L"--game-folder \"C:\\a|b\""}) {
        CAPTURE(std::string(args, args + std::wcslen(args)));
        headless::Run run(f.exe, args);
        CHECK(run.waitExit(20000) == 2);
    }
}
