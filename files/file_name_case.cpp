// upcaseFileName for builds without Windows (the sanitizer suite): the
// simple upper-case mappings of Latin, Greek and Cyrillic letters, which
// Windows' table shares. The Windows build asks the system instead.
#include "files/manifest_paths.h"

namespace {

char16_t upper(char16_t c) {
    if (c >= u'a' && c <= u'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;  // Latin-1
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return oddPairs ? ((c & 1) == 0 ? c - 1 : c) : (c & ~1);  // Latin Extended-A pairs
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;  // Greek
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x430 && c <= 0x44F) return c - 32;  // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

}  // namespace

void upcaseFileName(std::u16string& name) {
    for (char16_t& c : name) c = upper(c);
}
