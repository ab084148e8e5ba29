#include "core/text_utf8.h"

#include <cstdint>

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Length of the sequence a lead byte announces, 0 for a byte that cannot lead.
int sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The second byte's range is narrower for some leads: this rules out overlong
// forms, surrogates and values above U+10FFFF.
bool secondByteFits(unsigned char lead, unsigned char b) {
    if (lead == 0xE0) return b >= 0xA0 && b <= 0xBF;
    if (lead == 0xED) return b >= 0x80 && b <= 0x9F;
    if (lead == 0xF0) return b >= 0x90 && b <= 0xBF;
    if (lead == 0xF4) return b >= 0x80 && b <= 0x8F;
    return b >= 0x80 && b <= 0xBF;
}

// Decodes one code point at data[*pos]; malformed input yields U+FFFD and
// consumes its maximal valid prefix (at least one byte).
uint32_t decodeOne(const unsigned char* data, size_t size, size_t* pos) {
    unsigned char lead = data[*pos];
    int len = sequenceLength(lead);
    *pos += 1;
    if (len == 1) return lead;
    if (len == 0) return kReplacement;
    uint32_t cp = lead & (0xFF >> (len + 1));
    for (int i = 1; i < len; ++i) {
        if (*pos >= size) return kReplacement;
        unsigned char b = data[*pos];
        bool fits = (i == 1) ? secondByteFits(lead, b) : (b >= 0x80 && b <= 0xBF);
        if (!fits) return kReplacement;
        cp = (cp << 6) | (b & 0x3F);
        *pos += 1;
    }
    return cp;
}

}  // namespace

long utf8ToUtf16(const char* data, size_t size, wchar_t* out, size_t outUnits) {
    if (outUnits == 0) return -1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    size_t pos = 0, n = 0;
    while (pos < size) {
        uint32_t cp = decodeOne(bytes, size, &pos);
        size_t need = cp >= 0x10000 ? 2 : 1;
        if (n + need > outUnits - 1) {
            out[n] = 0;
            return -1;
        }
        if (need == 2) {
            cp -= 0x10000;
            out[n++] = static_cast<wchar_t>(0xD800 + (cp >> 10));
            out[n++] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = static_cast<wchar_t>(cp);
        }
    }
    out[n] = 0;
    return static_cast<long>(n);
}

bool isWellFormedUtf8(const char* data, size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    size_t pos = 0;
    while (pos < size) {
        const size_t start = pos;
        // A replacement character is malformed input unless it was spelled out.
        if (decodeOne(bytes, size, &pos) == kReplacement &&
            !(pos - start == 3 && bytes[start] == 0xEF && bytes[start + 1] == 0xBF && bytes[start + 2] == 0xBD))
            return false;
    }
    return true;
}

void appendUtf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
        return;
    }
    const int tail = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out->push_back(static_cast<char>(kLead[tail] | (cp >> (6 * tail))));
    for (int i = tail - 1; i >= 0; --i) out->push_back(static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F)));
}
