#include "update/server_documents.h"

#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "core/text_utf8.h"
#include "files/manifest_paths.h"

namespace {

constexpr size_t kNotFound = std::string_view::npos;
constexpr size_t kPathBytes = 399;
constexpr size_t kHashBytes = 40;
constexpr size_t kMapHashBytes = 64;
constexpr char kEntryStart[] = "{\"p\": \"";
constexpr char kHashStart[] = "\"h\": \"";
constexpr char kMapStart[] = "\"m\": \"";  // optional: a reader that does not know it skips it
constexpr char kFineStart[] = "\"f\": \"";  // optional, the same
constexpr char kZstStart[] = "\"z\": \"";     // optional: the zst form's hash, size and frame table
constexpr char kZstSizeStart[] = "\"zs\": ";
constexpr char kFramesStart[] = "\"zf\": \"";
constexpr char kPatchesStart[] = "\"from\": [";  // optional: the patches from older files
constexpr size_t kMostPatchOffers = 16;

// A zero byte ends the body for every search.
std::string_view bodyView(const char* data, size_t size) {
    if (!data) return {};
    const void* zero = std::memchr(data, 0, size);
    return {data, zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : size};
}

std::string keyPattern(const char* key) { return std::string("\"") + key + "\":"; }

// Position just after the first occurrence of `pattern` at or after `from`.
size_t findAfter(std::string_view body, std::string_view pattern, size_t from) {
    size_t hit = body.find(pattern, from);
    return hit == kNotFound ? kNotFound : hit + pattern.size();
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int64_t clampToInt64(long double v) {
    constexpr long double kMax = 9223372036854775807.0L;
    if (v >= kMax) return std::numeric_limits<int64_t>::max();
    if (v <= -kMax) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);  // truncates toward zero
}

int32_t clampToInt32(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// Decimal number with a full stop whatever the locale: sign, digits, fraction,
// exponent. Integers are read exactly; only exponent forms go through floating point.
int64_t parseDecimal(std::string_view s, size_t pos) {
    while (pos < s.size() && isCSpace(s[pos])) ++pos;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
    uint64_t whole = 0;
    bool saturated = false;
    long double mantissa = 0;
    int digits = 0, fractionDigits = 0;
    for (; pos < s.size() && isDigit(s[pos]); ++pos, ++digits) {
        unsigned d = static_cast<unsigned>(s[pos] - '0');
        if (whole > (std::numeric_limits<uint64_t>::max() - d) / 10) saturated = true;
        else whole = whole * 10 + d;
        mantissa = mantissa * 10 + d;
    }
    if (pos < s.size() && s[pos] == '.') {
        for (++pos; pos < s.size() && isDigit(s[pos]); ++pos, ++digits, ++fractionDigits)
            mantissa = mantissa * 10 + (s[pos] - '0');
    }
    if (digits == 0) return 0;
    long exponent = 0;
    bool hasExponent = false;
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
        size_t p = pos + 1;
        bool expNegative = false;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) expNegative = s[p++] == '-';
        if (p < s.size() && isDigit(s[p])) {
            hasExponent = true;
            for (; p < s.size() && isDigit(s[p]); ++p)
                if (exponent < 100000) exponent = exponent * 10 + (s[p] - '0');
            if (expNegative) exponent = -exponent;
        }
    }
    if (!hasExponent && !saturated && whole <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return negative ? -static_cast<int64_t>(whole) : static_cast<int64_t>(whole);
    long double value = mantissa;
    long scale = exponent - fractionDigits;
    for (; scale > 0 && value < 1e30L; --scale) value *= 10;
    for (; scale < 0 && value != 0; ++scale) value /= 10;
    return clampToInt64(negative ? -value : value);
}

bool findNumber(std::string_view body, const char* key, size_t from, int64_t* value) {
    size_t pos = findAfter(body, keyPattern(key), from);
    if (pos == kNotFound) return false;
    while (pos < body.size() && body[pos] == ' ') ++pos;
    *value = parseDecimal(body, pos);
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The notes text: one code unit per byte (no UTF-8 decoding), with the
// escapes the server writes. An unescaped quote or the end of the body ends it.
std::wstring decodeNotes(std::string_view body, size_t pos) {
    std::wstring out;
    out.reserve(body.size() - pos);
    while (pos < body.size()) {
        char c = body[pos++];
        if (c == '"') break;
        if (c != '\\') {
            out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
            continue;
        }
        if (pos >= body.size()) {
            out.push_back(L'\\');
            break;
        }
        char e = body[pos++];
        if (e == 'n') {
            out.append(L"\r\n");
        } else if (e == 'r') {
            // dropped: "\n" already yields CR LF
        } else if (e == 't') {
            out.push_back(L'\t');
        } else if (e == 'u') {
            // An escape cut off by the end of the body ends the text there.
            if (body.size() - pos < 4) break;
            // Hex digits are read up to the first that is not one, as a
            // scanner would; all four characters are consumed either way.
            unsigned value = 0;
            for (int i = 0; i < 4 && hexValue(body[pos + i]) >= 0; ++i) value = value * 16 + hexValue(body[pos + i]);
            pos += 4;
            // A zero unit would silently cut the text for every later reader.
            if (value != 0) out.push_back(static_cast<wchar_t>(value));
        } else {
            out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(e)));
        }
    }
    return out;
}

std::optional<std::wstring> findNotes(std::string_view body) {
    size_t pos = findAfter(body, keyPattern("notes"), 0);
    if (pos == kNotFound) return std::nullopt;
    while (pos < body.size() && body[pos] == ' ') ++pos;
    if (pos >= body.size() || body[pos] != '"') return std::nullopt;
    try {
        return decodeNotes(body, pos + 1);
    } catch (const std::bad_alloc&) {
        return std::nullopt;  // notes too large to hold: show none rather than fail
    }
}

// A SHA-256 of the entry's after `key` ("m": its block map's, "f": its fine
// map's), when it stands after the hash and before the next entry as exactly
// 64 lowercase hex digits; anything else names none.
void readObjectHash(std::string_view body, size_t from, const char* key, char* out) {
    out[0] = 0;
    const size_t at = findAfter(body, key, from), next = findAfter(body, kEntryStart, from);
    if (at == kNotFound || (next != kNotFound && at > next) || body.size() - at < kMapHashBytes + 1) return;
    for (size_t i = 0; i < kMapHashBytes; ++i) {
        const char c = body[at + i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return;
    }
    if (body[at + kMapHashBytes] != '"') return;
    std::memcpy(out, body.data() + at, kMapHashBytes);
    out[kMapHashBytes] = 0;
}

// The zst form's size after `from` and before the next entry: a whole
// number of at most 18 digits, else none (0).
int64_t readObjectSize(std::string_view body, size_t from, const char* key) {
    const size_t at = findAfter(body, key, from), next = findAfter(body, kEntryStart, from);
    if (at == kNotFound || (next != kNotFound && at > next)) return 0;
    int64_t value = 0;
    size_t n = 0;
    for (; at + n < body.size() && n <= 18 && body[at + n] >= '0' && body[at + n] <= '9'; ++n)
        value = value * 10 + (body[at + n] - '0');
    return n >= 1 && n <= 18 ? value : 0;
}

// Reads the text `literal` at *pos, moving past it.
bool expect(std::string_view body, size_t* pos, std::string_view literal) {
    if (body.substr(*pos, literal.size()) != literal) return false;
    *pos += literal.size();
    return true;
}

// Exactly `count` lowercase hex digits at *pos, copied out and ended.
bool expectHex(std::string_view body, size_t* pos, size_t count, char* out) {
    if (body.size() - *pos < count) return false;
    for (size_t i = 0; i < count; ++i) {
        const char c = body[*pos + i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
        out[i] = c;
    }
    out[count] = 0;
    *pos += count;
    return true;
}

// One offer: ["<old sha1>", <size>, "<sha256>", "<frame table's sha256, or empty>"]
bool readPatchOffer(std::string_view body, size_t* pos, PatchOffer* offer) {
    if (!expect(body, pos, "[\"") || !expectHex(body, pos, kHashBytes, offer->from) || !expect(body, pos, "\", "))
        return false;
    offer->size = 0;
    size_t digits = 0;
    for (; digits <= 18 && *pos < body.size() && isDigit(body[*pos]); ++digits, ++*pos)
        offer->size = offer->size * 10 + (body[*pos] - '0');
    if (digits > 18 || offer->size <= 0 || !expect(body, pos, ", \"") || !expectHex(body, pos, kMapHashBytes, offer->sha256) ||
        !expect(body, pos, "\", \""))
        return false;
    offer->framesSha256[0] = 0;
    if (*pos < body.size() && body[*pos] != '"' && !expectHex(body, pos, kMapHashBytes, offer->framesSha256)) return false;
    return expect(body, pos, "\"]");
}

// The entry's patches, exactly as publish writes them, at most 16; any
// other text names none (the file still comes by its other routes).
void readPatchOffers(std::string_view body, size_t from, std::vector<PatchOffer>& out) {
    out.clear();
    size_t pos = findAfter(body, kPatchesStart, from);
    const size_t next = findAfter(body, kEntryStart, from);
    if (pos == kNotFound || (next != kNotFound && pos > next)) return;
    for (PatchOffer offer; out.size() < kMostPatchOffers && readPatchOffer(body, &pos, &offer);) {
        out.push_back(offer);
        if (expect(body, &pos, "]")) return;
        if (!expect(body, &pos, ", ")) break;
    }
    out.clear();
}

// Reads one entry whose path starts at `pos`; returns the position after its
// hash, or kNotFound when the entry makes the manifest unacceptable.
size_t readEntry(std::string_view body, size_t pos, ManifestEntry& entry) {
    size_t n = 0;
    while (n < kPathBytes && pos + n < body.size() && body[pos + n] != '"') {
        entry.path[n] = body[pos + n];
        ++n;
    }
    entry.path[n] = 0;
    if (!manifestPathAllowed(entry.path)) return kNotFound;
    size_t pathEnd = pos + n;
    int64_t size = 0;
    if (!findNumber(body, "s", pathEnd, &size) || size < 0) return kNotFound;
    entry.size = size;
    size_t hash = findAfter(body, kHashStart, pathEnd);
    if (hash == kNotFound || body.size() - hash < kHashBytes) return kNotFound;
    std::memcpy(entry.sha1, body.data() + hash, kHashBytes);
    entry.sha1[kHashBytes] = 0;
    readObjectHash(body, hash + kHashBytes, kMapStart, entry.mapSha256);
    readObjectHash(body, hash + kHashBytes, kFineStart, entry.fineSha256);
    // A zst form counts only with its hash and a size: both name what is fetched.
    readObjectHash(body, hash + kHashBytes, kZstStart, entry.zstSha256);
    entry.zstSize = entry.zstSha256[0] ? readObjectSize(body, hash + kHashBytes, kZstSizeStart) : 0;
    if (entry.zstSize == 0) entry.zstSha256[0] = 0;
    readObjectHash(body, hash + kHashBytes, kFramesStart, entry.framesSha256);
    readPatchOffers(body, hash + kHashBytes, entry.patches);
    return hash + kHashBytes;
}

bool readEntries(std::string_view body, std::vector<ManifestEntry>& entries) {
    size_t pos = findAfter(body, kEntryStart, 0);
    if (pos == kNotFound) return false;
    while (pos != kNotFound) {
        if (entries.size() == entries.capacity()) entries.reserve(entries.capacity() * 2);
        entries.push_back(ManifestEntry{});
        size_t next = readEntry(body, pos, entries.back());
        if (next == kNotFound) {
            entries.pop_back();
            return false;
        }
        pos = findAfter(body, kEntryStart, next);
    }
    return true;
}

}  // namespace

ServerInfo readInfo(const char* data, size_t size) {
    std::string_view body = bodyView(data, size);
    ServerInfo info;
    int64_t value = 0;
    info.hasVersion = findNumber(body, "version", 0, &value);
    info.lobbies = findNumber(body, "lobbies", 0, &value) ? clampToInt32(value) : 0;
    info.players = findNumber(body, "players", 0, &value) ? clampToInt32(value) : 0;
    info.notes = findNotes(body);
    return info;
}

ServerInfoPoll readInfoPoll(const char* data, size_t size) {
    std::string_view body = bodyView(data, size);
    ServerInfoPoll poll;
    int64_t lobbies = 0, players = 0, version = 0;
    if (findNumber(body, "lobbies", 0, &lobbies) && findNumber(body, "players", 0, &players)) {
        poll.hasCounts = true;
        poll.lobbies = clampToInt32(lobbies);
        poll.players = clampToInt32(players);
    }
    if (findNumber(body, "version", 0, &version)) {
        poll.hasVersion = true;
        poll.version = clampToInt32(version);
    }
    return poll;
}

ManifestResult readManifest(const char* data, size_t size, std::vector<ManifestEntry>& entries) {
    std::string_view body = bodyView(data, size);
    ManifestResult result;
    int64_t version = 0;
    if (!findNumber(body, "version", 0, &version)) return result;
    result.hasVersion = true;
    result.version = clampToInt32(version);
    try {
        std::vector<ManifestEntry> fresh;
        fresh.reserve(kManifestInitialCapacity);
        entries.swap(fresh);
        // Paths that name one file on Windows, or sizes whose total overflows,
        // would leave the game wrong on disk or the totals nonsense.
        result.accepted = readEntries(body, entries) && manifestPathsDistinct(entries) && manifestSizesFit(entries);
    } catch (const std::bad_alloc&) {
        result.accepted = false;  // a table we cannot hold is no table
    }
    return result;
}
