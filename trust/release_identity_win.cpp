#include "trust/release_identity_win.h"

#include <cstdio>
#include <cstring>

#include "core/launcher_state.h"
#include "trust/signature_check_win.h"

std::string configuredHost() {
    std::string host;
    for (const wchar_t* c = gState.serverHost; *c; ++c) {
        wchar_t lower = (*c >= L'A' && *c <= L'Z') ? static_cast<wchar_t>(*c - L'A' + L'a') : *c;
        // A host that is not plain ASCII can match no release: keep it unmatched.
        host.push_back(lower < 128 ? static_cast<char>(lower) : '?');
    }
    return host;
}

bool releaseSigned(const char* data, const Release& release) {
    return gState.manifestKey.state == kManifestKeyValid &&
           verifyEcdsaP256(gState.manifestKey.xy, data, release.signedSize, release.signature);
}

bool bytesMatchObject(const void* data, size_t size, const ObjectRef& object) {
    uint8_t digest[32];
    return static_cast<int64_t>(size) == object.size && sha256(data, size, digest) &&
           std::memcmp(digest, object.sha256, 32) == 0;
}

std::wstring keptReleasePath() {
    wchar_t path[kFilePathUnits];
    const int n = ::_snwprintf(path, kFilePathUnits, L"%ls\\release.txt", gState.dataFolder);
    return n > 0 && n < kFilePathUnits ? std::wstring(path, n) : std::wstring();
}
