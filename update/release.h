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
//   sig <base64 of r||s, 88 characters>
// The signature is ECDSA P-256 over the SHA-256 of every byte before the
// sig line. Numbers have one spelling; anything else is malformed. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "update/signing_formats.h"

constexpr size_t kReleaseLimit = 4096;       // far above the longest release
constexpr size_t kReleaseHostLimit = 127;    // what the server= host holds
constexpr int64_t kReleaseObjectLimit = 64LL * 1024 * 1024;
constexpr int64_t kLatestExpiry = 253402300799;  // 9999-12-31 23:59:59 UTC

struct ObjectRef {
    uint8_t sha256[32] = {};
    int64_t size = 0;  // 0 to kReleaseObjectLimit
};

struct Release {
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
    size_t signedSize = 0;  // the bytes before the sig line: what the signature covers
    ManifestSignature signature;
};

// The document exactly as the publish tool writes it, or false.
bool readRelease(const char* data, size_t size, Release* out);
