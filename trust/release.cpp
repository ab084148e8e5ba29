#include "trust/release.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "core/text_utf8.h"
#include "net/sources.h"
#include "trust/exact_fields.h"

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

bool takeFormat(std::string_view text, size_t* pos, int* format) {
    if (takeLiteral(text, pos, "tvl-release 1")) return true;
    if (!takeLiteral(text, pos, "tvl-release 2")) return false;
    *format = 2;
    return true;
}

bool takeHeader(std::string_view text, size_t* pos, Release* r) {
    int64_t version = 0;
    const bool ok = takeFormat(text, pos, &r->format) && takeLiteral(text, pos, "\nhost ") && takeHost(text, pos, &r->host) &&
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

// "mirror <address>\n" lines, format 2 only, each address well formed.
bool takeMirrorLines(std::string_view text, size_t* pos, Release* r) {
    while (r->format == 2 && takeLiteral(text, pos, "mirror ")) {
        const size_t end = text.find('\n', *pos);
        SourceBase base;
        if (end == std::string_view::npos || r->mirrors.size() >= kMostMirrors ||
            !readSourceBase(text.substr(*pos, end - *pos), &base))
            return false;
        r->mirrors.emplace_back(text.substr(*pos, end - *pos));
        *pos = end + 1;
    }
    return true;
}

bool sameObject(const ObjectRef& a, const ObjectRef& b) {
    return a.size == b.size && std::equal(a.sha256, a.sha256 + 32, b.sha256);
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
    if (!takeMirrorLines(text, &pos, &r)) return false;
    r.signedSize = pos;
    // "sig " and exactly 88 characters and one LF: nothing may follow.
    if (!takeLiteral(text, &pos, "sig ") || size - pos != kSigningBase64Chars + 1 || text.back() != '\n' ||
        !decodeManifestSignature(data + pos, kSigningBase64Chars, &r.signature))
        return false;
    *out = r;
    return true;
}

bool sameRelease(const Release& a, const Release& b) {
    return a.host == b.host && a.version == b.version && a.expires == b.expires && sameObject(a.manifest, b.manifest) &&
           sameObject(a.notes, b.notes) && a.hasBanner == b.hasBanner && (!a.hasBanner || sameObject(a.banner, b.banner)) &&
           a.hasLauncher == b.hasLauncher &&
           (!a.hasLauncher || (a.launcherVersion == b.launcherVersion && sameObject(a.launcher, b.launcher)));
}

ReleaseVerdict judgeRelease(const Release& release, std::string_view host, int64_t now, int32_t floor,
                            bool checkExpiry) {
    bool sameHost = host.size() == release.host.size();
    for (size_t i = 0; sameHost && i < host.size(); ++i) {
        char c = host[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        sameHost = c == release.host[i];
    }
    if (!sameHost) return kReleaseOtherHost;
    if (checkExpiry && release.expires <= now) return kReleaseExpired;
    if (release.version < floor) return kReleaseRollback;
    return kReleaseUsable;
}

std::string objectAddress(const uint8_t sha256[32]) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "/launcher/o/";
    for (int i = 0; i < 32; ++i) {
        out.push_back(kHex[sha256[i] >> 4]);
        out.push_back(kHex[sha256[i] & 15]);
    }
    return out;
}

// Days since 1970 to a civil date (Howard Hinnant's algorithm).
std::string utcDate(int64_t seconds) {
    const int64_t days = seconds / 86400 + 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(year), static_cast<int>(month),
                  static_cast<int>(day));
    return text;
}

std::wstring releaseNotesText(const char* data, size_t size) {
    std::wstring units(size + 1, L'\0');  // UTF-8 never needs more units than bytes
    const long n = utf8ToUtf16(data, size, units.data(), units.size());
    std::wstring out;
    out.reserve(static_cast<size_t>(n > 0 ? n : 0) + 64);
    for (long i = 0; i < n; ++i) {
        if (units[i] == L'\n') out.push_back(L'\r');
        out.push_back(units[i]);
    }
    return out;
}
