#include "net/range_hosts_win.h"

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "core/atomic_file_win.h"
#include "core/launcher_state.h"
#include "net/byte_ranges.h"
#include "net/http_client.h"

namespace {

std::vector<RangeHost> gHosts;
bool gLoaded = false;

bool memoryPath(wchar_t* path) {
    const int n = ::_snwprintf(path, kFilePathUnits, L"%ls\\range_hosts.txt", gState.dataFolder);
    return n > 0 && n < kFilePathUnits;
}

int64_t now() { return static_cast<int64_t>(std::time(nullptr)); }

// Host names are ASCII; anything else becomes '?', which the file's reader
// refuses, so such a host is remembered for the run only.
std::string asciiHost(const std::wstring& address) {
    std::string host;
    for (wchar_t c : addressHost(address.c_str())) host.push_back(c < 128 ? static_cast<char>(c) : '?');
    return host;
}

void load() {
    if (gLoaded) return;
    gLoaded = true;
    wchar_t path[kFilePathUnits];
    if (!memoryPath(path)) return;
    const ByteBuffer text = readWholeFile(path);
    if (text) gHosts = readRangeHosts(text.data, text.size, now());
}

}  // namespace

bool servesOneRange(const std::wstring& address) {
    load();
    const std::string host = asciiHost(address);
    for (const RangeHost& h : gHosts)
        if (h.host == host) return true;
    return false;
}

void learnOneRange(const std::wstring& address) {
    if (servesOneRange(address)) return;
    gHosts.push_back({asciiHost(address), now()});
    // The newest are kept: what the reader takes is the file's first lines.
    const size_t drop = gHosts.size() > kRangeMemoryHosts ? gHosts.size() - kRangeMemoryHosts : 0;
    const std::vector<RangeHost> kept(gHosts.begin() + static_cast<std::ptrdiff_t>(drop), gHosts.end());
    const std::string text = formatRangeHosts(kept);
    wchar_t path[kFilePathUnits];
    if (memoryPath(path)) writeFileAtomically(path, text.data(), text.size());
}

void forgetRangeHosts() {
    gHosts.clear();
    gLoaded = false;
}
