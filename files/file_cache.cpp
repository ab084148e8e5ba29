#include "files/file_cache.h"

#include <cstring>
#include <utility>

#include "core/decimal_scan.h"

namespace {

bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

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
    if (!expect(line, length, &p, '|') || !scanInt64(line, length, &p, &r.size) ||
        !expect(line, length, &p, '|') || !scanInt64(line, length, &p, &r.mtime) || !expect(line, length, &p, '|'))
        return false;
    size_t n = 0;
    while (n < 399 && p + n < length && line[p + n] != '\r' && line[p + n] != '\n' && line[p + n] != 0) ++n;
    if (n == 0) return false;
    r.path.assign(line + p, n);
    row = std::move(r);
    return true;
}

FileCacheIndex indexCacheRows(const std::vector<FileCacheEntry>& rows) {
    FileCacheIndex index;
    index.reserve(rows.size());
    for (const FileCacheEntry& row : rows) index.emplace(row.path, &row);  // the first row of a path wins
    return index;
}
