#include "update/file_cache.h"

#include <cstring>
#include <limits>

namespace {

bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// A signed decimal as a scanner reads one: leading blanks, a sign, digits.
// Out-of-range values are refused rather than wrapped.
bool readInt64(const char* s, size_t length, size_t* pos, int64_t* value) {
    size_t p = *pos;
    while (p < length && (s[p] == ' ' || (s[p] >= '\t' && s[p] <= '\r'))) ++p;
    bool negative = false;
    if (p < length && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
    uint64_t v = 0;
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    size_t start = p;
    for (; p < length && s[p] >= '0' && s[p] <= '9'; ++p) {
        v = v * 10 + static_cast<uint64_t>(s[p] - '0');
        if (v > limit) return false;
    }
    if (p == start) return false;
    *value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    *pos = p;
    return true;
}

bool expect(const char* s, size_t length, size_t* pos, char c) {
    if (*pos >= length || s[*pos] != c) return false;
    ++*pos;
    return true;
}

}  // namespace

bool parseCacheLine(const char* line, size_t length, FileCacheEntry& row) {
    FileCacheEntry r{};
    size_t p = 0;
    while (p < length && p < 40 && isLowerHex(line[p])) r.sha1[p] = line[p], ++p;
    if (p == 0) return false;
    if (!expect(line, length, &p, '|') || !readInt64(line, length, &p, &r.size) ||
        !expect(line, length, &p, '|') || !readInt64(line, length, &p, &r.mtime) || !expect(line, length, &p, '|'))
        return false;
    size_t n = 0;
    while (n < 399 && p + n < length && line[p + n] != '\r' && line[p + n] != '\n' && line[p + n] != 0) {
        r.path[n] = line[p + n];
        ++n;
    }
    if (n == 0) return false;
    row = r;
    return true;
}
