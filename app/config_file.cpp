#include "app/config_file.h"

#include <cstring>

#include "app/text_utf8.h"

bool readServerLine(const char* line, size_t length, wchar_t* host, size_t hostUnits) {
    static const char kKey[] = "server=";
    const size_t keyLength = sizeof(kKey) - 1;
    if (length < keyLength || std::memcmp(line, kKey, keyLength) != 0) return false;
    size_t end = keyLength;
    while (end < length && line[end] != '\r' && line[end] != '\n' && line[end] != ' ' && line[end] != 0) ++end;
    wchar_t value[256];
    long n = utf8ToUtf16(line + keyLength, end - keyLength, value, 256);
    if (n < 0 || static_cast<size_t>(n) + 1 > hostUnits) return false;
    std::memcpy(host, value, (static_cast<size_t>(n) + 1) * sizeof(wchar_t));
    return true;
}
