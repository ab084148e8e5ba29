#include <windows.h>

#include <cstdio>
#include <cstring>

#include "core/text_utf8.h"
#include "steam/steam_stats.h"
#include "steam/steam_vdf.h"

namespace {

constexpr wchar_t kSteamKey[] = L"Software\\Valve\\Steam";
constexpr wchar_t kActiveProcessKey[] = L"Software\\Valve\\Steam\\ActiveProcess";
constexpr wchar_t kDefaultPersona[] = L"Steam player";

// SteamPath as REG_SZ only: without RRF_NOEXPAND the system would expand a
// REG_EXPAND_SZ value and hand it over as if it were one. A value that does not fit 259 units is refused
// rather than cut, since a cut path would point somewhere else.
bool readSteamPath(wchar_t (&path)[kFolderPathUnits]) {
    DWORD bytes = sizeof(path);
    if (::RegGetValueW(HKEY_CURRENT_USER, kSteamKey, L"SteamPath", RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, path, &bytes) !=
        ERROR_SUCCESS)
        return false;
    for (wchar_t* p = path; *p; ++p)
        if (*p == L'/') *p = L'\\';
    return path[0] != 0;
}

uint32_t readActiveUser() {
    DWORD value = 0, bytes = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, kActiveProcessKey, L"ActiveUser", RRF_RT_REG_DWORD, nullptr, &value,
                       &bytes) != ERROR_SUCCESS)
        return 0;
    return value;
}

void publishIdentity(SteamStats& s, const SteamAccount& account, const wchar_t* steamPath) {
    s.valid = 1;
    if (account.personaName.empty() ||
        utf8ToUtf16(account.personaName.data(), account.personaName.size(), s.personaName, 128) <= 0)
        std::wcscpy(s.personaName, kDefaultPersona);
    _snwprintf(s.avatarPath, kFilePathUnits, L"%ls\\config\\avatarcache\\%llu.png", steamPath,
               static_cast<unsigned long long>(account.steamId64));
    s.avatarPath[kFilePathUnits - 1] = 0;
}

}  // namespace

SteamStats readSteamStats(const SteamStats& start) {
    SteamStats s = start;
    s.playtimeMinutes = -1;
    wchar_t steamPath[kFolderPathUnits];
    if (!readSteamPath(steamPath)) return s;
    uint32_t activeUser = readActiveUser();

    wchar_t path[kFilePathUnits];
    _snwprintf(path, kFilePathUnits, L"%ls\\config\\loginusers.vdf", steamPath);
    ByteBuffer users = readWholeFile(path);
    if (!users) return s;
    SteamAccount account = chooseSteamAccount(vdfText(users.data, users.size), activeUser);
    if (!account.found) return s;
    publishIdentity(s, account, steamPath);

    uint32_t accountId = static_cast<uint32_t>(account.steamId64);
    _snwprintf(path, kFilePathUnits, L"%ls\\userdata\\%u\\config\\localconfig.vdf", steamPath, accountId);
    ByteBuffer config = readWholeFile(path);
    if (!config) return s;
    PlayStats stats = readPlayStats(vdfText(config.data, config.size));
    if (stats.playtimeMinutes) s.playtimeMinutes = *stats.playtimeMinutes;
    if (stats.lastPlayed) s.lastPlayed = *stats.lastPlayed;
    return s;
}

void loadSteamStats() { publishSteamStats(readSteamStats(steamStatsSnapshot())); }

SteamStats steamStatsSnapshot() {
    LockHolder hold(gStateLock);
    return gState.steamStats;
}

void publishSteamStats(const SteamStats& stats) {
    LockHolder hold(gStateLock);
    gState.steamStats = stats;
}
