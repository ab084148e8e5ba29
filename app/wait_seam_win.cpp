#include <windows.h>

#include "app/wait_seam.h"

WaitSeam gWaitSeam;

void waitMs(uint32_t ms) {
    gWaitSeam.requestedMs += ms;
    uint32_t divisor = gWaitSeam.divisor.load();
    ::Sleep(ms / (divisor ? divisor : 1));
}
