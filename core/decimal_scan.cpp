#include "core/decimal_scan.h"

bool scanInt64(const char* s, size_t length, size_t* pos, int64_t* value) {
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
