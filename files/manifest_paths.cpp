#include "files/manifest_paths.h"

#include <algorithm>
#include <cstring>

#include "core/text_utf8.h"

namespace {
constexpr size_t kEncodedPathStop = 1180;  // the request path's room, less one escape
}  // namespace

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoringCase(const char* name, size_t length, const char* device) {
    if (std::strlen(device) != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (asciiUpper(name[i]) != device[i]) return false;
    return true;
}

// COM and LPT take one digit, 0-9 or the superscripts 1-3 (UTF-8 C2 B9, C2 B2, C2 B3).
bool isPortName(const char* name, size_t length) {
    if (length < 4 || !(equalsIgnoringCase(name, 3, "COM") || equalsIgnoringCase(name, 3, "LPT"))) return false;
    if (length == 4) return name[3] >= '0' && name[3] <= '9';
    const unsigned char a = static_cast<unsigned char>(name[3]), b = static_cast<unsigned char>(name[4]);
    return length == 5 && a == 0xC2 && (b == 0xB9 || b == 0xB2 || b == 0xB3);
}

// Windows looks at the name before its first dot, trailing spaces dropped.
bool isDeviceName(const char* component, size_t length) {
    size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equalsIgnoringCase(component, base, device)) return true;
    return isPortName(component, base);
}

bool componentAllowed(const char* component, size_t length) {
    if (length == 0) return false;  // "a//b" is "a/b", and a trailing "/" names a folder
    const char last = component[length - 1];
    if (last == '.' || last == ' ') return false;
    return !isDeviceName(component, length);
}

bool byteAllowed(unsigned char c) {
    if (c >= 1 && c <= 31) return false;
    return std::strchr("<>\"|?*:", c) == nullptr;
}

}  // namespace

std::u16string fileNameKey(const char* path) {
    const size_t length = std::strlen(path);
    std::wstring wide(length + 1, L'\0');  // UTF-16 never needs more units than UTF-8 has bytes
    const long n = utf8ToUtf16(path, length, wide.data(), wide.size());
    std::u16string key;
    for (long i = 0; i < n; ++i) key.push_back(wide[i] == L'\\' ? u'/' : static_cast<char16_t>(wide[i]));
    upcaseFileName(key);
    return key;
}

bool manifestPathAllowed(const char* path) {
    if (path[0] == 0 || isSeparator(path[0])) return false;
    if (std::strstr(path, "..")) return false;
    for (const char* p = path; *p; ++p)
        if (!byteAllowed(static_cast<unsigned char>(*p))) return false;
    const char* start = path;
    for (const char* p = path;; ++p) {
        if (*p && !isSeparator(*p)) continue;
        if (!componentAllowed(start, static_cast<size_t>(p - start))) return false;
        if (!*p) return true;
        start = p + 1;
    }
}

bool manifestPathsDistinct(const std::vector<ManifestEntry>& entries) {
    std::vector<std::u16string> keys;
    keys.reserve(entries.size());
    for (const ManifestEntry& e : entries) keys.push_back(fileNameKey(e.path));
    std::sort(keys.begin(), keys.end());
    if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return false;
    static const std::u16string kPart = u".PART";
    for (const std::u16string& key : keys) {
        if (key.size() <= kPart.size() || key.compare(key.size() - kPart.size(), kPart.size(), kPart) != 0) continue;
        // Its file would be the part file of the entry without ".part".
        if (std::binary_search(keys.begin(), keys.end(), key.substr(0, key.size() - kPart.size()))) return false;
    }
    return true;
}

bool manifestSizesFit(const std::vector<ManifestEntry>& entries) {
    int64_t total = kDiskSpaceMargin;
    for (const ManifestEntry& e : entries) {
        if (e.size < 0 || e.size > INT64_MAX - total) return false;
        total += e.size;
    }
    return true;
}

bool entryLocalPath(const wchar_t* gameFolder, const ManifestEntry& entry, wchar_t* out, size_t outUnits) {
    wchar_t relative[400];
    long n = utf8ToUtf16(entry.path, std::strlen(entry.path), relative, 400);
    size_t folderLen = std::wcslen(gameFolder);
    if (n < 0 || outUnits == 0 || folderLen + 1 + static_cast<size_t>(n) + 1 > outUnits) {
        if (outUnits) out[0] = 0;
        return false;
    }
    for (long i = 0; i < n; ++i)
        if (relative[i] == L'/') relative[i] = L'\\';
    std::wmemcpy(out, gameFolder, folderLen);
    out[folderLen] = L'\\';
    std::wmemcpy(out + folderLen + 1, relative, static_cast<size_t>(n) + 1);
    return true;
}

std::wstring encodeRequestPath(const ManifestEntry& entry) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring out = L"/launcher/file?p=";
    size_t encoded = 0;
    for (const char* p = entry.path; *p && encoded < kEncodedPathStop; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     std::strchr("-_./~", c) != nullptr;
        if (plain) {
            out.push_back(static_cast<wchar_t>(c));
            encoded += 1;
        } else {
            out.push_back(L'%');
            out.push_back(static_cast<wchar_t>(kHex[c >> 4]));
            out.push_back(static_cast<wchar_t>(kHex[c & 15]));
            encoded += 3;
        }
    }
    return out;
}
