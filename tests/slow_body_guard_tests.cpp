// The slow-retrieval rule on a made-up clock: fewer than 16,384 bytes in any
// 60 s span fails; real lines, however slow, stay far above it.
#include <doctest/doctest.h>

#include <vector>

#include "net/slow_body_guard.h"

namespace {

struct Arrival {
    uint64_t ms;
    uint64_t bytes;
};

// The time of the arrival at which the guard gives up, or 0 when it never does.
uint64_t failsAt(const std::vector<Arrival>& arrivals) {
    SlowBodyGuard guard;
    startSlowBodyGuard(guard, 1000, kSlowBodySpanMs, kSlowBodyMinBytes);
    for (const Arrival& a : arrivals)
        if (!slowBodyGuardAllows(guard, 1000 + a.ms, a.bytes)) return a.ms;
    return 0;
}

std::vector<Arrival> steady(uint64_t everyMs, uint64_t bytes, uint64_t untilMs, uint64_t fromMs = 0) {
    std::vector<Arrival> out;
    for (uint64_t t = fromMs + everyMs; t <= untilMs; t += everyMs) out.push_back({t, bytes});
    return out;
}

}  // namespace

TEST_CASE("a byte every 20 s fails at the first arrival after a minute") {
    CHECK(failsAt(steady(20000, 1, 600000)) == 60000);
}

TEST_CASE("slow but honest lines are never cut off") {
    CHECK(failsAt(steady(1000, 300, 3600000)) == 0);      // 300 B/s for an hour: 18,000 bytes a minute
    CHECK(failsAt(steady(7, 65536, 60000)) == 0);          // a fast line, many arrivals per span/64
    CHECK(failsAt(steady(59000, 16384, 600000)) == 0);     // one block just inside every span
}

TEST_CASE("fast at first, then a trickle: fails once a span holds only the trickle") {
    auto arrivals = steady(100, 65536, 10000);              // 6.5 MB in 10 s
    auto trickle = steady(5000, 100, 300000, 10000);        // then 100 bytes every 5 s
    arrivals.insert(arrivals.end(), trickle.begin(), trickle.end());
    uint64_t at = failsAt(arrivals);
    // The span (10 s, 70 s) is the first to hold only the trickle; coalescing
    // may book a little of the fast part late, never the other way round.
    CHECK(at >= 70000);
    CHECK(at <= 71000);
}

TEST_CASE("a span that brought 16,383 bytes fails; 16,384 passes") {
    CHECK(failsAt({{59000, 16383}, {120000, 100000}}) == 120000);
    CHECK(failsAt({{30000, 16384}, {89000, 16384}, {120000, 100000}}) == 0);
}

TEST_CASE("the span is the caller's: tests divide it like the waits") {
    SlowBodyGuard guard;
    startSlowBodyGuard(guard, 0, 1000, kSlowBodyMinBytes);
    CHECK(slowBodyGuardAllows(guard, 999, 10));
    CHECK_FALSE(slowBodyGuardAllows(guard, 1000, 10));
    CHECK(kSlowBodySpanMs == 60000);
    CHECK(kSlowBodyMinBytes == 16384);
}
