#include <windows.h>

#include "core/launcher_state.h"
#include "net/rate_limit.h"

namespace {
StateMutex gLimitLock;  // the worker, the image loader and the launcher's own update all read
RateLimit gLimit;
}  // namespace

void throttleNetwork(int64_t bytes) {
    if (gState.speedLimit <= 0) return;  // no lock on the way of an unlimited download
    uint32_t wait = 0;
    {
        LockHolder hold(gLimitLock);
        const int64_t wanted = gState.speedLimit;
        if (wanted != gLimit.bytesPerSecond) gLimit = RateLimit{wanted};
        wait = rateLimitDelayMs(gLimit, bytes, ::GetTickCount64());
    }
    if (wait) ::Sleep(wait);
}
