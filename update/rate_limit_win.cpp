#include <windows.h>

#include "core/launcher_state.h"
#include "update/rate_limit.h"

void throttleNetwork(int64_t bytes) {
    // The download loops run on the worker's thread only.
    static RateLimit limit;
    const int64_t wanted = gState.speedLimit;
    if (wanted != limit.bytesPerSecond) limit = RateLimit{wanted};
    const uint32_t wait = rateLimitDelayMs(limit, bytes, ::GetTickCount64());
    if (wait) ::Sleep(wait);
}
