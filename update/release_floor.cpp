#include "update/release_floor.h"

#include "update/exact_fields.h"
#include "update/signing_formats.h"

namespace {

bool keyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=';
}

bool readLine(std::string_view line, ReleaseFloor* out) {
    if (line.size() < kSigningBase64Chars + 2 || line[kSigningBase64Chars] != ' ') return false;
    for (size_t i = 0; i < kSigningBase64Chars; ++i)
        if (!keyCharacter(line[i])) return false;
    const size_t space = line.rfind(' ');
    if (space <= kSigningBase64Chars + 1) return false;
    size_t pos = space + 1;
    int64_t version = 0;
    if (!takeWholeNumber(line, &pos, 1, INT32_MAX, &version) || pos != line.size()) return false;
    out->key.assign(line.substr(0, kSigningBase64Chars));
    out->host.assign(line.substr(kSigningBase64Chars + 1, space - kSigningBase64Chars - 1));
    out->version = static_cast<int32_t>(version);
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
    for (const ReleaseFloor& f : floors) text += f.key + " " + f.host + " " + std::to_string(f.version) + "\n";
    return text;
}

int32_t floorFor(const std::vector<ReleaseFloor>& floors, std::string_view key, std::string_view host) {
    for (const ReleaseFloor& f : floors)
        if (f.key == key && f.host == host) return f.version;
    return 0;
}

bool raiseFloor(std::vector<ReleaseFloor>* floors, std::string_view key, std::string_view host, int32_t version) {
    for (ReleaseFloor& f : *floors) {
        if (f.key != key || f.host != host) continue;
        if (f.version >= version) return false;
        f.version = version;
        return true;
    }
    if (floors->size() >= kReleaseFloorLines) floors->erase(floors->begin());
    floors->push_back({std::string(key), std::string(host), version});
    return true;
}
