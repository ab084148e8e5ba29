#include "net/slow_body_guard.h"

namespace {

SlowBodyGuard::Sample& at(SlowBodyGuard& g, size_t i) { return g.samples[(g.first + i) % kSlowBodySamples]; }

// Bytes received by `ms`: the total of the latest sample at or before it.
uint64_t totalBy(SlowBodyGuard& g, uint64_t ms) {
    uint64_t total = 0;
    for (size_t i = 0; i < g.count && at(g, i).ms <= ms; ++i) total = at(g, i).total;
    return total;
}

// Samples that no span ending now or later can start from are dropped.
void dropOld(SlowBodyGuard& g, uint64_t nowMs) {
    while (g.count >= 2 && at(g, 1).ms + g.spanMs <= nowMs) {
        g.first = (g.first + 1) % kSlowBodySamples;
        --g.count;
    }
}

void record(SlowBodyGuard& g, uint64_t nowMs) {
    const uint64_t step = g.spanMs / 64 ? g.spanMs / 64 : 1;
    if (g.count > 0 && (nowMs < at(g, g.count - 1).ms + step || g.count == kSlowBodySamples)) {
        at(g, g.count - 1).total = g.total;
        return;
    }
    at(g, g.count++) = {nowMs, g.total};
}

}  // namespace

void startSlowBodyGuard(SlowBodyGuard& guard, uint64_t nowMs, uint64_t spanMs, uint64_t minBytes) {
    guard.spanMs = spanMs ? spanMs : 1;
    guard.minBytes = minBytes;
    guard.startMs = nowMs;
    guard.total = 0;
    guard.first = 0;
    guard.count = 0;
    record(guard, nowMs);
}

bool slowBodyGuardAllows(SlowBodyGuard& g, uint64_t nowMs, uint64_t got) {
    if (nowMs < g.startMs) nowMs = g.startMs;  // a clock that went back counts as no time
    // The emptiest span so far ends just before this arrival: it holds what
    // came before it, less what had come by its start.
    if (nowMs - g.startMs >= g.spanMs && g.total - totalBy(g, nowMs - g.spanMs) < g.minBytes) return false;
    g.total += got;
    dropOld(g, nowMs);
    record(g, nowMs);
    return true;
}
