// The launcher server's info and manifest readers, with the path rules: the
// first bytes any stranger between player and server can write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "files/manifest_paths.h"
#include "update/server_documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    readInfo(text, size);
    readInfoPoll(text, size);
    std::vector<ManifestEntry> entries;
    ManifestResult result = readManifest(text, size, entries);
    if (!result.accepted) return 0;
    // What an accepted manifest promises the rest of the launcher.
    if (entries.empty() || !manifestPathsDistinct(entries) || !manifestSizesFit(entries)) std::abort();
    for (const ManifestEntry& e : entries) {
        if (!manifestPathAllowed(e.path) || e.size < 0) std::abort();
        wchar_t local[520];
        entryLocalPath(L"C:\\Users\\player\\AppData\\Local\\UE4TVL\\Game", e, local, 520);
        if (encodeRequestPath(e).size() >= 1200) std::abort();
    }
    return 0;
}
