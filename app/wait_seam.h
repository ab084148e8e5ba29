// Every pause of seconds in the launcher (retries, polls, the game monitor's
// window) goes through here, so tests can run them fast. The product's
// constants stay as they are; tests divide the real sleep and can read back
// how long the code asked to wait.
#pragma once

#include <atomic>
#include <cstdint>

struct WaitSeam {
    std::atomic<uint32_t> divisor{1};        // 1 in the product
    std::atomic<uint64_t> requestedMs{0};    // total asked for, for tests
};
extern WaitSeam gWaitSeam;

void waitMs(uint32_t ms);
