// fileNameKey on Windows: the system's own invariant upper-case table, the
// one its file systems compare names by.
#include <windows.h>

#include <cstring>
#include <string>

#include "app/text_utf8.h"
#include "update/manifest_paths.h"

std::u16string fileNameKey(const char* path) {
    const size_t length = std::strlen(path);
    std::wstring wide(length + 1, L'\0');
    long n = utf8ToUtf16(path, length, wide.data(), wide.size());
    if (n <= 0) return {};
    std::wstring upper(static_cast<size_t>(n), L'\0');
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(n), upper.data(),
                        static_cast<int>(n), nullptr, nullptr, 0) != n)
        upper.assign(wide.data(), static_cast<size_t>(n));
    std::u16string key(upper.begin(), upper.end());
    for (char16_t& c : key)
        if (c == u'\\') c = u'/';
    return key;
}
