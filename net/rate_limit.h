// The download speed limit: a token bucket in the download loop, so the
// launcher leaves room on a shared home connection. Pure, with the one
// Windows call that sleeps at the edge.
#pragma once

#include <cstdint>

struct RateLimit {
    int64_t bytesPerSecond = 0;  // 0: no limit
    double tokens = 0;           // what may go now without a wait
    uint64_t lastMs = 0;
    bool started = false;
};

// Takes `bytes` from the bucket at `nowMs`; returns how many milliseconds
// to wait so the rate stays at the limit. The bucket holds at most an
// eighth of a second's worth, so no burst skews the rate over seconds.
uint32_t rateLimitDelayMs(RateLimit& limit, int64_t bytes, uint64_t nowMs);

// The HTTP client calls this for every body byte it reads, on any thread:
// it waits as the limit in gState.speedLimit asks (none when it is 0).
void throttleNetwork(int64_t bytes);
