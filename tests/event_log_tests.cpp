// launcher.log's lines: their shape, what is taken out of them, when the file
// moves aside; and whether the installed files may be played offline.
#include <doctest/doctest.h>

#include <cstring>
#include <map>
#include <string>

#include "core/event_log.h"
#include "files/offline_check.h"

TEST_CASE("a log line: UTC to the millisecond, the thread, the event on one line") {
    const LogTime t{2026, 12, 8, 9, 5, 3, 7};
    CHECK(formatLogLine(t, "download 3", "GET /launcher/info") == "2026-12-08 09:05:03.007Z download 3: GET /launcher/info\n");
    // A server's text with line breaks cannot forge a line of its own.
    CHECK(formatLogLine(t, "worker", "a\r\n2026-12-08 09:05:03.007Z worker: forged\tx") ==
          "2026-12-08 09:05:03.007Z worker: a  2026-12-08 09:05:03.007Z worker: forged x\n");
    // Nor with the characters other readers break lines at: NEL, C1 controls, U+2028 and U+2029.
    CHECK(formatLogLine(t, "worker", "a\xc2\x85" "b\xc2\x9b" "c\xe2\x80\xa8" "d\xe2\x80\xa9" "e") ==
          "2026-12-08 09:05:03.007Z worker: a b c d e\n");
    CHECK(formatLogLine(t, "worker", "caf\xc3\xa9 \xe2\x80\xa6 \xc2\xa0") ==
          "2026-12-08 09:05:03.007Z worker: caf\xc3\xa9 \xe2\x80\xa6 \xc2\xa0\n");  // other text kept
    CHECK(formatLogLine(t, "", "x") == "2026-12-08 09:05:03.007Z ?: x\n");
    const std::string longLine = formatLogLine(t, "worker", std::string(5000, 'a'));
    CHECK(longLine.size() == std::strlen("2026-12-08 09:05:03.007Z worker: ") + kLogTextLimit + 1);
}

TEST_CASE("no line names the player: profile folders, other users' folders and Steam IDs are rewritten") {
    const PrivateFolders folders = {{"C:\\Users\\Ann\\AppData\\Local", "%LOCALAPPDATA%"},
                                    {"C:\\Users\\Ann", "%USERPROFILE%"}};
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"game folder C:\\Users\\Ann\\AppData\\Local\\UE4TVL\\Game", "game folder %LOCALAPPDATA%\\UE4TVL\\Game"},
        {"The game is now in c:\\users\\ann\\Games", "The game is now in %USERPROFILE%\\Games"},  // any case
        {"C:/Users/Ann/Games/x", "%USERPROFILE%/Games/x"},                                       // either slash
        {"in C:\\Users\\Ann", "in %USERPROFILE%"},
        // Another name that starts the same is no profile of Ann's, but still a user's folder.
        {"C:\\Users\\Anna\\Games", "C:\\Users\\<user>\\Games"},
        {"D:\\Users\\bob\\Tervalon", "D:\\Users\\<user>\\Tervalon"},
        {"avatar 76561198012345678.png", "avatar <steam id>.png"},
        {"C:\\Games\\76561198012345678\\Tervalon", "C:\\Games\\<steam id>\\Tervalon"},
        // Not a Steam ID: longer, shorter, or another start.
        {"bytes 765611980123456789", "bytes 765611980123456789"},
        {"bytes 7656119801234567", "bytes 7656119801234567"},
        {"sum 12345678901234567", "sum 12345678901234567"},
        {"GET /launcher/o/abc from 127.0.0.1: 200", "GET /launcher/o/abc from 127.0.0.1: 200"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.in);
        CHECK(withoutPrivate(c.in, folders) == c.out);
    }
    CHECK(withoutPrivate("C:\\Users\\Ann", {}) == "C:\\Users\\<user>");
    // The account's name as a folder anywhere, and only as a whole name.
    CHECK(withoutPrivate("game folder C:\\Players\\ann\\Tervalon", {}, "Ann") ==
          "game folder C:\\Players\\<user>\\Tervalon");
    CHECK(withoutPrivate("D:/ANN/x; E:\\Anna\\x; F:\\ann", {}, "ann") == "D:/<user>/x; E:\\Anna\\x; F:\\<user>");
    CHECK(withoutPrivate("Ann said ann.pak", {}, "ann") == "Ann said ann.pak");
}

TEST_CASE("the log moves aside before a line would take it past its limit, never when empty") {
    CHECK_FALSE(logWantsRotation(0, 5000));
    // Room stays for the one line that says a held log cannot move aside.
    CHECK_FALSE(logWantsRotation(kLogFileLimit - kLogNoteReserve - 100, 100));
    CHECK(logWantsRotation(kLogFileLimit - kLogNoteReserve - 100, 101));
    CHECK(logWantsRotation(kLogFileLimit + 5, 1));
}

TEST_CASE("error codes are logged with their names where they have one") {
    CHECK(describeError(12029) == "error 12029 (ERROR_WINHTTP_CANNOT_CONNECT)");
    CHECK(describeError(12002) == "error 12002 (ERROR_WINHTTP_TIMEOUT)");
    CHECK(describeError(32) == "error 32 (ERROR_SHARING_VIOLATION)");
    CHECK(describeError(112) == "error 112 (ERROR_DISK_FULL)");
    CHECK(describeError(4242) == "error 4242");
}

namespace {

ManifestEntry entry(const char* path, int64_t size, const char* sha1) {
    ManifestEntry e{};
    std::strcpy(e.path, path);
    e.size = size;
    std::strcpy(e.sha1, sha1);
    return e;
}

FileCacheEntry row(const char* path, int64_t size, int64_t mtime, const char* sha1) {
    FileCacheEntry r{};
    r.path = path;
    r.size = size;
    r.mtime = mtime;
    std::strcpy(r.sha1, sha1);
    return r;
}

}  // namespace

TEST_CASE("offline play needs every file as it was verified, by the cache's rows alone") {
    const std::vector<ManifestEntry> manifest = {entry("a.pak", 10, "aa"), entry("Paks/b.pak", 20, "bb")};
    const std::vector<FileCacheEntry> rows = {row("a.pak", 10, 111, "aa"), row("Paks/b.pak", 20, 222, "bb")};
    struct Facts {
        int64_t size, mtime;
    };
    auto judge = [&](std::map<std::string, Facts> disk, const std::vector<FileCacheEntry>& cache) {
        return checkFilesForOffline(manifest, cache, [&](const ManifestEntry& e, int64_t* size, int64_t* mtime) {
            auto found = disk.find(e.path);
            if (found == disk.end()) return false;
            *size = found->second.size;
            *mtime = found->second.mtime;
            return true;
        });
    };
    const std::map<std::string, Facts> asVerified = {{"a.pak", {10, 111}}, {"Paks/b.pak", {20, 222}}};
    CHECK(judge(asVerified, rows).problem == OfflineProblem::None);

    auto disk = asVerified;
    disk["Paks/b.pak"].mtime = 223;
    OfflineCheck check = judge(disk, rows);
    CHECK(check.problem == OfflineProblem::Changed);
    CHECK(check.path == "Paks/b.pak");
    disk = asVerified;
    disk["a.pak"].size = 11;
    CHECK(judge(disk, rows).problem == OfflineProblem::Changed);
    disk = asVerified;
    disk.erase("a.pak");
    CHECK(judge(disk, rows).problem == OfflineProblem::Missing);
    CHECK(judge(asVerified, {rows[0]}).problem == OfflineProblem::Unverified);
    // A row verified for other bytes (an update half done) is not this version.
    CHECK(judge(asVerified, {rows[0], row("Paks/b.pak", 20, 222, "cc")}).problem == OfflineProblem::OtherVersion);
    CHECK(checkFilesForOffline({}, {}, [](const ManifestEntry&, int64_t*, int64_t*) { return false; }).problem ==
          OfflineProblem::None);
}
