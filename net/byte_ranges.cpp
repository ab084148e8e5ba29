#include "net/byte_ranges.h"

#include "core/decimal_scan.h"

std::vector<ByteRange> joinNeighbours(const std::vector<ByteRange>& ranges, int64_t gap) {
    std::vector<ByteRange> joined;
    for (const ByteRange& r : ranges) {
        if (!joined.empty() && r.first > joined.back().last && r.first - joined.back().last - 1 <= gap)
            joined.back().last = r.last;
        else
            joined.push_back(r);
    }
    return joined;
}

std::vector<ByteRange> cutSegments(const std::vector<ByteRange>& ranges, int64_t segment) {
    std::vector<ByteRange> cut;
    for (const ByteRange& r : ranges)
        for (int64_t at = r.first; at <= r.last; at += segment)
            cut.push_back({at, (r.last - at >= segment) ? at + segment - 1 : r.last});
    return cut;
}

namespace {

bool hostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == ':' || c == '[' || c == ']' || c == '_';
}

bool readLine(const std::string& line, int64_t now, RangeHost* out) {
    const size_t space = line.find(' ');
    if (space == 0 || space == std::string::npos || space > 255) return false;
    for (size_t i = 0; i < space; ++i)
        if (!hostCharacter(line[i])) return false;
    size_t pos = space + 1;
    int64_t at = 0;
    if (pos >= line.size() || line[pos] < '0' || line[pos] > '9') return false;  // no blanks, no sign
    if (!scanInt64(line.data(), line.size(), &pos, &at) || pos != line.size()) return false;
    if (at > now || now - at >= kRangeMemorySeconds) return false;
    *out = {line.substr(0, space), at};
    return true;
}

}  // namespace

std::vector<RangeHost> readRangeHosts(const char* data, size_t size, int64_t now) {
    std::vector<RangeHost> hosts;
    size_t start = 0;
    while (start < size && hosts.size() < kRangeMemoryHosts) {
        size_t end = start;
        while (end < size && data[end] != '\n') ++end;
        std::string line(data + start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        RangeHost host;
        if (readLine(line, now, &host)) hosts.push_back(host);
        start = end + 1;
    }
    return hosts;
}

std::string formatRangeHosts(const std::vector<RangeHost>& hosts) {
    std::string text;
    for (const RangeHost& h : hosts) text += h.host + " " + std::to_string(h.learned) + "\n";
    return text;
}

bool answerRefusesSeveralRanges(uint32_t status, bool wellFormedMultipart) {
    return status == 200 || status == 416 || status == 501 || (status == 206 && !wellFormedMultipart);
}
