// The launcher server's info and manifest readers, with the path rules: the
// first bytes any stranger between player and server can write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "files/manifest_paths.h"
#include "update/server_documents.h"

// A server's text as it reaches the log (a path, a host, a status): one
// line, whatever bytes it holds, and never a private folder left whole.
void logLineOf(const char* text, size_t size) {
    const PrivateFolders folders = {{"C:\\Users\\player", "%USERPROFILE%"}};
    const std::string clean = withoutPrivate(std::string(text, size), folders);
    const std::string line = formatLogLine(LogTime{2026, 12, 8, 1, 2, 3, 4}, "worker", clean);
    if (line.empty() || line.back() != '\n') std::abort();
    for (size_t i = 0; i + 1 < line.size(); ++i)
        if (static_cast<unsigned char>(line[i]) < 0x20) std::abort();
    if (clean.find("C:\\Users\\player\\") != std::string::npos) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    logLineOf(text, size);
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
