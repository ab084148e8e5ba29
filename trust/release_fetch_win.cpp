#include "trust/release_fetch_win.h"

#include <cstdio>
#include <cstring>

#include "core/atomic_file_win.h"
#include "core/launcher_state.h"
#include "net/http_client.h"
#include "trust/release_floor.h"

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

void keepAcceptedRelease(const ByteBuffer& bytes) {
    const std::wstring path = keptReleasePath();
    if (!path.empty()) writeFileAtomically(path.c_str(), bytes.data, bytes.size);
}
