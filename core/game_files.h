// The two records that describe game files: one file of the server's
// manifest, and one row of the verification cache. Pure: no <windows.h>.
#pragma once

#include <cstdint>

struct ManifestEntry {
    char path[400];  // UTF-8, "/" separators, at most 399 bytes
    int64_t size;
    char sha1[41];  // expected as 40 lowercase hex digits
    int32_t needsUpdate;
    char mapSha256[65];  // the SHA-256 of its block map as 64 lowercase hex digits, or empty: none named
};

struct FileCacheEntry {
    char path[400];  // the manifest's path, byte for byte
    int64_t size;
    int64_t mtime;   // FILETIME as one 64-bit count
    char sha1[41];   // lowercase hex
};
