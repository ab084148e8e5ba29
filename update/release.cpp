#include "update/release.h"

#include <string_view>

#include "update/exact_fields.h"

namespace {

bool takeObject(std::string_view text, size_t* pos, ObjectRef* object) {
    return takeLowerHex(text, pos, object->sha256, 32) && takeLiteral(text, pos, " ") &&
           takeWholeNumber(text, pos, 0, kReleaseObjectLimit, &object->size);
}

// "<name> <sha256> <size>\n", the object lines.
bool takeObjectLine(std::string_view text, size_t* pos, std::string_view name, ObjectRef* object) {
    size_t p = *pos;
    if (!takeLiteral(text, &p, name) || !takeLiteral(text, &p, " ") || !takeObject(text, &p, object) ||
        !takeLiteral(text, &p, "\n"))
        return false;
    *pos = p;
    return true;
}

bool hostCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':'; }

bool takeHost(std::string_view text, size_t* pos, std::string* host) {
    size_t end = *pos;
    while (end < text.size() && hostCharacter(text[end])) ++end;
    if (end == *pos || end - *pos > kReleaseHostLimit) return false;
    host->assign(text.substr(*pos, end - *pos));
    *pos = end;
    return true;
}

bool takeHeader(std::string_view text, size_t* pos, Release* r) {
    int64_t version = 0;
    const bool ok = takeLiteral(text, pos, "tvl-release 1\nhost ") && takeHost(text, pos, &r->host) &&
                    takeLiteral(text, pos, "\nversion ") && takeWholeNumber(text, pos, 1, INT32_MAX, &version) &&
                    takeLiteral(text, pos, "\nexpires ") && takeWholeNumber(text, pos, 1, kLatestExpiry, &r->expires) &&
                    takeLiteral(text, pos, "\n");
    r->version = static_cast<int32_t>(version);
    return ok;
}

bool takeLauncherLine(std::string_view text, size_t* pos, Release* r) {
    size_t p = *pos;
    int64_t version = 0;
    if (!takeLiteral(text, &p, "launcher ") || !takeWholeNumber(text, &p, 1, INT32_MAX, &version) ||
        !takeLiteral(text, &p, " ") || !takeObject(text, &p, &r->launcher) || !takeLiteral(text, &p, "\n"))
        return false;
    r->launcherVersion = static_cast<int32_t>(version);
    r->hasLauncher = true;
    *pos = p;
    return true;
}

}  // namespace

bool readRelease(const char* data, size_t size, Release* out) {
    if (size > kReleaseLimit) return false;
    const std::string_view text(data, size);
    size_t pos = 0;
    Release r;
    if (!takeHeader(text, &pos, &r) || !takeObjectLine(text, &pos, "manifest", &r.manifest) ||
        !takeObjectLine(text, &pos, "notes", &r.notes))
        return false;
    r.hasBanner = takeObjectLine(text, &pos, "banner", &r.banner);
    takeLauncherLine(text, &pos, &r);
    r.signedSize = pos;
    // "sig " and exactly 88 characters and one LF: nothing may follow.
    if (!takeLiteral(text, &pos, "sig ") || size - pos != kSigningBase64Chars + 1 || text.back() != '\n' ||
        !decodeManifestSignature(data + pos, kSigningBase64Chars, &r.signature))
        return false;
    *out = r;
    return true;
}
