#include "core/config_file.h"

#include <cstring>

#include "core/text_utf8.h"

namespace {

// UTF-16 code units of data, two bytes each in the given order, as UTF-8.
bool utf16ToUtf8(const unsigned char* data, size_t size, bool bigEndian, std::string* utf8) {
    if (size % 2 != 0) return false;
    auto unit = [&](size_t i) -> uint32_t {
        return bigEndian ? (data[i] << 8 | data[i + 1]) : (data[i + 1] << 8 | data[i]);
    };
    for (size_t i = 0; i < size; i += 2) {
        uint32_t cp = unit(i);
        if (cp == 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 2 >= size) return false;
            const uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        appendUtf8(cp, utf8);
    }
    return true;
}

// The value of a `key=` line: from after the key to the line end, a space or
// a zero byte. False when the line is not that key's.
bool lineValue(const char* line, size_t length, const char* key, size_t* start, size_t* end) {
    const size_t keyLength = std::strlen(key);
    if (length < keyLength || std::memcmp(line, key, keyLength) != 0) return false;
    size_t e = keyLength;
    while (e < length && line[e] != '\r' && line[e] != '\n' && line[e] != ' ' && line[e] != 0) ++e;
    *start = keyLength;
    *end = e;
    return true;
}

}  // namespace

bool readServerLine(const char* line, size_t length, wchar_t* host, size_t hostUnits) {
    size_t keyLength = 0, end = 0;
    if (!lineValue(line, length, "server=", &keyLength, &end)) return false;
    wchar_t value[256];
    long n = utf8ToUtf16(line + keyLength, end - keyLength, value, 256);
    if (n < 0 || static_cast<size_t>(n) + 1 > hostUnits) return false;
    std::memcpy(host, value, (static_cast<size_t>(n) + 1) * sizeof(wchar_t));
    return true;
}

bool readKeyLine(const char* line, size_t length, std::string* key) {
    size_t start = 0, end = 0;
    if (lineValue(line, length, "manifest_key=", &start, &end)) {
        key->assign(line + start, end - start);
        return true;
    }
    size_t p = 0;
    if (length >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0) p = 3;
    while (p < length && (line[p] == ' ' || line[p] == '\t')) ++p;
    static const char kName[] = "manifest_key";
    for (size_t i = 0; kName[i]; ++i, ++p) {
        if (p >= length) return false;
        const char c = line[p] >= 'A' && line[p] <= 'Z' ? static_cast<char>(line[p] + 32) : line[p];
        if (c != kName[i]) return false;
    }
    key->clear();
    return true;
}

const wchar_t* configProblemText(int32_t problem) {
    switch (problem) {
    case kConfigUnreadable:
        return L"TVLLauncher.ini could not be read: another program may have it open. "
               L"Close that program, then restart the launcher.";
    case kConfigNotText:
        return L"TVLLauncher.ini is not readable text. Save it as UTF-8 or Unicode (UTF-16), then restart the launcher.";
    case kConfigKeyDiffers:
        return L"TVLLauncher.ini names another manifest_key than the one built into this launcher. "
               L"Remove that line, then restart.";
    case kConfigProxyMalformed:
        return L"The proxy= line in TVLLauncher.ini is not a proxy the launcher can use. Write it as "
               L"proxy=http://host:port, proxy=socks5://host:port or proxy=direct, then restart the launcher.";
    case kConfigProxyUnsupported:
        return L"The proxy= line in TVLLauncher.ini names a SOCKS5 proxy or a user name and password, which this "
               L"launcher cannot use yet. Use proxy=http://host:port or proxy=direct, then restart the launcher.";
    default:
        return L"";
    }
}

bool decodeConfigText(const char* data, size_t size, std::string* utf8) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    utf8->clear();
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return utf16ToUtf8(bytes + 2, size - 2, false, utf8);
    if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return utf16ToUtf8(bytes + 2, size - 2, true, utf8);
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
        data += 3;
        size -= 3;
    }
    // A NUL is UTF-16 without its mark, or no text at all: never guessed at.
    if (std::memchr(data, 0, size) || !isWellFormedUtf8(data, size)) return false;
    utf8->assign(data, size);
    return true;
}

bool readProxyLine(const char* line, size_t length, std::string* value) {
    size_t start = 0, end = 0;
    if (!lineValue(line, length, "proxy=", &start, &end)) return false;
    value->assign(line + start, end - start);
    return true;
}

void readConfigText(const std::string& utf8, wchar_t* host, size_t hostUnits, std::optional<std::string>* key,
                    std::optional<std::string>* proxy) {
    std::string text;
    text.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i)  // CRLF as LF, as a text-mode read gives it
        if (!(utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')) text.push_back(utf8[i]);
    constexpr size_t kPiece = 199;
    std::string value;
    for (size_t at = 0; at < text.size();) {
        const size_t newline = text.find('\n', at);
        size_t end = newline == std::string::npos ? text.size() : newline + 1;
        if (end - at > kPiece) end = at + kPiece;
        readServerLine(text.data() + at, end - at, host, hostUnits);
        if (key && readKeyLine(text.data() + at, end - at, &value)) *key = value;
        if (proxy && readProxyLine(text.data() + at, end - at, &value)) *proxy = value;
        at = end;
    }
}
