#include "core/player_settings.h"

#include "core/decimal_scan.h"
#include "core/text_utf8.h"

namespace {

bool startsWith(const std::string& line, const char* key, std::string* rest) {
    const std::string k(key);
    if (line.compare(0, k.size(), k) != 0) return false;
    *rest = line.substr(k.size());
    return true;
}

bool readLimit(const std::string& text, int32_t* out) {
    size_t pos = 0;
    int64_t value = 0;
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    if (!scanInt64(text.data(), text.size(), &pos, &value) || pos != text.size()) return false;
    if (value < 0 || value > kLargestSpeedLimitMBps) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// "X:\..." or a share, "\\server\share...". "C:Tervalon" names a folder
// relative to that drive's current directory, and "\Games" one on the
// current drive: either would follow wherever the launcher was started.
bool fullFolderPath(const std::string& text) {
    const bool letter = (text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z');
    if (text.size() >= 3 && letter && text[1] == ':' && text[2] == '\\') return true;
    return text.size() >= 3 && text[0] == '\\' && text[1] == '\\' && text[2] != '\\' && text[2] != '?' &&
           text[2] != '.';
}

// A path the launcher wrote: printable, well-formed, of a sane length, full.
bool readFolder(const std::string& text, std::string* out) {
    if (text.empty() || text.size() > kLongestGameFolderBytes || !fullFolderPath(text)) return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    if (!isWellFormedUtf8(text.data(), text.size())) return false;
    *out = text;
    return true;
}

}  // namespace

PlayerSettings readPlayerSettings(const char* data, size_t size) {
    PlayerSettings settings;
    if (!data || size > kPlayerSettingsLimit) return settings;
    size_t start = 0;
    while (start < size) {
        size_t end = start;
        while (end < size && data[end] != '\n') ++end;
        std::string line(data + start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string value;
        if (startsWith(line, "speed_limit=", &value)) readLimit(value, &settings.speedLimitMBps);
        else if (startsWith(line, "game_folder=", &value)) readFolder(value, &settings.gameFolder);
        start = end + 1;
    }
    return settings;
}

std::string playerSettingsText(const PlayerSettings& settings) {
    std::string text = "speed_limit=" + std::to_string(settings.speedLimitMBps) + "\n";
    if (!settings.gameFolder.empty()) text += "game_folder=" + settings.gameFolder + "\n";
    return text;
}
