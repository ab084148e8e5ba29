#include "update/signed_version.h"

#include <cstring>

#include "core/decimal_scan.h"

bool parseSignedVersion(const char* data, size_t size, int32_t* version) {
    static const char kKey[] = "version=";
    const size_t keyLength = sizeof(kKey) - 1;
    if (size < keyLength || std::memcmp(data, kKey, keyLength) != 0) return false;
    size_t pos = keyLength;
    int64_t value = 0;
    if (pos < size && (data[pos] == ' ' || (data[pos] >= '\t' && data[pos] <= '\r'))) return false;
    if (!scanInt64(data, size, &pos, &value) || value < INT32_MIN || value > INT32_MAX) return false;
    const size_t tail = size - pos;
    const char* end = data + pos;
    if (!(tail == 0 || (tail == 1 && end[0] == '\n') || (tail == 2 && end[0] == '\r' && end[1] == '\n')))
        return false;
    *version = static_cast<int32_t>(value);
    return true;
}

std::string formatSignedVersion(int32_t version) { return "version=" + std::to_string(version) + "\r\n"; }
