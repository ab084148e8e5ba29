// Byte ranges of one object as requests ask for them: neighbours joined
// where the gap costs less than another request, long ones cut into
// segments several connections can share; and which hosts serve one range
// per request, remembered for a day. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ByteRange {
    int64_t first = 0, last = 0;  // inclusive, as HTTP has them
};

// Ranges (in order, not overlapping) with every gap of at most `gap` bytes
// filled: the gap's bytes then come over the network, but a request costs
// a round trip and its headers.
std::vector<ByteRange> joinNeighbours(const std::vector<ByteRange>& ranges, int64_t gap);

// Each range cut into pieces of at most `segment` bytes, in order.
std::vector<ByteRange> cutSegments(const std::vector<ByteRange>& ranges, int64_t segment);

// "host seconds" lines: a host that answered several ranges in one request
// with anything but multipart, and when (Unix seconds). What is older than
// a day, from the future, or malformed is dropped, as are hosts longer than
// 255 characters or with characters no host name has. At most 64 hosts.
constexpr int64_t kRangeMemorySeconds = 24 * 60 * 60;
constexpr size_t kRangeMemoryHosts = 64;
struct RangeHost {
    std::string host;  // as configured, in ASCII
    int64_t learned = 0;
};
// Does an answer to a request of several ranges say that its host serves
// one range per request? A 200 (the whole file), a 206 of one part or of a
// malformed multipart body, a 416 or a 501 do. A 5xx, another 4xx or a
// connection that broke say nothing about ranges and are never learnt from.
bool answerRefusesSeveralRanges(uint32_t status, bool wellFormedMultipart);

std::vector<RangeHost> readRangeHosts(const char* data, size_t size, int64_t now);
std::string formatRangeHosts(const std::vector<RangeHost>& hosts);
