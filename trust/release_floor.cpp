#include "trust/release_floor.h"

#include <algorithm>

#include "trust/exact_fields.h"
#include "trust/signing_formats.h"

namespace {

bool keyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=';
}

bool readLine(std::string_view line, ReleaseFloor* out) {
    if (line.size() < kSigningBase64Chars + 2 || line[kSigningBase64Chars] != ' ') return false;
    for (size_t i = 0; i < kSigningBase64Chars; ++i)
        if (!keyCharacter(line[i])) return false;
    const size_t hostEnd = line.find(' ', kSigningBase64Chars + 1);
    if (hostEnd == std::string_view::npos || hostEnd == kSigningBase64Chars + 1) return false;
    size_t pos = hostEnd + 1;
    int64_t version = 0, launcher = 0;
    if (!takeWholeNumber(line, &pos, 0, INT32_MAX, &version) || !takeLiteral(line, &pos, " ") ||
        !takeWholeNumber(line, &pos, 0, INT32_MAX, &launcher) || pos != line.size())
        return false;
    out->key.assign(line.substr(0, kSigningBase64Chars));
    out->host.assign(line.substr(kSigningBase64Chars + 1, hostEnd - kSigningBase64Chars - 1));
    out->version = static_cast<int32_t>(version);
    out->launcher = static_cast<int32_t>(launcher);
    return out->host.find(' ') == std::string::npos;
}

}  // namespace

std::vector<ReleaseFloor> parseReleaseFloors(const char* data, size_t size) {
    std::vector<ReleaseFloor> floors;
    if (size > kReleaseFloorLimit) return floors;
    const std::string_view text(data, size);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        ReleaseFloor floor;
        if (readLine(text.substr(start, end - start), &floor) && floors.size() < kReleaseFloorLines)
            floors.push_back(std::move(floor));
        start = end + 1;
    }
    return floors;
}

std::string formatReleaseFloors(const std::vector<ReleaseFloor>& floors) {
    std::string text;
    for (const ReleaseFloor& f : floors)
        text += f.key + " " + f.host + " " + std::to_string(f.version) + " " + std::to_string(f.launcher) + "\n";
    return text;
}

ReleaseFloor floorFor(const std::vector<ReleaseFloor>& floors, std::string_view key, std::string_view host) {
    for (const ReleaseFloor& f : floors)
        if (f.key == key && f.host == host) return f;
    return {std::string(key), std::string(host), 0, 0};
}

bool raiseFloor(std::vector<ReleaseFloor>* floors, const ReleaseFloor& raised) {
    for (ReleaseFloor& f : *floors) {
        if (f.key != raised.key || f.host != raised.host) continue;
        if (f.version >= raised.version && f.launcher >= raised.launcher) return false;
        f.version = std::max(f.version, raised.version);
        f.launcher = std::max(f.launcher, raised.launcher);
        return true;
    }
    if (floors->size() >= kReleaseFloorLines) floors->erase(floors->begin());
    floors->push_back(raised);
    return true;
}
