// The two records that describe game files: one file of the server's
// manifest, and one row of the verification cache. Pure: no <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A patch the site offers for a file: its zst form made against the file
// of SHA-1 `from` ("<sha1>-<from>.zst", and "<sha1>-<from>.frames" for a
// file of several frames), named by SHA-256 like the file's own form.
struct PatchOffer {
    char from[41];
    int64_t size;
    char sha256[65];
    char framesSha256[65];  // empty: none named
};

struct ManifestEntry {
    char path[400];  // UTF-8, "/" separators, at most 399 bytes
    int64_t size;
    char sha1[41];  // expected as 40 lowercase hex digits
    int32_t needsUpdate;
    char mapSha256[65];  // the SHA-256 of its block map as 64 lowercase hex digits, or empty: none named
    char fineSha256[65];  // the same of its fine map
    // Its zst form: the SHA-256 and size of "<sha1>.zst" (empty and 0: none),
    // and the SHA-256 of its frame table "<sha1>.frames" (empty: none named).
    char zstSha256[65];
    int64_t zstSize;
    char framesSha256[65];
    std::vector<PatchOffer> patches;
    // The size and last-write time the file had when it was judged current
    // (hashed, matched to a cache row, or moved into place). A cache row is
    // written only while the file still has them: a file rewritten after its
    // check must be hashed again, not vouched for.
    int32_t judgedFactsKnown;
    int64_t judgedSize;
    int64_t judgedMtime;
    // An outdated file's installed copy as the check knew it: its SHA-1
    // (from a cache row matching its size and time, or hashed) and those
    // facts; empty when unknown. A patch from that version applies to it.
    char installedSha1[41];
    int64_t installedSize;
    int64_t installedMtime;
};

struct FileCacheEntry {
    std::string path;  // the manifest's path, byte for byte (at most 399 bytes)
    int64_t size;
    int64_t mtime;   // FILETIME as one 64-bit count
    char sha1[41];   // lowercase hex
};
