#include "steam/steam_vdf.h"

#include <cstring>
#include <limits>

namespace {

constexpr size_t kNotFound = std::string_view::npos;

// Bytes that block searches may walk in one scan of a file: generous for
// real files (each byte is walked about once), small enough that nested or
// repeated sections in a hostile file cannot make the walk quadratic.
struct ScanBudget {
    size_t left;
    explicit ScanBudget(size_t textSize) : left(16 * textSize + 65536) {}
};

size_t blockEnd(std::string_view text, size_t open, ScanBudget& budget) {
    int64_t depth = 0;
    bool inString = false;
    for (size_t i = open; i < text.size(); ++i) {
        if (budget.left == 0) return kNotFound;
        --budget.left;
        char c = text[i];
        if (c == '"' && (i == 0 || text[i - 1] != '\\')) {
            inString = !inString;
        } else if (!inString && c == '{') {
            ++depth;
        } else if (!inString && c == '}') {
            if (--depth == 0) return i;
        }
    }
    return kNotFound;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The leading decimal integer of a value: white space, sign, digits; 0 when
// there are none; clamped rather than wrapped.
int64_t leadingInteger(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        int d = s[i] - '0';
        if (v > (std::numeric_limits<int64_t>::max() - d) / 10) return negative ? std::numeric_limits<int64_t>::min()
                                                                               : std::numeric_limits<int64_t>::max();
        v = v * 10 + d;
    }
    return negative ? -v : v;
}

uint64_t leadingUnsigned(std::string_view text, size_t pos) {
    uint64_t v = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        unsigned d = static_cast<unsigned>(text[pos] - '0');
        if (v > (std::numeric_limits<uint64_t>::max() - d) / 10) break;
        v = v * 10 + d;
    }
    return v;
}

// One account block of loginusers.vdf, from its key at `hit`.
struct AccountBlock {
    uint64_t steamId64;
    std::string mostRecent, personaName;
    size_t close;
};

bool readAccount(std::string_view text, size_t hit, ScanBudget& budget, AccountBlock* out) {
    size_t open = text.find('{', hit);
    if (open == kNotFound) return false;
    size_t close = blockEnd(text, open, budget);
    if (close == kNotFound) return false;
    out->steamId64 = leadingUnsigned(text, hit + 1);
    out->mostRecent = lookupQuotedValue(text, hit, close, "MostRecent", 7).value_or("");
    out->personaName = lookupQuotedValue(text, hit, close, "PersonaName", 127).value_or("");
    out->close = close;
    return true;
}

}  // namespace

std::string_view vdfText(const char* data, size_t size) {
    if (!data) return {};
    const void* zero = std::memchr(data, 0, size);
    return {data, zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : size};
}

size_t findBlockEnd(std::string_view text, size_t open) {
    ScanBudget budget(text.size());
    return blockEnd(text, open, budget);
}

std::optional<std::string> lookupQuotedValue(std::string_view text, size_t start, size_t limit, std::string_view key,
                                             size_t maxLength) {
    std::string quoted = "\"" + std::string(key) + "\"";
    limit = std::min(limit, text.size());
    for (size_t from = start; from < limit;) {
        // Only hits that begin before the limit count, so the search never
        // needs to look further than that.
        size_t hit = text.substr(0, std::min(text.size(), limit + quoted.size() - 1)).find(quoted, from);
        if (hit == kNotFound || hit >= limit) return std::nullopt;
        size_t pos = hit + quoted.size();
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos < text.size() && text[pos] == '"') {
            size_t end = text.find('"', pos + 1);
            if (end == kNotFound) end = text.size();
            return std::string(text.substr(pos + 1, std::min(end - pos - 1, maxLength)));
        }
        from = hit + 1;
    }
    return std::nullopt;
}

SteamAccount chooseSteamAccount(std::string_view text, uint32_t activeUser) {
    SteamAccount taken;
    ScanBudget budget(text.size());
    for (size_t from = 0;;) {
        size_t hit = text.find("\"7656119", from);
        if (hit == kNotFound) break;
        AccountBlock account;
        if (!readAccount(text, hit, budget, &account)) break;
        bool matches = activeUser != 0 ? static_cast<uint32_t>(account.steamId64) == activeUser
                                       : !account.mostRecent.empty() && account.mostRecent[0] == '1';
        if (!taken.found || matches) {
            taken.found = true;
            taken.steamId64 = account.steamId64;
            taken.personaName = account.personaName;
        }
        if (matches) break;
        from = account.close;
    }
    return taken;
}

PlayStats readPlayStats(std::string_view text, uint32_t appId) {
    PlayStats stats;
    std::string key = "\"" + std::to_string(appId) + "\"";
    ScanBudget budget(text.size());
    for (size_t from = 0;;) {
        size_t hit = text.find(key, from);
        if (hit == kNotFound) break;
        size_t open = text.find('{', hit + key.size());
        if (open == kNotFound) break;
        size_t close = blockEnd(text, open, budget);
        if (close == kNotFound) break;
        bool section = true;
        for (size_t i = hit + key.size(); i < open && section; ++i) section = isWhite(text[i]);
        if (section) {
            if (auto v = lookupQuotedValue(text, hit, close, "Playtime", 31)) stats.playtimeMinutes = leadingInteger(*v);
            if (auto v = lookupQuotedValue(text, hit, close, "LastPlayed", 31)) stats.lastPlayed = leadingInteger(*v);
            if (stats.playtimeMinutes && *stats.playtimeMinutes >= 0) break;
        }
        from = hit + 1;
    }
    return stats;
}
