#include "update/release_fetch_win.h"

#include <cstdio>
#include <cstring>

#include "core/atomic_file_win.h"
#include "core/launcher_state.h"
#include "update/http_client.h"
#include "update/release_floor.h"
#include "update/signature_check_win.h"

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

ObjectFetch fetchObject(const ObjectRef& object, ByteBuffer* out) {
    const std::string address = objectAddress(object.sha256);
    const std::wstring path(address.begin(), address.end());
    DWORD status = 0;
    // Room past the size, so that a somewhat longer body shows as a mismatch.
    ByteBuffer body = fetchServerDocument(path.c_str(), &status, static_cast<size_t>(object.size) + kBodyChunk);
    if (!body) return kObjectNoAnswer;
    if (status != 200) return kObjectStatus;
    if (!bytesMatchObject(body.data, body.size, object)) return kObjectMismatch;
    *out = std::move(body);
    return kObjectFetched;
}

bool keptReleaseTrusted(const wchar_t* path, Release* out) {
    const ByteBuffer bytes = readWholeFile(path);
    Release release;
    if (!bytes || !readRelease(bytes.data, bytes.size, &release) || !releaseSigned(bytes.data, release) ||
        judgeRelease(release, configuredHost(), 0, loadReleaseFloor().version, false) != kReleaseUsable)
        return false;
    *out = release;
    return true;
}

std::wstring keptReleasePath() {
    wchar_t path[kFilePathUnits];
    const int n = ::_snwprintf(path, kFilePathUnits, L"%ls\\release.txt", gState.dataFolder);
    return n > 0 && n < kFilePathUnits ? std::wstring(path, n) : std::wstring();
}

void keepAcceptedRelease(const ByteBuffer& bytes) {
    const std::wstring path = keptReleasePath();
    if (!path.empty()) writeFileAtomically(path.c_str(), bytes.data, bytes.size);
}
