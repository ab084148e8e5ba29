#include "files/sha1_fast.h"

#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#define TVL_SHA_TARGET
#else
#include <cpuid.h>
#define TVL_SHA_TARGET __attribute__((target("sha,sse4.1")))
#endif
#define TVL_SHA_X86 1
#endif

namespace {

#if TVL_SHA_X86

// Four rounds of group g (0 to 19) with the message words in m (Intel's
// published schedule): e carries E into the rounds, next takes ABCD for the
// group after.
#define TVL_ROUNDS(e, next, f) \
    next = abcd;               \
    abcd = _mm_sha1rnds4_epu32(abcd, e, f)

TVL_SHA_TARGET void compress(uint32_t state[5], const uint8_t* data, size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0), e1;
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdSaved = abcd, eSaved = e0;
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), mask);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), mask);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), mask);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), mask);
        // Rounds 0-15: the words as they stand.
        e0 = _mm_add_epi32(e0, m0);
        TVL_ROUNDS(e0, e1, 0);
        e1 = _mm_sha1nexte_epu32(e1, m1);
        TVL_ROUNDS(e1, e0, 0);
        m0 = _mm_sha1msg1_epu32(m0, m1);
        e0 = _mm_sha1nexte_epu32(e0, m2);
        TVL_ROUNDS(e0, e1, 0);
        m1 = _mm_sha1msg1_epu32(m1, m2);
        m0 = _mm_xor_si128(m0, m2);
        e1 = _mm_sha1nexte_epu32(e1, m3);
        m0 = _mm_sha1msg2_epu32(m0, m3);
        TVL_ROUNDS(e1, e0, 0);
        m2 = _mm_sha1msg1_epu32(m2, m3);
        m1 = _mm_xor_si128(m1, m3);
        // Rounds 16-67: the same step with the words rotating.
#define TVL_STEP(ea, eb, a, b, c, d, f) \
    ea = _mm_sha1nexte_epu32(ea, a);    \
    b = _mm_sha1msg2_epu32(b, a);       \
    TVL_ROUNDS(ea, eb, f);              \
    d = _mm_sha1msg1_epu32(d, a);       \
    c = _mm_xor_si128(c, a)
        TVL_STEP(e0, e1, m0, m1, m2, m3, 0);
        TVL_STEP(e1, e0, m1, m2, m3, m0, 1);
        TVL_STEP(e0, e1, m2, m3, m0, m1, 1);
        TVL_STEP(e1, e0, m3, m0, m1, m2, 1);
        TVL_STEP(e0, e1, m0, m1, m2, m3, 1);
        TVL_STEP(e1, e0, m1, m2, m3, m0, 1);
        TVL_STEP(e0, e1, m2, m3, m0, m1, 2);
        TVL_STEP(e1, e0, m3, m0, m1, m2, 2);
        TVL_STEP(e0, e1, m0, m1, m2, m3, 2);
        TVL_STEP(e1, e0, m1, m2, m3, m0, 2);
        TVL_STEP(e0, e1, m2, m3, m0, m1, 2);
        TVL_STEP(e1, e0, m3, m0, m1, m2, 3);
        TVL_STEP(e0, e1, m0, m1, m2, m3, 3);
#undef TVL_STEP
        // Rounds 68-79: the last words need no further schedule.
        e1 = _mm_sha1nexte_epu32(e1, m1);
        m2 = _mm_sha1msg2_epu32(m2, m1);
        TVL_ROUNDS(e1, e0, 3);
        m3 = _mm_xor_si128(m3, m1);
        e0 = _mm_sha1nexte_epu32(e0, m2);
        m3 = _mm_sha1msg2_epu32(m3, m2);
        TVL_ROUNDS(e0, e1, 3);
        e1 = _mm_sha1nexte_epu32(e1, m3);
        TVL_ROUNDS(e1, e0, 3);
        e0 = _mm_sha1nexte_epu32(e0, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}
#undef TVL_ROUNDS

#else

void compress(uint32_t*, const uint8_t*, size_t) {}

#endif

}  // namespace

bool sha1Accelerated() {
#if TVL_SHA_X86
    int leaf1[4] = {}, leaf7[4] = {};
#if defined(_MSC_VER)
    __cpuid(leaf1, 1);
    __cpuidex(leaf7, 7, 0);
#else
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    leaf1[2] = static_cast<int>(c);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    leaf7[1] = static_cast<int>(b);
#endif
    const bool sse41 = (leaf1[2] >> 19) & 1, ssse3 = (leaf1[2] >> 9) & 1, sha = (leaf7[1] >> 29) & 1;
    return sse41 && ssse3 && sha;
#else
    return false;
#endif
}

void Sha1Stream::add(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    length_ += size;
    if (pendingSize_) {
        const size_t take = size < 64 - pendingSize_ ? size : 64 - pendingSize_;
        std::memcpy(pending_ + pendingSize_, bytes, take);
        pendingSize_ += take;
        bytes += take;
        size -= take;
        if (pendingSize_ < 64) return;
        compress(state_, pending_, 1);
        pendingSize_ = 0;
    }
    compress(state_, bytes, size / 64);
    bytes += size / 64 * 64;
    size %= 64;
    std::memcpy(pending_, bytes, size);
    pendingSize_ = size;
}

void Sha1Stream::finish(uint8_t digest[20]) {
    const uint64_t bits = length_ * 8;
    uint8_t tail[72] = {0x80};
    const size_t padding = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    add(tail, padding + 8);
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<uint8_t>(state_[i] >> (24 - 8 * k));
}
