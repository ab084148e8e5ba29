#include "update/launcher_offer.h"

#include <string_view>

#include "update/exact_fields.h"

bool readLauncherOffer(const char* data, size_t size, LauncherOffer* out) {
    if (size > kLauncherOfferLimit) return false;
    const std::string_view body(data, size);
    size_t pos = 0;
    int64_t version = 0, length = 0;
    LauncherOffer offer;
    if (!takeLiteral(body, &pos, "{\"version\": ") || !takeWholeNumber(body, &pos, 1, INT32_MAX, &version) ||
        !takeLiteral(body, &pos, ", \"size\": ") || !takeWholeNumber(body, &pos, 1, kLauncherExeLimit, &length) ||
        !takeLiteral(body, &pos, ", \"sha256\": \"") || !takeLowerHex(body, &pos, offer.sha256, 32) ||
        !takeLiteral(body, &pos, "\"}"))
        return false;
    const std::string_view rest = body.substr(pos);
    if (!rest.empty() && rest != "\n" && rest != "\r\n") return false;
    offer.version = static_cast<int32_t>(version);
    offer.size = length;
    *out = offer;
    return true;
}
