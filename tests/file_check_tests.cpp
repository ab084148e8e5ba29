// The verification cache and SHA-1 hashing on real files under Wine.
#include <doctest/doctest.h>

#include <cstring>
#include <string>

#include "core/launcher_state.h"
#include "files/file_cache.h"
#include "files/file_check.h"
#include "files/sha1_win.h"
#include "tests/support/sandbox.h"
#include "tests/support/wide_strings.h"

namespace {

std::wstring cacheFile() { return std::wstring(gState.dataFolder) + L"\\files.cache"; }

// An open handle with no sharing: nobody can read the file while it lives,
// but its size and last-write time can still be read.
struct ReadLock {
    HANDLE h;
    explicit ReadLock(const std::wstring& path)
        : h(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {
        REQUIRE(h != INVALID_HANDLE_VALUE);
    }
    ~ReadLock() { ::CloseHandle(h); }
};

void touch(const std::wstring& path, int64_t addTicks) {
    HANDLE h = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    FILETIME t;
    ::GetFileTime(h, nullptr, nullptr, &t);
    ULARGE_INTEGER v{{t.dwLowDateTime, t.dwHighDateTime}};
    v.QuadPart += addTicks;
    t = {v.LowPart, v.HighPart};
    ::SetFileTime(h, nullptr, nullptr, &t);
    ::CloseHandle(h);
}

// Installs files and a matching cache, as after a finished pass.
void installAndCache(const std::vector<std::pair<std::string, std::string>>& files) {
    for (auto& [path, content] : files) {
        sandbox::writeFile(sandbox::gamePath(path), content);
        ManifestEntry e = sandbox::makeEntry(path, content);
        noteInstalled(e);
        gState.manifestEntries.push_back(e);
    }
    saveFileCache();
    loadFileCache();
}

std::string patterned(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 4099) & 255);
    return s;
}

void makeZeroFile(const std::wstring& path, int64_t size) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    LARGE_INTEGER pos;
    pos.QuadPart = size;
    ::SetFilePointerEx(h, pos, nullptr, FILE_BEGIN);
    ::SetEndOfFile(h);
    ::CloseHandle(h);
}

}  // namespace

TEST_CASE("sha1OfFile: known digests, across chunk boundaries, and a missing file") {
    resetLauncherState();
    sandbox::useFolders("sha1");
    char out[41];
    std::wstring path = sandbox::gamePath("f.bin");

    sandbox::writeFile(path, "");
    REQUIRE(sha1OfFile(path.c_str(), out, false));
    CHECK(std::string(out) == "da39a3ee5e6b4b0d3255bfef95601890afd80709");

    sandbox::writeFile(path, "abc");
    REQUIRE(sha1OfFile(path.c_str(), out, false));
    CHECK(std::string(out) == "a9993e364706816aba3e25717850c26c9cd0d89d");

    sandbox::writeFile(path, patterned(3 * 1024 * 1024 + 5));  // three full chunks and a tail
    REQUIRE(sha1OfFile(path.c_str(), out, false));
    CHECK(std::string(out) == "0f5016c3a826bc9d832edafbc4da13030f852978");

    CHECK_FALSE(sha1OfFile(sandbox::gamePath("missing.bin").c_str(), out, false));
}

TEST_CASE("sha1OfFile reports progress once per 64 MiB of files over 64 MiB") {
    resetLauncherState();
    sandbox::useFolders("progress");
    sandbox::PostSink window;
    std::wstring path = sandbox::gamePath("big.bin");
    char out[41];
    struct Case {
        int64_t mib;
        int reports;
        const wchar_t* last;
    } cases[] = {{64, 0, L"Checking game files..."}, {100, 1, L"Checking game files... 64%"},
                 {200, 3, L"Checking game files... 96%"}};
    for (const Case& c : cases) {
        CAPTURE(c.mib);
        setStatus(Checking, L"Checking game files...");
        window.drain();
        makeZeroFile(path, c.mib * 1024 * 1024);
        REQUIRE(sha1OfFile(path.c_str(), out, true));
        CHECK(window.drain() == c.reports);
        LockHolder hold(gStateLock);
        CHECK(std::wstring(gState.statusText) == c.last);
    }
    // Without the flag nothing is reported, whatever the size.
    window.drain();
    REQUIRE(sha1OfFile(path.c_str(), out, false));
    CHECK(window.drain() == 0);

    makeZeroFile(path, 100 * 1024 * 1024);
    REQUIRE(sha1OfFile(path.c_str(), out, false));
    CHECK(std::string(out) == "2c2ceccb5ec5574f791d45b63c940cff20550f9a");
    ::DeleteFileW(path.c_str());
}

TEST_CASE("checkEntry: a cached row judges the file without reading it") {
    resetLauncherState();
    sandbox::useFolders("cached");
    installAndCache({{"Content/a.pak", "alpha"}, {"b.txt", "bravo"}});
    REQUIRE(gState.fileCache.size() == 2);

    ManifestEntry a = sandbox::makeEntry("Content/a.pak", "alpha");
    ReadLock lock(sandbox::gamePath("Content/a.pak"));
    checkEntry(a, indexCacheRows(gState.fileCache));
    CHECK(a.needsUpdate == 0);

    SUBCASE("the server publishes a new hash: download without hashing first") {
        ManifestEntry changed = sandbox::makeEntry("Content/a.pak", "ALPHA");
        checkEntry(changed, indexCacheRows(gState.fileCache));
        CHECK(changed.needsUpdate == 1);
    }
    SUBCASE("without a matching row the locked file cannot be judged current") {
        gState.fileCache.clear();
        checkEntry(a, indexCacheRows(gState.fileCache));
        CHECK(a.needsUpdate == 1);
    }
    SUBCASE("a row matches by path exactly, case included") {
        ManifestEntry upper = sandbox::makeEntry("content/a.pak", "alpha");
        checkEntry(upper, indexCacheRows(gState.fileCache));  // no row, and on this file system the name finds the locked file
        CHECK(upper.needsUpdate == 1);
    }
}

TEST_CASE("checkEntry: missing, wrong size, touched and replaced files") {
    resetLauncherState();
    sandbox::useFolders("check");
    installAndCache({{"x.bin", "same content"}});

    ManifestEntry missing = sandbox::makeEntry("nothere.bin", "z");
    missing.needsUpdate = 0;
    checkEntry(missing, indexCacheRows(gState.fileCache));
    CHECK(missing.needsUpdate == 1);

    // Outdated by its size: the row still says which version is installed (a patch from it applies).
    ManifestEntry longer = sandbox::makeEntry("x.bin", "same content, longer");
    checkEntry(longer, indexCacheRows(gState.fileCache));
    CHECK(longer.needsUpdate == 1);
    CHECK(std::string(longer.installedSha1) == sandbox::makeEntry("x.bin", "same content").sha1);

    // Touched without a change: hashed again, still current, saved with the new time.
    std::wstring path = sandbox::gamePath("x.bin");
    touch(path, 10'000'000);
    ManifestEntry x = sandbox::makeEntry("x.bin", "same content");
    checkEntry(x, indexCacheRows(gState.fileCache));
    CHECK(x.needsUpdate == 0);
    gState.manifestEntries = {x};
    saveFileCache();
    loadFileCache();
    REQUIRE(gState.fileCache.size() == 1);
    WIN32_FILE_ATTRIBUTE_DATA d;
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d);
    CHECK(gState.fileCache[0].mtime ==
          static_cast<int64_t>((static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) |
                               d.ftLastWriteTime.dwLowDateTime));

    // Changed content, new time: hashed, and found to differ.
    sandbox::writeFile(path, "SAME CONTENT");
    touch(path, 20'000'000);
    checkEntry(x, indexCacheRows(gState.fileCache));
    CHECK(x.needsUpdate == 1);
    const std::string changed = sandbox::makeEntry("x.bin", "SAME CONTENT").sha1;
    CHECK(std::string(x.installedSha1) == changed);
    // An interrupted pass keeps that knowledge: the next check reads it
    // from the row, without reading the file.
    gState.manifestEntries = {x};
    saveFileCache();
    loadFileCache();
    ReadLock lock(path);
    ManifestEntry again = sandbox::makeEntry("x.bin", "same content");
    checkEntry(again, indexCacheRows(gState.fileCache));
    CHECK(again.needsUpdate == 1);
    CHECK(std::string(again.installedSha1) == changed);
}

TEST_CASE("files.cache: saved in text mode from current entries only, loaded back") {
    resetLauncherState();
    sandbox::useFolders("cachefile");
    sandbox::writeFile(sandbox::gamePath("dir/first file.bin"), "1");
    sandbox::writeFile(sandbox::gamePath("two.bin"), "22");
    ManifestEntry one = sandbox::makeEntry("dir/first file.bin", "1");
    ManifestEntry two = sandbox::makeEntry("two.bin", "22");
    ManifestEntry gone = sandbox::makeEntry("gone.bin", "333");
    noteInstalled(one);
    two.needsUpdate = 1;  // not current: never cached
    noteInstalled(gone);  // no file on disk: skipped
    gState.manifestEntries = {one, two, gone};
    saveFileCache();

    std::string text = sandbox::readFile(cacheFile());
    CHECK(text.rfind(std::string(one.sha1) + "|1|", 0) == 0);
    CHECK(text.find("|dir/first file.bin\r\n") != std::string::npos);
    CHECK(text.find("two.bin") == std::string::npos);
    CHECK(text.find("gone.bin") == std::string::npos);
    CHECK_FALSE(sandbox::exists(cacheFile() + L".tmp"));

    loadFileCache();
    REQUIRE(gState.fileCache.size() == 1);
    CHECK(std::string(gState.fileCache[0].path) == "dir/first file.bin");
    CHECK(gState.fileCache[0].size == 1);
}

TEST_CASE("files.cache: a game of 100,000 files, malformed lines, both line ends") {
    resetLauncherState();
    sandbox::useFolders("bigcache");
    const std::string hash(40, 'a');
    std::string text = "NOT A ROW\n" + std::string(40, 'A') + "|1|2|upper.bin\r\n" + hash + "|1|2|\n" +
                       std::string(700, 'x') + "\n";  // a long line arrives in two malformed pieces
    constexpr int kRows = 100000;
    for (int i = 0; i < kRows; ++i)
        text += hash + "|" + std::to_string(i) + "|" + std::to_string(i * 10) + "|f" + std::to_string(i) +
                (i % 2 ? "\r\n" : "\n");
    sandbox::writeFile(cacheFile(), text);
    loadFileCache();
    REQUIRE(gState.fileCache.size() == kRows);
    CHECK(gState.fileCache[0].path == "f0");
    CHECK(gState.fileCache[1].path == "f1");  // CR LF kept out of the path
    CHECK(gState.fileCache[kRows - 1].path == "f99999");
    CHECK(gState.fileCache[kRows - 1].mtime == 999990);
    const FileCacheIndex rows = indexCacheRows(gState.fileCache);
    CHECK(rows.size() == kRows);
    REQUIRE(rows.count("f54321"));
    CHECK(rows.at("f54321")->size == 54321);

    ::DeleteFileW(cacheFile().c_str());
    loadFileCache();
    CHECK(gState.fileCache.empty());
}

TEST_CASE("files.cache never vouches for a file rewritten after it was judged") {
    resetLauncherState();
    sandbox::useFolders("rewritten");
    installAndCache({{"Tervalon.exe", "the real game"}, {"data.pak", "data"}});
    ManifestEntry exe = gState.manifestEntries[0];
    gState.manifestEntries.clear();
    checkEntry(exe, indexCacheRows(gState.fileCache));
    REQUIRE(exe.needsUpdate == 0);

    // Rewritten during the pass: same size, other bytes, a new time.
    sandbox::writeFile(sandbox::gamePath("Tervalon.exe"), "THE FAKE GAME");
    touch(sandbox::gamePath("Tervalon.exe"), 30'000'000);
    ManifestEntry pak = sandbox::makeEntry("data.pak", "data");
    checkEntry(pak, indexCacheRows(gState.fileCache));
    gState.manifestEntries = {exe, pak};
    saveFileCache();
    loadFileCache();
    REQUIRE(gState.fileCache.size() == 1);
    CHECK(gState.fileCache[0].path == "data.pak");

    // The next pass finds it and hashes it.
    checkEntry(exe, indexCacheRows(gState.fileCache));
    CHECK(exe.needsUpdate == 1);
}
