// Narrow scanners over the Steam client's text files (loginusers.vdf,
// localconfig.vdf). They are other people's files: the scanners never read
// past the text, treat a NUL byte as its end, and bound their total work so
// that a hostile or broken file cannot hang the launcher. Pure: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr uint32_t kGameAppId = 2746150;

// The text up to its first NUL byte.
std::string_view vdfText(const char* data, size_t size);

// From the opening brace at `open`, the position of the brace that closes it
// (braces inside quotes do not count), or npos when the text ends first.
size_t findBlockEnd(std::string_view text, size_t open);

// The value of "key" in [start, limit): the quoted text after the key (tabs
// and spaces between), cut to maxLength bytes. Escapes are not interpreted.
std::optional<std::string> lookupQuotedValue(std::string_view text, size_t start, size_t limit, std::string_view key,
                                             size_t maxLength);

struct SteamAccount {
    bool found = false;
    uint64_t steamId64 = 0;
    std::string personaName;  // UTF-8 bytes, at most 127
};

// The account of loginusers.vdf: the one whose low 32 bits equal activeUser,
// or with activeUser 0 the one whose MostRecent starts with "1"; failing
// that, the first account in the file.
SteamAccount chooseSteamAccount(std::string_view loginUsers, uint32_t activeUser);

struct PlayStats {
    std::optional<int64_t> playtimeMinutes;
    std::optional<int64_t> lastPlayed;
};

// "Playtime" and "LastPlayed" from the game's section of localconfig.vdf.
PlayStats readPlayStats(std::string_view localConfig, uint32_t appId = kGameAppId);
