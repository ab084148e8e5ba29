// downloadEntry against the real test server, with real part files and real
// SHA-1 under Wine. The 2,000 ms pauses run fast through the wait seam.
#include <doctest/doctest.h>

#include <string>

#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "delta/block_map.h"
#include "net/body_prefetch_win.h"
#include "net/http_client.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_server_client.h"
#include "tests/support/wide_strings.h"
#include "update/download.h"

namespace {

struct DownloadFixture {
    sandbox::PostSink window;
    DownloadFixture(const char* name) {
        testsrv::useServer();
        sandbox::useFolders(name);
        gState.mainWindow = window.hwnd;  // the reset above forgot it
        gWaitSeam.divisor = 1000;
        gWaitSeam.requestedMs = 0;
    }
    ~DownloadFixture() {
        gWaitSeam.divisor = 1;
        gReadAheadAvailable = true;
    }

    // Publishes a file on the server and returns its manifest entry.
    ManifestEntry publish(const std::string& path, const std::string& content) {
        testsrv::putFile("files/" + path, content);
        return sandbox::makeEntry(path, content);
    }
    std::wstring target(const std::string& path) { return sandbox::gamePath(path); }
    std::wstring part(const std::string& path) { return sandbox::gamePath(path) + L".part"; }
};

std::vector<std::string> ranges() {
    std::vector<std::string> out;
    for (auto& r : testsrv::requests()) out.push_back(r.range);
    return out;
}

}  // namespace

TEST_CASE("a fresh download lands in folders two levels deep, byte for byte, with progress") {
    DownloadRun run;
    DownloadFixture f("fresh");
    std::string content = testsrv::randomBytes(1024 * 1024 + 17, 10);
    ManifestEntry e = f.publish("Content/Paks/Level 1.pak", content);
    gState.bytesDone = 5;  // earlier files of the pass

    REQUIRE(downloadEntry(e, run));
    CHECK(e.needsUpdate == 0);
    CHECK(sandbox::readFile(f.target("Content/Paks/Level 1.pak")) == content);
    CHECK_FALSE(sandbox::exists(f.part("Content/Paks/Level 1.pak")));
    CHECK(gState.bytesDone == 5 + static_cast<int64_t>(content.size()));
    CHECK(ranges() == std::vector<std::string>{""});
    CHECK(testsrv::requests()[0].target == "/launcher/file?p=Content/Paks/Level%201.pak");
    CHECK(f.window.drain() >= 5);  // the status, then one notice per written block
    LockHolder hold(gStateLock);
    CHECK(std::wstring(gState.statusText) == L"Downloading Level 1.pak");
}

TEST_CASE("resume: a part file of 40 bytes asks for the rest from 40") {
    DownloadRun run;
    DownloadFixture f("resume");
    std::string content = testsrv::randomBytes(100, 11);
    ManifestEntry e = f.publish("r.bin", content);
    sandbox::writeFile(f.part("r.bin"), content.substr(0, 40));

    SUBCASE("the server answers 206 with 60 bytes") {
        REQUIRE(downloadEntry(e, run));
        CHECK(ranges() == std::vector<std::string>{"bytes=40-"});
    }
    SUBCASE("the server ignores Range and answers 200 with all 100 bytes") {
        testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "ignore_range": true}])");
        REQUIRE(downloadEntry(e, run));
        CHECK(ranges() == std::vector<std::string>{"bytes=40-"});
    }
    CHECK(gState.bytesDone == 100);
    CHECK(sandbox::readFile(f.target("r.bin")) == content);
}

TEST_CASE("a transfer cut off mid-way resumes from what reached the disk") {
    DownloadRun run;
    DownloadFixture f("cut");
    std::string content = testsrv::randomBytes(2 * 1024 * 1024, 12);
    ManifestEntry e = f.publish("big.bin", content);
    testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "cut_after": 700000, "times": 1}])");

    REQUIRE(downloadEntry(e, run));
    CHECK(sandbox::readFile(f.target("big.bin")) == content);
    auto r = ranges();
    REQUIRE(r.size() == 2);
    CHECK(r[0].empty());
    // The second request starts exactly where the first one's bytes ended on disk.
    REQUIRE(r[1].rfind("bytes=", 0) == 0);
    long long from = std::stoll(r[1].substr(6));
    CHECK(from > 0);
    CHECK(from <= 700000);
    CHECK(gWaitSeam.requestedMs == kAttemptPauseMs);
    CHECK(gState.bytesDone == static_cast<int64_t>(content.size()));
}

TEST_CASE("one wrong byte in a large file costs its block again, found by the map, not the whole file") {
    DownloadRun run;
    DownloadFixture f("mend");
    gFilesAsObjects = true;
    std::string content(6 * 1048576, 'a');
    uint32_t x = 7;
    for (char& c : content) c = static_cast<char>('a' + ((x = x * 1103515245u + 12345u) >> 16) % 26);
    ManifestEntry e = sandbox::makeEntry("Paks/big.pak", content);
    const std::string object = "/launcher/o/" + std::string(e.sha1);
    testsrv::putFile(object.substr(1), content);
    uint8_t sha1[20];
    for (int i = 0; i < 20; ++i) sha1[i] = static_cast<uint8_t>(std::stoi(std::string(e.sha1 + 2 * i, 2), nullptr, 16));
    testsrv::putFile(object.substr(1) + ".map",
                     makeBlockMap(reinterpret_cast<const uint8_t*>(content.data()), content.size(), sha1));
    std::string wrong = content;
    wrong[3000000] = wrong[3000000] == 'z' ? 'y' : 'z';
    testsrv::setRules(R"([{"path": ")" + object + R"(", "times": 1, "body": ")" + wrong + R"("}])");
    gState.bytesFromNetwork = 0;
    const bool done = downloadEntry(e, run);
    gFilesAsObjects = false;
    REQUIRE(done);
    CHECK(sandbox::readFile(f.target("Paks/big.pak")) == content);
    const int64_t block = chooseBlockSize(static_cast<int64_t>(content.size()));
    CHECK(gState.bytesFromNetwork <= static_cast<int64_t>(content.size()) + 2 * block + 4096);
    int ranged = 0;
    for (const auto& r : testsrv::requests()) ranged += r.target == object && !r.range.empty();
    CHECK(ranged == 1);  // the wrong block, asked once
}

TEST_CASE("a segment that trickles far behind the others is asked again from another connection, not waited for") {
    DownloadRun run;
    DownloadFixture f("trickling-segment");
    gFilesAsObjects = true;
    const std::string content = testsrv::randomBytes(24 * 1048576, 15);
    ManifestEntry e = sandbox::makeEntry("Paks/big.pak", content);
    const std::string object = "/launcher/o/" + std::string(e.sha1);
    testsrv::putFile(object.substr(1), content);
    // Bytes 4-8 MiB at 4 KB/s, within the slow-body rule (16 KiB in 6 s
    // here), then cut after 40,000: a transfer that waits for it gets them all.
    gWaitSeam.divisor = 10;
    testsrv::setRules(R"([{"path": ")" + object + R"(", "times": 1, "range": "bytes=4194304-8388607", "chunk": 4000, "delay_ms": 1000, "cut_after": 40000}])");
    const bool done = downloadEntry(e, run);
    gFilesAsObjects = false;
    REQUIRE(done);
    CHECK(sandbox::readFile(f.target("Paks/big.pak")) == content);
    // Left after the span (1 s here): the rest asked again from the part
    // file's end, at most a few thousand bytes into the segment.
    int nearStart = 0;
    for (const std::string& range : ranges()) {
        if (range.rfind("bytes=", 0) != 0) continue;
        const int64_t at = std::stoll(range.substr(6));
        nearStart += at >= 4194304 && at < 4194304 + 20000;
    }
    CHECK(nearStart == 2);  // the trickled request, and the next attempt's
}

TEST_CASE("a large object comes in segments over several connections, written in order; a broken one ends the attempt at once") {
    DownloadRun run;
    DownloadFixture f("segments");
    gFilesAsObjects = true;
    const std::string content = testsrv::randomBytes(20 * 1048576 + 1000, 14);
    ManifestEntry e = sandbox::makeEntry("Paks/big.pak", content);
    const std::string object = "/launcher/o/" + std::string(e.sha1);
    testsrv::putFile(object.substr(1), content);
    // The first segment trickles. The third breaks after 100,000 bytes, and
    // its second try, from there, after 100,000 more: the attempt ends then,
    // with the first segment cut where it stood, not waited for.
    const std::string rule = R"({"path": ")" + object + R"(", "times": 1, )";
    testsrv::setRules("[" + rule + R"("range": "bytes=0-4194303", "delay_ms": 1000, "chunk": 65536},)" + rule +
                      R"("range": "bytes=8388608-12582911", "cut_after": 100000},)" + rule +
                      R"("range": "bytes=8488608-12582911", "cut_after": 100000}])");
    const int64_t connections = gConnectionsOpened;
    const bool done = downloadEntry(e, run);
    gFilesAsObjects = false;
    REQUIRE(done);
    CHECK(sandbox::readFile(f.target("Paks/big.pak")) == content);
    CHECK(gState.bytesDone == static_cast<int64_t>(content.size()));
    CHECK(gConnectionsOpened - connections >= 3);
    const auto r = ranges();
    // The last segment first, alone; the next attempt goes on from where the
    // part file ended, and asks nothing before it again.
    CHECK(r.front() == "bytes=20971520-20972519");
    int inFirst = 0, secondTry = 0;
    for (const std::string& range : r) {
        inFirst += range.rfind("bytes=", 0) == 0 && std::stoll(range.substr(6)) < 4194304;
        secondTry += range.rfind("bytes=8488608-", 0) == 0;
    }
    CHECK(secondTry == 1);  // the broken segment asked once more, from where it broke
    CHECK(inFirst == 2);    // the trickling first segment, then the next attempt from the part file's end
    CHECK(gWaitSeam.requestedMs == kAttemptPauseMs);
}

TEST_CASE("a wrong body is deleted and the next attempt starts from 0") {
    DownloadRun run;
    DownloadFixture f("wrongbody");
    std::string content = testsrv::randomBytes(5000, 13);
    ManifestEntry e = f.publish("w.bin", content);
    testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "body": ")" + std::string(5000, 'q') +
                      R"(", "times": 1}])");
    REQUIRE(downloadEntry(e, run));
    CHECK(ranges() == std::vector<std::string>{"", ""});
    CHECK(sandbox::readFile(f.target("w.bin")) == content);
    CHECK(gState.bytesDone == 5000);
}

TEST_CASE("part files already present: too long, complete, or from an older version") {
    DownloadRun run;
    DownloadFixture f("parts");
    std::string content = testsrv::randomBytes(3000, 14);
    ManifestEntry e = f.publish("p.bin", content);

    SUBCASE("longer than the entry: deleted, then a request without Range") {
        sandbox::writeFile(f.part("p.bin"), content + "tail");
        REQUIRE(downloadEntry(e, run));
        CHECK(ranges() == std::vector<std::string>{""});
    }
    SUBCASE("complete and right: verified and moved with no request") {
        sandbox::writeFile(f.part("p.bin"), content);
        REQUIRE(downloadEntry(e, run));
        CHECK(testsrv::requests().empty());
        CHECK(gState.bytesDone == 3000);
    }
    SUBCASE("left by an older version: resumed, fails verification, fetched again from 0") {
        sandbox::writeFile(f.part("p.bin"), std::string(1000, 'o'));
        REQUIRE(downloadEntry(e, run));
        CHECK(ranges() == std::vector<std::string>{"bytes=1000-", ""});
        CHECK(gState.bytesDone == 3000);
    }
    CHECK(sandbox::readFile(f.target("p.bin")) == content);
    CHECK_FALSE(sandbox::exists(f.part("p.bin")));
}

TEST_CASE("the target: read-only is replaced; in use keeps the verified part file") {
    DownloadRun run;
    DownloadFixture f("target");
    std::string content = testsrv::randomBytes(4096, 15);
    ManifestEntry e = f.publish("Tervalon.exe", content);
    sandbox::writeFile(f.target("Tervalon.exe"), "old version");

    SUBCASE("read-only") {
        ::SetFileAttributesW(f.target("Tervalon.exe").c_str(), FILE_ATTRIBUTE_READONLY);
        REQUIRE(downloadEntry(e, run));
        CHECK(sandbox::readFile(f.target("Tervalon.exe")) == content);
    }
    SUBCASE("held open without sharing, as by the running game") {
        HANDLE game = ::CreateFileW(f.target("Tervalon.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        REQUIRE(game != INVALID_HANDLE_VALUE);
        CHECK_FALSE(downloadEntry(e, run));
        CHECK(e.needsUpdate == 1);
        CHECK(sandbox::readFile(f.part("Tervalon.exe")) == content);
        CHECK(testsrv::requests().size() == 1);  // later attempts only retried the move
        ::CloseHandle(game);

        testsrv::clearLog();
        REQUIRE(downloadEntry(e, run));
        CHECK(testsrv::requests().empty());
        CHECK(sandbox::readFile(f.target("Tervalon.exe")) == content);
    }
}

TEST_CASE("three failed attempts, 2,000 ms apart, then failure with bytesDone restored") {
    DownloadRun run;
    DownloadFixture f("fails");
    ManifestEntry e = f.publish("x.bin", "content");
    testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "status": 404}])");
    gState.bytesDone = 77;
    CHECK_FALSE(downloadEntry(e, run));
    CHECK(testsrv::requests().size() == 3);
    CHECK(gWaitSeam.requestedMs == 2 * kAttemptPauseMs);
    CHECK(gState.bytesDone == 77);
    CHECK_FALSE(sandbox::exists(f.target("x.bin")));
}

TEST_CASE("a file that trickles fails each attempt at the span; the part file keeps what came") {
    DownloadRun run;
    DownloadFixture f("trickle");  // waits / 1000: a span of 1 s, the shortest there is
    std::string content = testsrv::randomBytes(200000, 21);
    ManifestEntry e = f.publish("slow.pak", content);
    testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "chunk": 1000, "delay_ms": 200}])");
    CHECK_FALSE(downloadEntry(e, run));
    auto log = ranges();
    REQUIRE(log.size() == 3);
    CHECK(log[0].empty());
    CHECK_FALSE(log[2].empty());  // later attempts resume after what arrived
    const int64_t have = sandbox::fileSize(f.part("slow.pak"));
    CHECK(have > 0);
    CHECK(sandbox::readFile(f.part("slow.pak")) == content.substr(0, static_cast<size_t>(have)));
    CHECK_FALSE(sandbox::exists(f.target("slow.pak")));
}

TEST_CASE("a server that sends more than the entry's size cannot write past it") {
    DownloadRun run;
    DownloadFixture f("toomuch");
    std::string content = testsrv::randomBytes(300000, 16);
    ManifestEntry e = f.publish("m.bin", content);
    bool readAhead = true;
    SUBCASE("reading ahead") {}
    SUBCASE("reading inline, as where no helper thread can be started") { readAhead = false; }
    gReadAheadAvailable = readAhead;

    SUBCASE("right bytes with garbage after them: the attempt fails, the next only verifies") {
        testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "extra": 500000}])");
        REQUIRE(downloadEntry(e, run));
        CHECK(testsrv::requests().size() == 1);
        CHECK(sandbox::readFile(f.target("m.bin")) == content);
        CHECK(gState.bytesDone == 300000);
    }
    SUBCASE("a slow server: the attempt that fails stops without waiting for the read ahead") {
        e = f.publish("small.bin", content.substr(0, 100));
        // A block every 4 s, more than the entry holds. The first block fails
        // the attempt at about 8 s (Wine fills a whole block before it
        // returns); waiting for the read ahead of it would take until 12 s.
        testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "extra": 2000000, "chunk": 262144,
                               "delay_ms": 4000, "times": 1}])");
        gWaitSeam.divisor = 10;  // a 6 s span: a block every 4 s is not too slow
        const DWORD start = ::GetTickCount();
        REQUIRE(downloadEntry(e, run));  // the next attempt finds the part file complete and only verifies
        CHECK(::GetTickCount() - start < 10000);
        CHECK(testsrv::requests().size() == 1);
    }
    SUBCASE("an endless body: three bounded attempts, then failure") {
        testsrv::setRules(R"([{"path": "/launcher/file", "prefix": true, "endless": true}])");
        CHECK_FALSE(downloadEntry(e, run));
        CHECK(sandbox::fileSize(f.part("m.bin")) <= 300000);
        CHECK_FALSE(sandbox::exists(f.target("m.bin")));
    }
}

TEST_CASE("an empty file is created, verified and moved without a request") {
    DownloadRun run;
    DownloadFixture f("empty");
    ManifestEntry e = sandbox::makeEntry("Engine/empty.txt", "");
    REQUIRE(downloadEntry(e, run));
    CHECK(e.needsUpdate == 0);
    CHECK(sandbox::fileSize(f.target("Engine/empty.txt")) == 0);
    CHECK(testsrv::requests().empty());
}

TEST_CASE("a path that cannot be written fails cleanly and touches nothing else") {
    DownloadRun run;
    DownloadFixture f("blocked");
    SUBCASE("a file where a folder should be") {
        ManifestEntry e = f.publish("a/b.bin", "payload");
        sandbox::writeFile(f.target("a"), "a file where a folder should be");
        CHECK_FALSE(downloadEntry(e, run));
        CHECK(sandbox::readFile(f.target("a")) == "a file where a folder should be");
        CHECK(testsrv::requests().size() == 3);
    }
    SUBCASE("a folder where the part file should be") {
        ManifestEntry e = f.publish("c.bin", "payload");
        ::CreateDirectoryW(f.part("c.bin").c_str(), nullptr);
        gState.bytesDone = 11;
        CHECK_FALSE(downloadEntry(e, run));
        CHECK(gState.bytesDone == 11);
        CHECK((::GetFileAttributesW(f.part("c.bin").c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
        CHECK_FALSE(sandbox::exists(f.target("c.bin")));
    }
}

TEST_CASE("install record") {
    resetLauncherState();
    sandbox::useFolders("record");
    gState.serverVersion = 42;
    writeInstallRecord();
    CHECK(sandbox::readFile(std::wstring(gState.dataFolder) + L"\\installed.txt") == "version=42\r\n");
    gState.serverVersion = 43;
    writeInstallRecord();
    CHECK(sandbox::readFile(std::wstring(gState.dataFolder) + L"\\installed.txt") == "version=43\r\n");
}

TEST_CASE("a speed limit of 2 MB/s holds a 20 MB download within 5 % of it, over the whole transfer") {
    DownloadRun run;
    DownloadFixture f("limited");
    std::string content = testsrv::randomBytes(20 * 1048576, 77);
    ManifestEntry e = f.publish("Paks/limited.pak", content);
    SUBCASE("one connection") {}
    SUBCASE("an object in segments over several connections: one bucket for all") {
        testsrv::putFile("launcher/o/" + std::string(e.sha1), content);
        gFilesAsObjects = true;
    }
    gState.speedLimit = 2 * 1048576;
    const uint64_t started = ::GetTickCount64();
    const bool done = downloadEntry(e, run);
    gFilesAsObjects = false;
    const double seconds = static_cast<double>(::GetTickCount64() - started) / 1000.0;
    gState.speedLimit = 0;
    REQUIRE(done);
    CHECK(sandbox::readFile(f.target("Paks/limited.pak")) == content);
    const double rate = static_cast<double>(content.size()) / seconds / 1048576.0;
    CAPTURE(rate);
    CHECK(rate >= 2 * 0.95);
    CHECK(rate <= 2 * 1.05);
}

TEST_CASE("the limit holds for a document fetched whole too: a launcher build, a manifest, a map") {
    DownloadFixture f("limited-document");
    // 4 s at the limit: the bucket's eighth of a second of burst stays within 5 %.
    const std::string build = testsrv::randomBytes(8 * 1048576, 78);
    testsrv::putFile("launcher/o/" + std::string(64, 'b'), build);
    gState.speedLimit = 2 * 1048576;
    const uint64_t started = ::GetTickCount64();
    DWORD status = 0;
    const ByteBuffer body = fetchServerDocument((L"/launcher/o/" + std::wstring(64, L'b')).c_str(), &status);
    const double seconds = static_cast<double>(::GetTickCount64() - started) / 1000.0;
    gState.speedLimit = 0;
    REQUIRE(body);
    CHECK(std::string(body.data, body.size) == build);
    const double rate = static_cast<double>(build.size()) / seconds / 1048576.0;
    CAPTURE(rate);
    CHECK(rate <= 2 * 1.05);
}
