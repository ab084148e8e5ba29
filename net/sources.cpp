#include "net/sources.h"

#include <algorithm>

namespace {

bool hostCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

bool segmentCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// ":<1 to 65535>", no leading zero.
bool takePort(std::string_view text, size_t* pos, uint16_t* port) {
    size_t p = *pos + 1, value = 0;
    const size_t start = p;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9' && p - start < 5)
        value = value * 10 + static_cast<size_t>(text[p++] - '0');
    if (p == start || text[start] == '0' || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    *pos = p;
    return true;
}

bool pathSound(std::string_view path) {
    size_t start = 0;
    while (start < path.size()) {
        if (path[start] != '/') return false;
        size_t end = start + 1;
        while (end < path.size() && segmentCharacter(path[end])) ++end;
        const std::string_view segment = path.substr(start + 1, end - start - 1);
        if (segment.empty() || segment == "." || segment == "..") return false;
        start = end;
    }
    return true;
}

bool has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

bool readSourceBase(std::string_view text, SourceBase* out) {
    constexpr std::string_view kScheme = "https://";
    if (text.size() > kMirrorAddressLimit || text.substr(0, kScheme.size()) != kScheme) return false;
    size_t pos = kScheme.size();
    const size_t hostStart = pos;
    while (pos < text.size() && hostCharacter(text[pos])) ++pos;
    SourceBase base;
    base.host.assign(text.substr(hostStart, pos - hostStart));
    if (base.host.empty() || base.host.front() == '.' || base.host.front() == '-' || base.host.back() == '.' ||
        base.host.find("..") != std::string::npos)
        return false;
    if (pos < text.size() && text[pos] == ':' && !takePort(text, &pos, &base.port)) return false;
    base.prefix.assign(text.substr(pos));
    if (!pathSound(base.prefix)) return false;
    *out = base;
    return true;
}

int chooseSource(const std::vector<SourceState>& sources, const std::string& object, uint64_t nowMs,
                 const std::vector<int>& tried) {
    int soonest = -1;
    for (int i = 0; i < static_cast<int>(sources.size()); ++i) {
        const SourceState& s = sources[static_cast<size_t>(i)];
        if (has(s.passedOver, object) || std::find(tried.begin(), tried.end(), i) != tried.end()) continue;
        if (s.asideUntilMs <= nowMs) return i;
        if (soonest < 0 || s.asideUntilMs < sources[static_cast<size_t>(soonest)].asideUntilMs) soonest = i;
    }
    return soonest;
}

void noteSourceFault(std::vector<SourceState>& sources, int index, const std::string& object, SourceFault fault,
                     uint64_t nowMs) {
    if (index < 0 || static_cast<size_t>(index) >= sources.size()) return;
    SourceState& s = sources[static_cast<size_t>(index)];
    if (fault == kFaultNetwork) s.asideUntilMs = nowMs + kSourceAsideMs;
    // A long run keeps at most this many per source; the oldest go first.
    constexpr size_t kMostPassedOver = 4096;
    if ((fault == kFaultMissing || fault == kFaultWrong) && !has(s.passedOver, object)) {
        if (s.passedOver.size() >= kMostPassedOver) s.passedOver.erase(s.passedOver.begin());
        s.passedOver.push_back(object);
    }
}

bool farBelow(RateSpan& span, uint64_t nowMs, int64_t got, int64_t otherRate) {
    if (span.startMs == 0) span.startMs = nowMs;
    span.bytes += got;
    const uint64_t elapsed = nowMs - span.startMs;
    if (elapsed < kRateSpanMs) return false;
    // bytes / elapsed < otherRate / kRateShare, without division.
    const bool slow = otherRate > 0 && span.bytes * 1000 * kRateShare < otherRate * static_cast<int64_t>(elapsed);
    span = RateSpan{nowMs, 0};
    return slow;
}
