#include "update/launcher_offer.h"

#include <string_view>

#include "core/decimal_scan.h"

namespace {

// The literal `text` at *pos; advances past it.
bool take(std::string_view body, size_t* pos, std::string_view text) {
    if (body.substr(*pos, text.size()) != text) return false;
    *pos += text.size();
    return true;
}

// Digits only, no sign or blank, no leading zero, within [1, largest].
bool takeNumber(std::string_view body, size_t* pos, int64_t largest, int64_t* value) {
    const size_t start = *pos;
    if (start >= body.size() || body[start] < '1' || body[start] > '9') return false;
    size_t p = start;
    return scanInt64(body.data(), body.size(), &p, value) && *value <= largest && (*pos = p, true);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // one spelling per hash: lowercase
}

bool takeHash(std::string_view body, size_t* pos, uint8_t out[32]) {
    if (body.size() - *pos < 64) return false;
    for (int i = 0; i < 32; ++i) {
        const int high = hexDigit(body[*pos + 2 * i]), low = hexDigit(body[*pos + 2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<uint8_t>(high * 16 + low);
    }
    *pos += 64;
    return true;
}

}  // namespace

bool readLauncherOffer(const char* data, size_t size, LauncherOffer* out) {
    if (size > kLauncherOfferLimit) return false;
    const std::string_view body(data, size);
    size_t pos = 0;
    int64_t version = 0, length = 0;
    LauncherOffer offer;
    if (!take(body, &pos, "{\"version\": ") || !takeNumber(body, &pos, INT32_MAX, &version) ||
        !take(body, &pos, ", \"size\": ") || !takeNumber(body, &pos, kLauncherExeLimit, &length) ||
        !take(body, &pos, ", \"sha256\": \"") || !takeHash(body, &pos, offer.sha256) || !take(body, &pos, "\"}"))
        return false;
    const std::string_view rest = body.substr(pos);
    if (!rest.empty() && rest != "\n" && rest != "\r\n") return false;
    offer.version = static_cast<int32_t>(version);
    offer.size = length;
    *out = offer;
    return true;
}
