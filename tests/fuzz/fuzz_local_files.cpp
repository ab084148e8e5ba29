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
#include "update/file_cache.h"
#include "update/signed_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    FileCacheEntry row;
    if (parseCacheLine(text, size, row) && (std::strlen(row.path) > 399 || std::strlen(row.sha1) > 40)) std::abort();

    wchar_t host[128];
    readServerLine(text, size, host, 128);
    std::string key;
    readKeyLine(text, size, &key);
    std::string decoded;
    std::optional<std::string> iniKey;
    if (decodeConfigText(text, size, &decoded)) readConfigText(decoded, host, 128, &iniKey);

    int32_t version = 0;
    if (parseSignedVersion(text, size, &version)) {
        std::string again = formatSignedVersion(version);
        int32_t back = 0;
        if (!parseSignedVersion(again.data(), again.size(), &back) || back != version) std::abort();
    }
    return 0;
}
