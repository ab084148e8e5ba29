#include "trust/release_fetch_win.h"

#include <cstdio>
#include <cstring>

#include "core/atomic_file_win.h"
#include "core/launcher_state.h"
#include "net/http_client.h"
#include "net/sources_win.h"
#include "trust/release_floor.h"

namespace {

ObjectFetch fetchObjectFrom(const std::wstring& address, const ObjectRef& object, ByteBuffer* out, DWORD* status) {
    // Room past the size, so that a somewhat longer body shows as a mismatch.
    bool brokeOff = false;
    ByteBuffer body =
        fetchServerDocument(address.c_str(), status, static_cast<size_t>(object.size) + kBodyChunk, &brokeOff);
    if (!body) return kObjectNoAnswer;
    if (*status != 200) return kObjectStatus;
    // An answer that broke off or stalled is the network's doing; only a
    // whole answer can be called wrong.
    if (brokeOff && static_cast<int64_t>(body.size) < object.size) return kObjectNoAnswer;
    if (!bytesMatchObject(body.data, body.size, object)) return kObjectMismatch;
    *out = std::move(body);
    return kObjectFetched;
}

SourceFault faultOf(ObjectFetch outcome, DWORD status) {
    if (outcome == kObjectMismatch) return kFaultWrong;
    return outcome == kObjectStatus && status >= 400 && status < 500 ? kFaultMissing : kFaultNetwork;
}

std::wstring moveReason(ObjectFetch outcome, DWORD status) {
    if (outcome == kObjectMismatch) return L" sent other bytes than the release names for ";
    if (outcome == kObjectStatus) return L" answered " + std::to_wstring(status) + L" for ";
    return L" could not be reached, or broke off or stalled, during ";
}

}  // namespace

ObjectFetch fetchObject(const ObjectRef& object, ByteBuffer* out) {
    const std::string address = objectAddress(object.sha256);
    const std::wstring path(address.begin(), address.end());
    const std::string key = address.substr(12);
    // From each source in turn; what went worst is said when none had it:
    // wrong bytes, then a status, then no answer.
    ObjectFetch worst = kObjectNoAnswer;
    std::vector<int> tried;
    for (int source = 0; source >= 0; source = chooseObjectSource(key, tried)) {
        DWORD status = 0;
        const ObjectFetch outcome = fetchObjectFrom(sourceAddress(source, path), object, out, &status);
        if (outcome == kObjectFetched) return outcome;
        if (outcome > worst) worst = outcome;
        noteObjectFault(source, key, faultOf(outcome, status));
        tried.push_back(source);
        const int next = chooseObjectSource(key, tried);
        if (next >= 0) reportSourceMove(next, sourceName(source) + moveReason(outcome, status) + path);
    }
    return worst;
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
