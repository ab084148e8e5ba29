#include "core/config_file.h"

#include <cstring>

#include "core/text_utf8.h"

namespace {

// The value of a `key=` line: from after the key to the line end, a space or
// a zero byte. False when the line is not that key's.
bool lineValue(const char* line, size_t length, const char* key, size_t* start, size_t* end) {
    const size_t keyLength = std::strlen(key);
    if (length < keyLength || std::memcmp(line, key, keyLength) != 0) return false;
    size_t e = keyLength;
    while (e < length && line[e] != '\r' && line[e] != '\n' && line[e] != ' ' && line[e] != 0) ++e;
    *start = keyLength;
    *end = e;
    return true;
}

}  // namespace

bool readServerLine(const char* line, size_t length, wchar_t* host, size_t hostUnits) {
    size_t keyLength = 0, end = 0;
    if (!lineValue(line, length, "server=", &keyLength, &end)) return false;
    wchar_t value[256];
    long n = utf8ToUtf16(line + keyLength, end - keyLength, value, 256);
    if (n < 0 || static_cast<size_t>(n) + 1 > hostUnits) return false;
    std::memcpy(host, value, (static_cast<size_t>(n) + 1) * sizeof(wchar_t));
    return true;
}

bool readKeyLine(const char* line, size_t length, std::string* key) {
    size_t start = 0, end = 0;
    if (lineValue(line, length, "manifest_key=", &start, &end)) {
        key->assign(line + start, end - start);
        return true;
    }
    size_t p = 0;
    if (length >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0) p = 3;
    while (p < length && (line[p] == ' ' || line[p] == '\t')) ++p;
    static const char kName[] = "manifest_key";
    for (size_t i = 0; kName[i]; ++i, ++p) {
        if (p >= length) return false;
        const char c = line[p] >= 'A' && line[p] <= 'Z' ? static_cast<char>(line[p] + 32) : line[p];
        if (c != kName[i]) return false;
    }
    key->clear();
    return true;
}
