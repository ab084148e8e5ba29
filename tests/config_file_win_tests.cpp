// The configuration file read from a real file, in text mode, in 200-byte pieces.
#include <doctest/doctest.h>

#include <cstdio>
#include <string>

#include "core/config_file.h"
#include "core/launcher_state.h"
#include "tests/support/wide_strings.h"

namespace {
std::wstring writeIni(const std::string& bytes) {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"TVLLauncher_test.ini";
    FILE* f = ::_wfopen(path.c_str(), L"wb");
    REQUIRE(f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}
}  // namespace

TEST_CASE("configuration file: last server= line wins, BOM only hides the first line") {
    resetLauncherState();
    std::wstring path = writeIni("\xEF\xBB\xBFserver=bom.example\r\n[section]\r\nserver=first.example\r\nserver=second.example\r\n");
    loadConfigFile(path.c_str());
    CHECK(std::wstring(gState.serverHost) == L"second.example");
    ::DeleteFileW(path.c_str());
}

TEST_CASE("configuration file: a line over 199 bytes arrives as pieces, each a line of its own") {
    resetLauncherState();
    std::wstring path = writeIni(std::string(199, '#') + "server=piece.example\n");
    loadConfigFile(path.c_str());
    CHECK(std::wstring(gState.serverHost) == L"piece.example");

    resetLauncherState();
    path = writeIni(std::string(192, '#') + "server=cut.example\n");  // the key straddles two pieces
    loadConfigFile(path.c_str());
    CHECK(std::wstring(gState.serverHost) == kDefaultServerHost);
    ::DeleteFileW(path.c_str());
}

TEST_CASE("configuration file: missing file keeps the default host") {
    resetLauncherState();
    loadConfigFile(L"C:\\no\\such\\folder\\TVLLauncher.ini");
    CHECK(std::wstring(gState.serverHost) == kDefaultServerHost);
}
