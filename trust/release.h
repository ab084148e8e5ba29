// The release document, "/launcher/release": the one small document a
// publish changes in place. Everything else it names by hash and size, as
// an object that never changes ("/launcher/o/<hex>"), so a cache or a CDN
// can never pair a new document with old bytes. UTF-8, each line ending in
// one LF, exactly these lines in this order:
//   tvl-release 1
//   host <the server host, lowercase>
//   version <1 to 2147483647>
//   expires <UTC seconds since 1970>
//   manifest <sha256 hex> <size>
//   notes <sha256 hex> <size>
//   banner <sha256 hex> <size>                (optional)
//   launcher <version> <sha256 hex> <size>    (optional)
//   mirror <https://host[:port][/path]>       (format 2 only, 0 to 8 of them)
//   sig <base64 of r||s, 88 characters>
// Format 1 ("tvl-release 1") is "/launcher/release", what every launcher
// reads. Format 2 ("tvl-release 2") adds the mirrors and is kept beside it
// as "/launcher/release2"; launchers before it never ask for it.
// The signature is ECDSA P-256 over the SHA-256 of every byte before the
// sig line. Numbers have one spelling; anything else is malformed. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "trust/signing_formats.h"

constexpr size_t kReleaseLimit = 4096;       // far above the longest release
constexpr size_t kReleaseHostLimit = 127;    // what the server= host holds
constexpr int64_t kReleaseObjectLimit = 64LL * 1024 * 1024;
constexpr int64_t kLatestExpiry = 253402300799;  // 9999-12-31 23:59:59 UTC

struct ObjectRef {
    uint8_t sha256[32] = {};
    int64_t size = 0;  // 0 to kReleaseObjectLimit
};

struct Release {
    int format = 1;    // 1 or 2
    std::string host;  // lowercase letters, digits, '.', '-' and ':'
    int32_t version = 0;
    int64_t expires = 0;
    ObjectRef manifest;
    ObjectRef notes;
    bool hasBanner = false;
    ObjectRef banner;
    bool hasLauncher = false;
    int32_t launcherVersion = 0;
    ObjectRef launcher;
    std::vector<std::string> mirrors;  // format 2: each as readSourceBase reads it
    size_t signedSize = 0;  // the bytes before the sig line: what the signature covers
    ManifestSignature signature;
};

// The document exactly as the publish tool writes it, or false.
bool readRelease(const char* data, size_t size, Release* out);

// The same release apart from its format and mirrors: every field a
// launcher acts on is equal. A format 2 release adds its mirrors to the
// format 1 release it matches, and to nothing else.
bool sameRelease(const Release& a, const Release& b);

// What a release that reads well may still be refused for. The signature
// is checked apart (through CNG); these are the rules around it.
enum ReleaseVerdict {
    kReleaseUsable,
    kReleaseOtherHost,  // made for another server
    kReleaseExpired,    // `expires` is not after `now`
    kReleaseRollback,   // lower than the version accepted before under this key and host
};
// `host` is the server= host; case does not matter. A release expires at
// its second: one with expires == now is expired. floor 0 means none.
ReleaseVerdict judgeRelease(const Release& release, std::string_view host, int64_t now, int32_t floor,
                            bool checkExpiry);

// "/launcher/o/<64 lowercase hex>", the address of an object.
std::string objectAddress(const uint8_t sha256[32]);

// "YYYY-MM-DD" of UTC seconds since 1970 (0 to kLatestExpiry).
std::string utcDate(int64_t seconds);

// The notes object as the window shows notes: UTF-8 (malformed sequences
// become U+FFFD) with each LF as CR LF, as the info's "\n" escapes give.
std::wstring releaseNotesText(const char* data, size_t size);
