// SHA-1 with the x86 SHA extensions, which AMD has had since Zen (the Steam
// Deck's too) and Intel since Ice Lake: several times what CNG gives under
// Wine. Every file the launcher verifies goes through SHA-1, a multi-GB pak
// after each patch, so this is what a player waits for. Where the CPU lacks
// them, Sha1Hash keeps CNG. Pure (no <windows.h>).
#pragma once

#include <cstddef>
#include <cstdint>

// Does this CPU have the SHA extensions (and SSE4.1)?
bool sha1Accelerated();

// A SHA-1 fed piece by piece; only where sha1Accelerated().
class Sha1Stream {
public:
    void add(const void* data, size_t size);
    void finish(uint8_t digest[20]);

private:
    uint32_t state_[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    uint8_t pending_[64] = {};
    size_t pendingSize_ = 0;
    uint64_t length_ = 0;
};
