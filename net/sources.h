// Where objects come from: the configured host first, then the mirrors the
// release names, in its order. Objects are named by their hash, so any copy
// of the site can serve them and a wrong byte is caught before it is used.
// Pure: the mirror address grammar, and which source to ask next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t kMostMirrors = 8;
constexpr size_t kMirrorAddressLimit = 200;

// "https://host[:port][/path]": a lowercase host name or IPv4 address, a
// port of 1 to 65535 without a leading zero, and path segments of letters,
// digits and "-._~" (never "." or ".."), with no trailing slash. Nothing
// else: no user, query, fragment or escapes, so no mirror can name
// anything but a folder on a host.
struct SourceBase {
    std::string host;
    uint16_t port = 443;
    std::string prefix;  // "" or "/path", put before "/launcher/o/..."
};
bool readSourceBase(std::string_view text, SourceBase* out);

// Why a source was left for an object.
enum SourceFault {
    kFaultNone,
    kFaultNetwork,  // no connection, a time-out, a 5xx, a body cut or stalled: the source is set aside
    kFaultMissing,  // a 4xx for an object the release names: passed over for that object
    kFaultWrong,    // bytes that fail their hash or size: passed over for that object
};

// A source that failed is set aside this long, then asked again.
constexpr uint64_t kSourceAsideMs = 60000;

struct SourceState {
    uint64_t asideUntilMs = 0;
    int64_t bestRate = 0;  // bytes per second of its fastest verified transfer
    std::vector<std::string> passedOver;  // objects this source lacks or serves wrong
};

// The source to ask for `object`: the first in order that is not set aside,
// has not failed this object, and is not in `tried`. When every source is
// set aside, the one back soonest; -1 only when each has failed this object
// or was tried. `tried` holds the sources already asked for it in this go.
int chooseSource(const std::vector<SourceState>& sources, const std::string& object, uint64_t nowMs,
                 const std::vector<int>& tried);

// Books a fault of source `index` for `object`.
void noteSourceFault(std::vector<SourceState>& sources, int index, const std::string& object, SourceFault fault,
                     uint64_t nowMs);

// A transfer far below the others: over a span of kRateSpanMs it brought
// less than 1/kRateShare of what the fastest other source gave in as long.
// Spans follow one another from the first arrival; a span that kept up
// starts the next.
constexpr uint64_t kRateSpanMs = 10000;
constexpr int64_t kRateShare = 20;
struct RateSpan {
    uint64_t startMs = 0;
    int64_t bytes = 0;
};
// Call with each arrival of `got` bytes (0 is fine). `otherRate` is bytes
// per second, 0 when there is nothing to compare with (never far below).
bool farBelow(RateSpan& span, uint64_t nowMs, int64_t got, int64_t otherRate);
