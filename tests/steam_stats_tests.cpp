// loadSteamStats against real registry values and real Steam files.
#include <doctest/doctest.h>

#include <string>

#include "core/launcher_state.h"
#include "steam/steam_stats.h"
#include "tests/support/steam_fixture.h"
#include "tests/support/wide_strings.h"

namespace {

const std::string kIdA = "76561198000000001";
const std::string kIdB = "76561198000000002";
constexpr DWORD kLowB = 39734274;

SteamStats load() {
    loadSteamStats();
    return steamStatsSnapshot();
}

}  // namespace

TEST_CASE("a full load: forward slashes, active user, play statistics") {
    resetLauncherState();
    steamfix::SteamRegistry registry;
    std::wstring steam = steamfix::steamFolder("full");
    std::wstring slashed = steam;
    for (auto& c : slashed)
        if (c == L'\\') c = L'/';
    registry.setPath(slashed);
    registry.setActiveUser(kLowB);
    steamfix::writeSteamFile(steam, "config/loginusers.vdf",
                             steamfix::loginUsers({{kIdA, "Alice"}, {kIdB, "B\xC3\xB6rje \xFF"}}));
    steamfix::writeSteamFile(steam, "userdata/39734274/config/localconfig.vdf",
                             steamfix::localConfig(754, 1764000000));

    SteamStats s = load();
    CHECK(s.valid == 1);
    CHECK(std::wstring(s.personaName) == L"B\u00F6rje \uFFFD");
    CHECK(std::wstring(s.avatarPath) == steam + L"\\config\\avatarcache\\" + std::wstring(kIdB.begin(), kIdB.end()) + L".png");
    CHECK(s.playtimeMinutes == 754);
    CHECK(s.lastPlayed == 1764000000);

    SUBCASE("without localconfig.vdf the identity stays and play time is unknown") {
        steamfix::writeSteamFile(steam, "userdata/39734274/config/localconfig.vdf", "");
        SteamStats again = load();
        CHECK(again.valid == 1);
        CHECK(again.playtimeMinutes == -1);
        CHECK(again.lastPlayed == 1764000000);  // not reached: keeps its value
    }
    SUBCASE("an empty persona name shows as Steam player") {
        steamfix::writeSteamFile(steam, "config/loginusers.vdf", steamfix::loginUsers({{kIdB, ""}}));
        CHECK(std::wstring(load().personaName) == L"Steam player");
    }
}

TEST_CASE("missing or unusable sources leave valid at 0 and only reset the play time") {
    resetLauncherState();
    steamfix::SteamRegistry registry;
    std::wstring steam = steamfix::steamFolder("missing");
    steamfix::writeSteamFile(steam, "config/loginusers.vdf", steamfix::loginUsers({{kIdA, "Alice"}}));

    SUBCASE("no SteamPath") { registry.clear(); }
    SUBCASE("SteamPath of the wrong type") {
        DWORD number = 5;
        registry.setRaw(false, REG_DWORD, &number, sizeof number);
    }
    SUBCASE("SteamPath of the expandable type, even when it would expand to Steam") {
        ::SetEnvironmentVariableW(L"TVL_STEAM_FOLDER", steam.c_str());
        const wchar_t text[] = L"%TVL_STEAM_FOLDER%";
        registry.setRaw(false, REG_EXPAND_SZ, text, sizeof text);
    }
    SUBCASE("SteamPath longer than its buffer is refused, not cut") {
        std::wstring longPath = steam + L"\\" + std::wstring(300, L'x');
        registry.setPath(longPath);
        // A real account where a cut path would lead: cutting would find it.
        steamfix::writeSteamFile(longPath.substr(0, 259), "config/loginusers.vdf", steamfix::loginUsers({{kIdA, "Alice"}}));
    }
    SUBCASE("loginusers.vdf over 64 MiB") {
        registry.setPath(steam);
        steamfix::writeSteamFile(steam, "config/loginusers.vdf",
                                 steamfix::loginUsers({{kIdA, "Alice"}}) + std::string(64 * 1024 * 1024, ' '));
    }
    SUBCASE("no account in loginusers.vdf") {
        registry.setPath(steam);
        steamfix::writeSteamFile(steam, "config/loginusers.vdf", "\"users\" { }");
    }
    SteamStats s = load();
    CHECK(s.valid == 0);
    CHECK(s.playtimeMinutes == -1);
    CHECK(s.personaName[0] == 0);
}

TEST_CASE("an ActiveUser of the wrong type counts as missing") {
    resetLauncherState();
    steamfix::SteamRegistry registry;
    std::wstring steam = steamfix::steamFolder("activetype");
    registry.setPath(steam);
    const wchar_t text[] = L"39734274";
    registry.setRaw(true, REG_SZ, text, sizeof text);
    // With no active user, "MostRecent" 1 decides; here nobody has it, so the first account.
    steamfix::writeSteamFile(steam, "config/loginusers.vdf", steamfix::loginUsers({{kIdA, "Alice"}, {kIdB, "Bob"}}));
    CHECK(std::wstring(load().personaName) == L"Alice");
}
