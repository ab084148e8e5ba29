#include "update/launcher_update_win.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/event_log_win.h"
#include "core/atomic_file_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/launcher_version.h"
#include "net/http_client.h"
#include "trust/release.h"
#include "trust/release_fetch_win.h"
#include "trust/release_floor.h"

std::wstring gLauncherExePath;
LauncherOfferObserver gLauncherOfferObserver = nullptr;

namespace {

std::atomic<bool> gChecking{false};

void report(const wchar_t* format, ...) {
    wchar_t line[256];
    va_list args;
    va_start(args, format);
    std::vswprintf(line, 256, format, args);
    va_end(args);
    logEvent("launcher offer: %s", logUtf8(line).c_str());
    if (gLauncherOfferObserver) gLauncherOfferObserver(line);
}

ObjectRef offerObject(const LauncherOffer& offer) {
    ObjectRef object;
    std::memcpy(object.sha256, offer.sha256, 32);
    object.size = offer.size;
    return object;
}

LauncherOffer offerOf(const Release& release) {
    LauncherOffer offer;
    offer.version = release.launcherVersion;
    offer.size = release.launcher.size;
    std::memcpy(offer.sha256, release.launcher.sha256, 32);
    return offer;
}

bool bytesMatchOffer(const ByteBuffer& bytes, const LauncherOffer& offer) {
    return bytes && bytesMatchObject(bytes.data, bytes.size, offerObject(offer));
}

// The highest version this exe could be replaced by already: its own, the
// highest build swapped in under this key and host, or a build prepared
// before (read, not trusted: the swap checks it again).
int32_t versionInHand(const PreparedLauncher& prepared) {
    int32_t inHand = std::max(kLauncherVersion, loadReleaseFloor().launcher);
    LauncherOffer kept;
    if (::GetFileAttributesW(prepared.build.c_str()) != INVALID_FILE_ATTRIBUTES && keptOffer(prepared.release, &kept))
        inHand = std::max(inHand, kept.version);
    return inHand;
}

// A folder the player may not write to (Program Files without rights):
// no download at all, and nothing shown.
bool folderWritable(const PreparedLauncher& prepared) {
    const std::wstring probe = prepared.build + L".probe";
    KernelHandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return static_cast<bool>(file);
}

// The build first, then the release: a release on disk means its build is complete.
bool prepare(const PreparedLauncher& prepared, const ByteBuffer& build, const std::string& release) {
    if (writeFileAtomically(prepared.build.c_str(), build.data, build.size) &&
        writeFileAtomically(prepared.release.c_str(), release.data(), release.size()))
        return true;
    discardPreparedLauncher(prepared);
    return false;
}

void downloadOffer(const PreparedLauncher& prepared, const LauncherOffer& offer, const std::string& release) {
    const int version = static_cast<int>(offer.version);
    if (!folderWritable(prepared)) {
        report(L"version %d offered, signed, but the launcher's folder is not writable", version);
        return;
    }
    ByteBuffer build;
    const ObjectFetch outcome = fetchObject(offerObject(offer), &build);
    if (outcome == kObjectMismatch) {
        report(L"version %d offered, signed, but its object does not match its size and SHA-256", version);
        return;
    }
    if (outcome != kObjectFetched) {
        report(L"version %d offered, signed, but its object could not be fetched", version);
        return;
    }
    if (!prepare(prepared, build, release)) {
        report(L"version %d offered, signed, but it could not be written beside the launcher", version);
        return;
    }
    report(L"version %d offered, signed, prepared", version);
}

std::string gPendingRelease;  // handed to the thread; set only while gChecking is taken

DWORD WINAPI checkThread(void*) {
    setLogThread("self-update");
    checkLauncherOffer(gPendingRelease);
    gChecking = false;
    return 0;
}

}  // namespace

PreparedLauncher preparedLauncherFor(const std::wstring& exe) { return {exe + L".new", exe + L".new.release"}; }

bool keptOffer(const std::wstring& path, LauncherOffer* out) {
    Release release;
    if (!keptReleaseTrusted(path.c_str(), &release) || !release.hasLauncher ||
        release.launcherVersion < loadReleaseFloor().launcher)
        return false;
    *out = offerOf(release);
    return true;
}

bool fileMatchesOffer(const wchar_t* path, const LauncherOffer& offer) {
    return bytesMatchOffer(readWholeFile(path), offer);
}

bool openFileMatchesOffer(HANDLE file, const LauncherOffer& offer) {
    LARGE_INTEGER size, start{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart != offer.size || size.QuadPart > kWholeFileLimit ||
        !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    char* block = static_cast<char*>(std::malloc(static_cast<size_t>(size.QuadPart) + 1));
    if (!block) return false;
    ByteBuffer bytes = ByteBuffer::adopt(block, static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return ::ReadFile(file, bytes.data, static_cast<DWORD>(bytes.size), &got, nullptr) && got == bytes.size &&
           bytesMatchOffer(bytes, offer);
}

void discardPreparedLauncher(const PreparedLauncher& prepared) {
    // The release first: without it, nothing left is ever trusted. Then
    // what a kill while writing may have left under a temporary name.
    for (const std::wstring* file : {&prepared.release, &prepared.build})
        for (const std::wstring& name : {*file, *file + L".tmp"}) {
            ::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(name.c_str());
        }
}

void checkLauncherOfferSoon(const ByteBuffer& release) {
    if (gLauncherExePath.empty() || gState.manifestKey.state != kManifestKeyValid || !release) return;
    if (gChecking.exchange(true)) return;
    gPendingRelease.assign(release.data, release.size);
    if (!startDetachedThread(checkThread)) gChecking = false;
}

void checkLauncherOffer(const std::string& bytes) {
    Release release;
    if (!readRelease(bytes.data(), bytes.size(), &release) || !releaseSigned(bytes.data(), release)) {
        report(L"offered, but the release is not signed with the game's key or is malformed");
        return;
    }
    if (!release.hasLauncher) {
        report(L"none offered (the release names no launcher)");
        return;
    }
    const LauncherOffer offer = offerOf(release);
    const PreparedLauncher prepared = preparedLauncherFor(gLauncherExePath);
    const int32_t inHand = versionInHand(prepared);
    if (offer.version <= inHand) {
        report(L"version %d offered, signed, not newer than version %d", static_cast<int>(offer.version),
               static_cast<int>(inHand));
        return;
    }
    if (fileMatchesOffer(gLauncherExePath.c_str(), offer)) {  // swapped in before, under a higher number
        report(L"version %d offered, signed, already running", static_cast<int>(offer.version));
        return;
    }
    downloadOffer(prepared, offer, bytes);
}
