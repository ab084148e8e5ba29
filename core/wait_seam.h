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

// waitMs that ends early, within 100 ms, once `flag` is no longer 0.
void waitMsUnless(uint32_t ms, const std::atomic<int32_t>& flag);

// A span that is not slept but measured (the slow-retrieval span), divided
// as the waits are, but never below 1 s: a test on a busy machine must not
// take a pause of the scheduler for a slow server.
constexpr uint32_t kShortestSpanMs = 1000;
uint32_t scaledSpanMs(uint32_t ms);
