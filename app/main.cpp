// Until the window exists the launcher is a console program that shows its
// exchange with the server it is configured for: the info, the manifest and
// what it read from them. TVLHeadless runs the whole update cycle.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/launcher_state.h"
#include "app/startup.h"
#include "update/http_client.h"
#include "update/server_documents.h"

namespace {

void print(const std::wstring& text) {
    std::wstring line = text + L"\n";
    int n = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? n : 0, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), n, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

std::wstring format(const wchar_t* fmt, ...) {
    wchar_t buf[1024];
    va_list args;
    va_start(args, fmt);
    ::_vsnwprintf(buf, 1023, fmt, args);
    va_end(args);
    buf[1023] = 0;
    return buf;
}

bool showInfo() {
    DWORD status = 0;
    ByteBuffer body = fetchServerDocument(L"/launcher/info", &status);
    if (!body) {
        print(L"info: no answer");
        return false;
    }
    print(format(L"info: HTTP %lu, %llu bytes", status, static_cast<unsigned long long>(body.size)));
    ServerInfo info = readInfo(body.data, body.size);
    print(format(L"  version present: %ls", info.hasVersion ? L"yes" : L"no"));
    print(format(L"  lobbies open: %d, players in matches: %d", info.lobbies, info.players));
    print(info.notes ? L"  patch notes:\n" + *info.notes : L"  patch notes: none");
    return status == 200 && info.hasVersion;
}

bool showManifest() {
    DWORD status = 0;
    ByteBuffer body = fetchServerDocument(L"/launcher/manifest", &status);
    if (!body) {
        print(L"manifest: no answer");
        return false;
    }
    print(format(L"manifest: HTTP %lu, %llu bytes", status, static_cast<unsigned long long>(body.size)));
    ManifestResult result = readManifest(body.data, body.size, gState.manifestEntries);
    if (result.hasVersion) gState.serverVersion = result.version;
    print(format(L"  version: %d, %ls", result.version, result.accepted ? L"accepted" : L"rejected"));
    if (!result.accepted) return false;
    int64_t total = 0;
    for (const ManifestEntry& e : gState.manifestEntries) {
        wchar_t local[kFilePathUnits];
        bool fits = entryLocalPath(gState.gameFolder, e, local, kFilePathUnits);
        print(format(L"  %10lld  %hs  %ls", static_cast<long long>(e.size), e.sha1, encodeRequestPath(e).c_str()));
        print(format(L"              -> %ls", fits ? local : L"(path too long for this folder)"));
        total += e.size;
    }
    print(format(L"  %llu file(s), %lld bytes", static_cast<unsigned long long>(gState.manifestEntries.size()), static_cast<long long>(total)));
    return true;
}

}  // namespace

int wmain() {
    prepareLauncher();
    print(format(L"TVL UE4 Launcher: server %ls (HTTPS, port 443)", gState.serverHost));
    bool ok = showInfo();
    ok = showManifest() && ok;
    return ok ? 0 : 1;
}
