// The fixed text formats of signed manifests, so that any tool can sign:
//  - the key: standard base64 with padding of X||Y (64 bytes), 88 characters;
//  - the signature (body of /launcher/manifest.sig): standard base64 of the
//    raw r||s (64 bytes), optionally followed by one line end.
// Decoding is strict: one spelling per value, a key must be a point of
// P-256 and a signature's r and s must lie in [1, n-1].
// Pure: no <windows.h>; never reads past `size`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/manifest_key.h"

constexpr size_t kSigningBase64Chars = 88;
constexpr size_t kSignatureBodyLimit = 4096;  // far above 88 + CRLF; a longer body is not a signature

struct ManifestSignature {
    uint8_t rs[64];
};

// Strict standard base64 (with padding, no white space, zero pad bits) of
// exactly outSize bytes. False for anything else.
bool decodeBase64Exact(const char* text, size_t size, uint8_t* out, size_t outSize);
std::string encodeBase64(const uint8_t* data, size_t size);

// Is (X, Y) a point of the curve P-256 (both coordinates below p)?
bool isP256Point(const uint8_t xy[64]);

// The 88-character key text. A valid point, else false.
bool decodeManifestKey(const char* text, size_t size, uint8_t xy[64]);

// A .sig body: 88 characters, then nothing, "\n" or "\r\n".
bool decodeManifestSignature(const char* body, size_t size, ManifestSignature* signature);

// The key the launcher uses: the compiled-in key when it is not empty, else
// the ini's "manifest_key=" value when the ini has one (iniKey non-null),
// else none. A malformed key, from either place, stays malformed: it never
// falls back to the other one or to unsigned. With a built-in key, an ini
// key must be that same key (see keysConflict): otherwise malformed too, so
// a "config fix" handed to players can never bring someone else's key.
ManifestKey chooseManifestKey(const std::string* iniKey, const char* builtInKey);

// A built-in key and an ini key line that is not the same key.
bool keysConflict(const std::string* iniKey, const char* builtInKey);
