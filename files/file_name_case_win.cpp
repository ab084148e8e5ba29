// upcaseFileName on Windows: the system's own invariant upper-case table,
// the one its file systems compare names by.
#include <windows.h>

#include "files/manifest_paths.h"

void upcaseFileName(std::u16string& name) {
    const int n = static_cast<int>(name.size());
    if (n == 0) return;
    std::wstring upper(name.size(), L'\0');
    const std::wstring wide(name.begin(), name.end());
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), n, upper.data(), n, nullptr, nullptr,
                        0) == n)
        name.assign(upper.begin(), upper.end());
}
