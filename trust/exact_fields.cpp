#include "trust/exact_fields.h"

#include "core/decimal_scan.h"

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // one spelling per hash: lowercase
}

}  // namespace

bool takeLiteral(std::string_view text, size_t* pos, std::string_view expected) {
    if (text.substr(*pos, expected.size()) != expected) return false;
    *pos += expected.size();
    return true;
}

bool takeWholeNumber(std::string_view text, size_t* pos, int64_t smallest, int64_t largest, int64_t* value) {
    const size_t start = *pos;
    if (start >= text.size() || text[start] < '0' || text[start] > '9') return false;
    size_t end = start;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (text[start] == '0' && end - start > 1) return false;
    size_t p = start;
    int64_t v = 0;
    if (!scanInt64(text.data(), end, &p, &v) || v < smallest || v > largest) return false;
    *value = v;
    *pos = end;
    return true;
}

bool takeLowerHex(std::string_view text, size_t* pos, uint8_t* out, size_t bytes) {
    if (text.size() - *pos < 2 * bytes) return false;
    for (size_t i = 0; i < bytes; ++i) {
        const int high = hexDigit(text[*pos + 2 * i]), low = hexDigit(text[*pos + 2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<uint8_t>(high * 16 + low);
    }
    *pos += 2 * bytes;
    return true;
}
