// The launcher's offer of a newer build of itself, "/launcher/self":
//   {"version": N, "size": S, "sha256": "<64 hex digits>"}
// It is signed, and only the exact text the publish tool writes is read:
// the canonical form above, with at most one line end after it. Pure.
#pragma once

#include <cstddef>
#include <cstdint>

// A launcher exe larger than this is no launcher (ours is about 1.5 MB).
constexpr int64_t kLauncherExeLimit = 64LL * 1024 * 1024;
constexpr size_t kLauncherOfferLimit = 4096;

struct LauncherOffer {
    int32_t version = 0;  // 1 or more
    int64_t size = 0;     // 1 to kLauncherExeLimit
    uint8_t sha256[32] = {};
};

bool readLauncherOffer(const char* data, size_t size, LauncherOffer* out);
