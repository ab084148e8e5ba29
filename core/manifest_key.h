// The game's public key that signed manifests must verify against, as
// start-up settled it: none (unsigned servers keep working), a valid P-256
// point, or a malformed setting that must never fall back to unsigned.
// Pure: no <windows.h>.
#pragma once

#include <cstdint>

enum ManifestKeyState : int32_t {
    kNoManifestKey = 0,
    kManifestKeyValid = 1,
    kManifestKeyMalformed = 2,
};

struct ManifestKey {
    int32_t state = kNoManifestKey;
    uint8_t xy[64] = {};  // X then Y, big-endian, 32 bytes each; valid only in kManifestKeyValid
};
