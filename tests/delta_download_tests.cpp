// A large file brought up to date from its installed copy, in-process
// against the test server: its map and object by hash, the ranges several to
// a request, and each way a server may answer them.
#include <doctest/doctest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "delta/block_map.h"
#include "delta/fine_map.h"
#include "files/file_cache.h"
#include "tests/support/release_signer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_server_client.h"
#include "update/download.h"

namespace {

// A pak-like pair: version 2 inserts 3,000 bytes near the start, changes one
// entry in place and appends an index.
struct PakPair {
    std::string v1, v2;
    PakPair() {
        v1 = testsrv::randomBytes(6 * 1024 * 1024, 31);
        v2 = v1;
        v2.insert(200000, testsrv::randomBytes(3000, 32));
        v2.replace(3000000, 20000, testsrv::randomBytes(20000, 33));
        v2 += testsrv::randomBytes(9000, 34);
    }
};

struct DeltaFixture {
    sandbox::PostSink window;
    PakPair pak;
    ManifestEntry entry;
    std::string map;  // the one served
    explicit DeltaFixture(const char* name) {
        testsrv::useServer();
        sandbox::useFolders(name);
        gState.mainWindow = window.hwnd;
        gWaitSeam.divisor = 1000;
        gFilesAsObjects = true;
        entry = sandbox::makeEntry("Paks/Tervalon.pak", pak.v2);
        testsrv::putFile("launcher/o/" + std::string(entry.sha1), pak.v2);
        putMap(pak.v2);
        sandbox::writeFile(sandbox::gamePath("Paks/Tervalon.pak"), pak.v1);
        testsrv::clearRules();
        testsrv::clearLog();
    }
    ~DeltaFixture() {
        gFilesAsObjects = false;
        gWaitSeam.divisor = 1;
    }
    void putMap(const std::string& of) {
        uint8_t sha1[20];
        for (int i = 0; i < 20; ++i) sha1[i] = static_cast<uint8_t>(std::stoi(std::string(entry.sha1 + 2 * i, 2), nullptr, 16));
        map = makeBlockMap(reinterpret_cast<const uint8_t*>(of.data()), of.size(), sha1);
        testsrv::putFile("launcher/o/" + std::string(entry.sha1) + ".map", map);
    }
    bool installed() { return sandbox::readFile(sandbox::gamePath("Paks/Tervalon.pak")) == pak.v2; }
    bool rangesAsked() {  // of the object (the map is asked as two ranges)
        for (const auto& r : testsrv::requests())
            if (!r.range.empty() && r.target.find(".map") == std::string::npos) return true;
        return false;
    }
};

}  // namespace

TEST_CASE("a patched pak comes as its map, its last byte and one request of ranges; the progress counts the whole file") {
    DownloadRun run;
    DeltaFixture f("delta-ranges");
    gState.bytesFromNetwork = 0;
    REQUIRE(downloadEntry(f.entry, run));
    CHECK(f.installed());
    const auto requests = testsrv::requests();
    REQUIRE(requests.size() == 3);
    CHECK(requests[0].target == "/launcher/o/" + std::string(f.entry.sha1) + ".map");
    // The last byte first: a cache in front holds the whole object before the ranges come.
    const std::string last = std::to_string(f.pak.v2.size() - 1);
    CHECK(requests[1].range == "bytes=" + last + "-" + last);
    CHECK(requests[2].range.find(',') != std::string::npos);  // several ranges in one request
    CHECK(gState.bytesDone == static_cast<int64_t>(f.pak.v2.size()));
    CHECK(gState.bytesFromNetwork < 200000);  // the new bytes and a few blocks, not 6 MB
    CHECK_FALSE(sandbox::exists(sandbox::gamePath("Paks/Tervalon.pak.part")));
}

TEST_CASE("small edits cost their sub-blocks: the fine sums of just the edited blocks, then what changed") {
    DownloadRun run;
    DeltaFixture f("delta-fine");
    // 40 edits of 100 bytes, each inside one block, in a copy of version 1.
    std::string edited = f.pak.v1;
    for (int i = 0; i < 40; ++i) edited.replace(static_cast<size_t>(i) * 150000 + 5000, 100, testsrv::randomBytes(100, 40 + i));
    f.entry = sandbox::makeEntry("Paks/Tervalon.pak", edited);
    const std::string object = "launcher/o/" + std::string(f.entry.sha1);
    testsrv::putFile(object, edited);
    f.putMap(edited);
    uint8_t sha1[20];
    std::memcpy(sha1, f.map.data() + 8, 20);
    const std::string fine = makeFineMap(reinterpret_cast<const uint8_t*>(edited.data()), edited.size(), sha1);
    testsrv::removeFile(object + ".fine");
    const int64_t block = chooseBlockSize(static_cast<int64_t>(edited.size()));
    const int64_t sub = chooseSubBlock(static_cast<uint32_t>(block));
    int64_t most = 40 * (2 * sub + 400);  // a sub-block or two per edit, and a part's headers
    bool retried = false;
    SUBCASE("the fine map is there") { testsrv::putFile(object + ".fine", fine); }
    SUBCASE("a site from before fine maps: the edited blocks whole") { most = 40 * (block + 400); }
    const std::string old = makeFineMap(reinterpret_cast<const uint8_t*>(f.pak.v1.data()), f.pak.v1.size(), sha1);
    SUBCASE("a fine map of the old file's sums disagrees with the map: unused, the edited blocks whole") {
        testsrv::putFile(object + ".fine", old);
        most = 40 * (block + 400) + 40 * 64 * 2;
    }
    SUBCASE("a fine map that lies only inside its blocks: one wrong delta, then one without it, not the file whole") {
        // The old file's sums with each block's last sum as the map has it.
        std::string forged = old;
        const size_t per = static_cast<size_t>(block / sub);
        for (size_t at = kFineMapHeader + (per - 1) * 4; at + 4 <= forged.size(); at += per * 4)
            forged.replace(at, 4, fine, at, 4);
        testsrv::putFile(object + ".fine", forged);
        most = 40 * (block + 400) + 40 * (2 * sub + 400) + 40 * 64 * 2;
        retried = true;
    }
    bool asked = true;
    SUBCASE("with the game's key, a fine map the signed manifest does not name is not asked") {
        signer::useTestKey();
        const std::string named = signer::sha256Hex(f.map);
        std::memcpy(f.entry.mapSha256, named.c_str(), 65);
        testsrv::putFile(object + ".fine", fine);
        most = 40 * (block + 400);
        asked = false;
    }
    SUBCASE("with the game's key, a fine map it names is used") {
        signer::useTestKey();
        std::memcpy(f.entry.mapSha256, signer::sha256Hex(f.map).c_str(), 65);
        std::memcpy(f.entry.fineSha256, signer::sha256Hex(fine).c_str(), 65);
        testsrv::putFile(object + ".fine", fine);
    }
    gState.bytesFromNetwork = 0;
    REQUIRE(downloadEntry(f.entry, run));
    CHECK(sandbox::readFile(sandbox::gamePath("Paks/Tervalon.pak")) == edited);
    const auto requests = testsrv::requests();
    REQUIRE(requests.size() >= 3);
    CHECK((requests[1].target == "/" + object + ".fine") == asked);
    if (asked) CHECK(requests[1].range.find(',') != std::string::npos);  // just the edited blocks' sums
    CHECK(gState.bytesFromNetwork < most);
    CHECK(gState.bytesFromNetwork > 40 * 100);
    // The map, the fine sums where asked, the last byte, the ranges.
    if (!retried) CHECK(requests.size() == (asked ? 4u : 3u));
}

TEST_CASE("a files.cache row is a seed only by a manifest path, and while the file is what the row vouched for") {
    DownloadRun run;
    DeltaFixture f("delta-rows");
    ::DeleteFileW(sandbox::gamePath("Paks/Tervalon.pak").c_str());  // only the rows could help
    // Version 2's bytes themselves, where a row points: a seed would leave nothing to fetch.
    sandbox::writeFile(sandbox::gamePath("../outside.bin"), f.pak.v2);
    sandbox::writeFile(sandbox::gamePath("Old/kept.bin"), f.pak.v2);
    WIN32_FILE_ATTRIBUTE_DATA d;
    auto row = [&](const char* path, const std::string& onDisk) {
        REQUIRE(::GetFileAttributesExW(sandbox::gamePath(onDisk).c_str(), GetFileExInfoStandard, &d));
        FileCacheEntry r{};
        r.path = path;
        r.size = static_cast<int64_t>(f.pak.v2.size());
        r.mtime = (static_cast<int64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
        return r;
    };
    FileCacheEntry changed = row("Old/kept.bin", "Old/kept.bin");
    changed.mtime -= 10'000'000;  // the file was written after the row
    bool used = false;
    SUBCASE("a row as the launcher wrote it, its file unchanged: a seed") {
        gState.fileCache = {row("Old/kept.bin", "Old/kept.bin")};
        used = true;
    }
    SUBCASE("a row that leaves the game folder") { gState.fileCache = {row("../outside.bin", "../outside.bin")}; }
    SUBCASE("a row whose file changed since") { gState.fileCache = {changed}; }
    std::vector<ManifestEntry> entries = {f.entry};
    gState.bytesFromNetwork = 0;
    REQUIRE(downloadAll(entries, run));
    CHECK(f.installed());
    // Fetched, not read from the row's file; or nearly all read, where the row holds.
    const int64_t size = static_cast<int64_t>(f.pak.v2.size());
    if (used) CHECK(gState.bytesFromNetwork < size / 10);
    else CHECK(gState.bytesFromNetwork >= size);
}

TEST_CASE("a file with nothing installed to reuse comes as a plain download, not as one range") {
    DownloadRun run;
    DeltaFixture f("delta-nothing");
    sandbox::writeFile(sandbox::gamePath("Paks/Tervalon.pak"), testsrv::randomBytes(6 * 1024 * 1024, 99));
    REQUIRE(downloadEntry(f.entry, run));
    CHECK(f.installed());
    CHECK_FALSE(f.rangesAsked());
}

TEST_CASE("every answer a server or a cache may give to ranges ends in the right file") {
    DownloadRun run;
    DeltaFixture f("delta-answers");
    bool oneRange = true;  // the host is learned as one that serves a range per request
    SUBCASE("Range ignored: the whole file in a 200") { testsrv::setRules(R"([{"path": "/launcher/o/", "prefix": true, "ignore_range": true}])"); }
    SUBCASE("several ranges answered by the first alone") { testsrv::setRules(R"([{"path": "/launcher/o/", "prefix": true, "single_part": true}])"); }
    SUBCASE("a malformed multipart body: then one range at a time") {
        // The map, the last byte, then the ranges.
        testsrv::setRules(R"([{"path": "/launcher/o/", "prefix": true, "malformed_multipart": true, "times": 3}])");
    }
    SUBCASE("an edge that answers 416 to every request of several ranges (Varnish): one range a request") {
        testsrv::setRules(R"([{"path": "/launcher/o/", "prefix": true, "multirange_status": 416}])");
    }
    SUBCASE("a malformed multipart body on every answer of several ranges") {
        testsrv::setRules(R"([{"path": "/launcher/o/", "prefix": true, "malformed_multipart": true}])");
    }
    SUBCASE("no map: the file comes whole") {
        testsrv::setRules(R"([{"path": "/launcher/o/", "prefix": true, "status": 404, "times": 1}])");
        oneRange = false;
    }
    bool busy = false;
    SUBCASE("a 503 to the map's probe says nothing of ranges: the ranges still go in one request") {
        testsrv::setRules(R"([{"path": "/launcher/o/)" + std::string(f.entry.sha1) + R"(.map", "status": 503, "body": "busy", "times": 1}])");
        oneRange = false;
        busy = true;
    }
    bool lies = false;
    SUBCASE("a map that lies (made for other bytes): one delta, then the file whole, once") {
        std::string described = f.pak.v1;
        described.resize(f.pak.v2.size());  // the old bytes, as if they were the new file
        f.putMap(described);
        lies = true;
        oneRange = false;
    }
    REQUIRE(downloadEntry(f.entry, run));
    if (lies) {
        int whole = 0;
        for (const auto& r : testsrv::requests()) whole += r.target == "/launcher/o/" + std::string(f.entry.sha1) && r.range.empty();
        CHECK(whole == 1);
    }
    CHECK(f.installed());
    const auto requests = testsrv::requests();
    CHECK(requests.size() < 14);
    int maps = 0, several = 0;
    for (const auto& r : requests) {
        maps += r.target.find(".map") != std::string::npos;
        several += r.range.find(',') != std::string::npos;
    }
    // The map asked as two ranges, and once more plainly where that was
    // refused; never again for the attempts that follow.
    CHECK(maps <= 2);
    CHECK(several <= 2);  // an edge that refuses them is not asked again
    if (busy) CHECK(several == 2);  // the probe, and the file's ranges in one request
    if (!oneRange) return;
    // The next run (the data folder kept) asks one range a request from the start.
    forgetDownloadMemory();
    sandbox::writeFile(sandbox::gamePath("Paks/Tervalon.pak"), f.pak.v1);
    testsrv::clearLog();
    REQUIRE(downloadEntry(f.entry, run));
    CHECK(f.installed());
    for (const auto& r : testsrv::requests()) CHECK(r.range.find(',') == std::string::npos);
}

TEST_CASE("ranges that keep failing never cost another map or scan, and never leave the file stuck") {
    DownloadRun run;
    DeltaFixture f("delta-stuck");
    const std::string object = "/launcher/o/" + std::string(f.entry.sha1);
    bool plain = false;
    SUBCASE("the ranges' answer cut twice: the third attempt goes on from the same scan") {
        testsrv::setRules(R"([{"path": ")" + object + R"(", "cut_after": 100, "times": 2}])");
    }
    SUBCASE("every request of explicit ranges refused: the rest comes plainly from the part file's end") {
        testsrv::setRules(R"([{"path": ")" + object + R"(", "ranges_status": 416}])");
        plain = true;
    }
    REQUIRE(downloadEntry(f.entry, run));
    CHECK(f.installed());
    int maps = 0;
    const auto requests = testsrv::requests();
    for (const auto& r : requests) maps += r.target == object + ".map";
    CHECK(maps == 1);
    if (plain) {
        const std::string& last = requests.back().range;
        CHECK(last.substr(0, 6) == "bytes=");
        CHECK(last.back() == '-');  // resumed after the copied start, not from 0
        CHECK(last != "bytes=0-");
    }
}

TEST_CASE("bytes after a multipart answer's closing boundary are not read") {
    DownloadRun run;
    DeltaFixture f("delta-epilogue");
    testsrv::setRules(R"([{"path": "/launcher/o/", "prefix": true, "epilogue": 536870912}])");
    REQUIRE(downloadEntry(f.entry, run));
    CHECK(f.installed());
    // The server logs what it pushed once the launcher has hung up.
    std::string sent;
    for (int i = 0; i < 100 && sent.empty(); ++i) {
        for (const auto& r : testsrv::requests())
            if (!r.epilogueSent.empty()) sent = r.epilogueSent;
        if (sent.empty()) ::Sleep(50);
    }
    REQUIRE_FALSE(sent.empty());
    CHECK(std::stoll(sent) < 64LL * 1024 * 1024);  // the read-ahead and the socket's buffers, not 512 MiB
}

TEST_CASE("with the game's key, only a map the signed manifest names by its SHA-256 is used") {
    DownloadRun run;
    DeltaFixture f("delta-named-map");
    signer::useTestKey();
    const std::string named = signer::sha256Hex(f.map);
    bool used = false;
    SUBCASE("named, and the map served is that one") {
        std::memcpy(f.entry.mapSha256, named.c_str(), 65);
        used = true;
    }
    SUBCASE("named, but the server sends another map (forged, or for other bytes)") {
        std::memcpy(f.entry.mapSha256, named.c_str(), 65);
        std::string described = f.pak.v1;
        described.resize(f.pak.v2.size());
        f.putMap(described);
    }
    SUBCASE("not named at all") {}
    REQUIRE(downloadEntry(f.entry, run));
    CHECK(f.installed());
    CHECK(f.rangesAsked() == used);  // otherwise the file came whole, from one plain request
}
