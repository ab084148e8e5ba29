#include <windows.h>

#include "core/wait_seam.h"

WaitSeam gWaitSeam;

void waitMs(uint32_t ms) {
    gWaitSeam.requestedMs += ms;
    uint32_t divisor = gWaitSeam.divisor.load();
    ::Sleep(ms / (divisor ? divisor : 1));
}

void waitMsUnless(uint32_t ms, const std::atomic<int32_t>& flag) {
    gWaitSeam.requestedMs += ms;
    const uint32_t divisor = gWaitSeam.divisor.load();
    for (uint32_t left = ms / (divisor ? divisor : 1); left > 0 && flag.load() == 0;) {
        const uint32_t slice = left < 100 ? left : 100;
        ::Sleep(slice);
        left -= slice;
    }
}

uint32_t scaledSpanMs(uint32_t ms) {
    uint32_t divisor = gWaitSeam.divisor.load();
    uint32_t scaled = ms / (divisor ? divisor : 1);
    return scaled < kShortestSpanMs && ms >= kShortestSpanMs ? kShortestSpanMs : scaled;
}
