// The shared state, the status channel (with a real window receiving the
// posts) and readWholeFile on real files.
#include <doctest/doctest.h>

#include "tests/support/wide_strings.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "core/launcher_state.h"
#include "tests/support/sandbox.h"

namespace {

std::wstring statusText() {
    LockHolder hold(gStateLock);
    return gState.statusText;
}

std::wstring tempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

void writeFileOfSize(const std::wstring& path, int64_t size) {
    FILE* f = ::_wfopen(path.c_str(), L"wb");
    REQUIRE(f);
    if (size > 0) {
        ::_fseeki64(f, size - 1, SEEK_SET);
        std::fputc('E', f);
    }
    std::fclose(f);
}

}  // namespace

TEST_CASE("initial state: connecting, dashes for the counts, nothing downloaded") {
    resetLauncherState();
    CHECK(gState.phase == Connecting);
    CHECK(statusText() == L"Connecting to the server...");
    CHECK(gState.lobbiesOpen < 0);
    CHECK(gState.playersInMatches < 0);
    CHECK(gState.serverOnline == 0);
    CHECK_FALSE(gState.patchNotes.has_value());
    CHECK(std::wstring(gState.serverHost) == kDefaultServerHost);
    CHECK(gState.bytesDone == 0);
    CHECK(gState.steamStats.valid == 0);
}

TEST_CASE("setStatus changes phase and text as asked and posts every time") {
    resetLauncherState();
    sandbox::PostSink window;

    setStatus(Checking, L"Checking game files... %d%%", 64);
    CHECK(gState.phase == Checking);
    CHECK(statusText() == L"Checking game files... 64%");

    setStatus(-1, L"Downloading %ls", L"Maps/Level 1.pak");
    CHECK(gState.phase == Checking);
    CHECK(statusText() == L"Downloading Maps/Level 1.pak");

    setStatus(Ready, nullptr);
    CHECK(gState.phase == Ready);
    CHECK(statusText() == L"Downloading Maps/Level 1.pak");

    setStatus(-1, nullptr);  // nothing changes, but the window still hears of it
    setStatus(UpdateReady, L"Update available \u2022 version %d \u2022 %d file(s), %.1f MB", 12, 3, 41.24);
    CHECK(statusText() == L"Update available \u2022 version 12 \u2022 3 file(s), 41.2 MB");
    CHECK(window.drain() == 5);
    for (WPARAM w : window.wParams) CHECK(w == 0);
}

TEST_CASE("a status longer than 255 characters is cut there and terminated") {
    resetLauncherState();
    std::wstring name(400, L'n');
    setStatus(-1, L"Downloading %ls", name.c_str());
    std::wstring text = statusText();
    CHECK(text.size() == 255);
    CHECK(text == (L"Downloading " + name).substr(0, 255));

    std::wstring exact(255 - 12, L'e');  // exactly 255 with the prefix
    setStatus(-1, L"Downloading %ls", exact.c_str());
    CHECK(statusText() == L"Downloading " + exact);
}

TEST_CASE("the status text is never seen half-written by a reader holding the lock") {
    resetLauncherState();
    std::wstring a(255, L'a'), b(255, L'b');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) setStatus(-1, L"%ls", (i & 1) ? a.c_str() : b.c_str());
    });
    int mixed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::wstring t = statusText();
        if (t != a && t != b && t != L"Connecting to the server...") ++mixed;
    }
    stop = true;
    writer.join();
    CHECK(mixed == 0);
}

TEST_CASE("readWholeFile: 1 byte to 64 MiB, with a zero byte after the data") {
    std::wstring path = tempPath(L"tvl_whole_file.bin");
    SUBCASE("missing") {
        ::DeleteFileW(path.c_str());
        CHECK_FALSE(readWholeFile(path.c_str()));
    }
    SUBCASE("empty") {
        writeFileOfSize(path, 0);
        CHECK_FALSE(readWholeFile(path.c_str()));
    }
    SUBCASE("small text") {
        FILE* f = ::_wfopen(path.c_str(), L"wb");
        std::fwrite("a\r\nb", 1, 4, f);
        std::fclose(f);
        ByteBuffer b = readWholeFile(path.c_str());
        REQUIRE(b);
        CHECK(std::string(b.data, b.size) == "a\r\nb");  // binary: no line-end conversion
        CHECK(b.data[4] == 0);
    }
    SUBCASE("exactly 64 MiB") {
        writeFileOfSize(path, kWholeFileLimit);
        ByteBuffer b = readWholeFile(path.c_str());
        REQUIRE(b);
        CHECK(b.size == static_cast<size_t>(kWholeFileLimit));
        CHECK(b.data[b.size - 1] == 'E');
        CHECK(b.data[b.size] == 0);
    }
    SUBCASE("64 MiB and one byte") {
        writeFileOfSize(path, kWholeFileLimit + 1);
        CHECK_FALSE(readWholeFile(path.c_str()));
    }
    ::DeleteFileW(path.c_str());
}
