// The slow-retrieval rule: a response body that brings fewer than 16,384
// bytes in any 60-second span fails. Without it a server that sends one byte
// every 20 s would keep a transfer alive forever, as no single read ever
// reaches the receive time-out. Pure: the caller passes the clock.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kSlowBodySpanMs = 60000;
constexpr uint64_t kSlowBodyMinBytes = 16384;
constexpr size_t kSlowBodySamples = 128;

// Arrivals of a body, kept at most one per span/64: the bytes of arrivals
// closer together are booked at the earlier one's time, so the rule errs
// toward strictness by at most 1/64 of a span.
struct SlowBodyGuard {
    struct Sample {
        uint64_t ms;
        uint64_t total;  // bytes received up to and including this sample
    };
    uint64_t spanMs = kSlowBodySpanMs;
    uint64_t minBytes = kSlowBodyMinBytes;
    uint64_t startMs = 0;
    uint64_t total = 0;
    Sample samples[kSlowBodySamples];
    size_t first = 0, count = 0;  // a ring, oldest at `first`
};

// The body's first byte is awaited from nowMs on.
void startSlowBodyGuard(SlowBodyGuard& guard, uint64_t nowMs, uint64_t spanMs, uint64_t minBytes);

// Call after every read that returned `got` bytes (0 at the end is fine).
// False once some span of spanMs, lying wholly within the body's life up to
// now, brought fewer than minBytes: the transfer must be given up.
bool slowBodyGuardAllows(SlowBodyGuard& guard, uint64_t nowMs, uint64_t got);
