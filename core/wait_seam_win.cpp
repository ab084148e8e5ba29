#include <windows.h>

#include "core/wait_seam.h"

WaitSeam gWaitSeam;

void waitMs(uint32_t ms) {
    gWaitSeam.requestedMs += ms;
    uint32_t divisor = gWaitSeam.divisor.load();
    ::Sleep(ms / (divisor ? divisor : 1));
}

uint32_t scaledSpanMs(uint32_t ms) {
    uint32_t divisor = gWaitSeam.divisor.load();
    uint32_t scaled = ms / (divisor ? divisor : 1);
    return scaled < kShortestSpanMs && ms >= kShortestSpanMs ? kShortestSpanMs : scaled;
}
