// Lines of the launcher's own files, which a crash, a full disk or a hand can
// spoil: files.cache rows, TVLLauncher.ini (as bytes in any encoding, and
// line by line) and the rollback record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "core/config_file.h"
#include "files/file_cache.h"
#include "trust/release_floor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    FileCacheEntry row;
    if (parseCacheLine(text, size, row) && (row.path.size() > 399 || std::strlen(row.sha1) > 40)) std::abort();

    wchar_t host[128];
    readServerLine(text, size, host, 128);
    std::string key;
    readKeyLine(text, size, &key);
    std::string decoded;
    std::optional<std::string> iniKey;
    if (decodeConfigText(text, size, &decoded)) readConfigText(decoded, host, 128, &iniKey);

    // What the rollback record reads, it writes back the same.
    const std::vector<ReleaseFloor> floors = parseReleaseFloors(text, size);
    const std::string again = formatReleaseFloors(floors);
    if (formatReleaseFloors(parseReleaseFloors(again.data(), again.size())) != again) std::abort();
    return 0;
}
