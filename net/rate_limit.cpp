#include "net/rate_limit.h"

uint32_t rateLimitDelayMs(RateLimit& limit, int64_t bytes, uint64_t nowMs) {
    if (limit.bytesPerSecond <= 0) return 0;
    const double rate = static_cast<double>(limit.bytesPerSecond);
    if (!limit.started) {
        limit.started = true;
        limit.lastMs = nowMs;
        limit.tokens = 0;
    }
    const double capacity = rate / 8;
    limit.tokens += static_cast<double>(nowMs - limit.lastMs) * rate / 1000.0;
    if (limit.tokens > capacity) limit.tokens = capacity;
    limit.lastMs = nowMs;
    limit.tokens -= static_cast<double>(bytes);
    if (limit.tokens >= 0) return 0;
    const double ms = -limit.tokens * 1000.0 / rate;
    return ms > 60000 ? 60000u : static_cast<uint32_t>(ms + 0.5);
}
