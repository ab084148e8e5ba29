#include <cstdio>
#include <cstring>
#include <utility>

#include "core/event_log_win.h"
#include "core/atomic_file_win.h"
#include "core/kernel_handle_win.h"
#include "net/http_client.h"
#include "render/images_win.h"
#include "resources/resource_ids.h"
#include "steam/image_loader.h"
#include "steam/steam_stats.h"
#include "trust/release_fetch_win.h"

std::atomic<bool> gSteamStatsLoaded{false};

namespace {

void loadAvatar() {
    SteamStats stats = steamStatsSnapshot();
    if (!stats.valid) return;
    ByteBuffer bytes = readWholeFile(stats.avatarPath);
    ImageHandle avatar = bytes ? decodeImage(bytes.data, bytes.size) : ImageHandle();
    LockHolder hold(gImageLock);
    gState.avatarImage = std::move(avatar);
}

ByteBuffer fetchSpecBanner() {
    ServerRequest request = openServerRequest(L"/launcher/banner", 0);
    if (!request || requestStatusCode(request) != 200) return {};
    // 1 MiB, doubling while at most 16 MiB: a longer body is cut just below 32 MiB.
    return readResponseBody(request, kBannerFirstBuffer, kBannerGrowLimit);
}

// Written atomically, so a crash never leaves half a banner. A read-only
// banner.img stays as it is: it could not be opened for writing, and a
// rename must not get around that.
void saveBanner(const ByteBuffer& bytes) {
    wchar_t path[kFilePathUnits];
    if (_snwprintf(path, kFilePathUnits, L"%ls\\banner.img", gState.dataFolder) >= kFilePathUnits) return;
    DWORD attributes = ::GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return;
    writeFileAtomically(path, bytes.data, bytes.size);
}

void swapBanner(ImageHandle banner) {
    {
        LockHolder hold(gImageLock);
        std::swap(gState.bannerImage, banner);
        ++gState.bannerSerial;  // the painter's scaled copy is out of date
    }
    // Disposed outside the lock; no painter can hold it, as they draw only under the lock.
    banner.reset();
}

}  // namespace

namespace {

bool savedBannerPath(wchar_t* path) {
    return _snwprintf(path, kFilePathUnits, L"%ls\\banner.img", gState.dataFolder) < kFilePathUnits;
}

// With a key, banner.img is decoded only when the release last accepted
// under it names exactly these bytes: what a man in the middle saved
// before the key was set, or anyone put there since, is never decoded.
bool savedBannerTrusted(const ByteBuffer& bytes) {
    if (gState.manifestKey.state == kNoManifestKey) return true;
    Release release;
    return keptReleaseTrusted(keptReleasePath().c_str(), &release) && release.hasBanner &&
           bytesMatchObject(bytes.data, bytes.size, release.banner);
}

ImageHandle decodeSavedBanner() {
    wchar_t path[kFilePathUnits];
    if (!savedBannerPath(path)) return {};
    ByteBuffer bytes = readWholeFile(path);
    return bytes && savedBannerTrusted(bytes) ? decodeImage(bytes.data, bytes.size) : ImageHandle();
}

// ---- the server's banner, when the worker knows where it comes from ----

std::atomic<bool> gBannerBusy{false};
std::atomic<bool> gSpecBannerAsked{false};
ObjectRef gBannerWantedNow;   // set only while gBannerBusy is taken
ObjectRef gBannerShownNow;    // the object last put in place; the fetch thread only
bool gBannerObjectShown = false;

bool showBanner(const ByteBuffer& bytes, bool save) {
    if (!bytes || bytes.size == 0) return false;
    ImageHandle banner = decodeImage(bytes.data, bytes.size);
    if (!banner) return false;
    if (save) saveBanner(bytes);
    swapBanner(std::move(banner));
    postStateChanged(0);
    return true;
}

DWORD WINAPI fetchSpecBannerThread(void*) {
    setLogThread("banner");
    loadServerBanner(nullptr);
    return 0;
}

DWORD WINAPI fetchBannerObjectThread(void*) {
    setLogThread("banner");
    const ObjectRef wanted = gBannerWantedNow;
    if (loadServerBanner(&wanted)) {
        gBannerShownNow = wanted;
        gBannerObjectShown = true;
    }
    gBannerBusy = false;
    return 0;
}

bool sameObject(const ObjectRef& a, const ObjectRef& b) {
    return a.size == b.size && std::memcmp(a.sha256, b.sha256, 32) == 0;
}

}  // namespace

// The banner object: banner.img when it holds those bytes already, else
// fetched by its hash and checked before it is decoded or saved.
bool loadServerBanner(const ObjectRef* banner) {
    if (!banner) return showBanner(fetchSpecBanner(), true);
    wchar_t path[kFilePathUnits];
    ByteBuffer bytes = savedBannerPath(path) ? readWholeFile(path) : ByteBuffer();
    const bool saved = bytes && bytesMatchObject(bytes.data, bytes.size, *banner);
    return (saved || fetchObject(*banner, &bytes) == kObjectFetched) && showBanner(bytes, !saved);
}

void requestBanner(const ObjectRef* banner) {
    if (!banner) {
        // The fixed banner changes in place: once per run, as it always was.
        if (!gSpecBannerAsked.exchange(true)) startDetachedThread(fetchSpecBannerThread);
        return;
    }
    if (gBannerBusy.exchange(true)) return;
    if (gBannerObjectShown && sameObject(gBannerShownNow, *banner)) {
        gBannerBusy = false;
        return;
    }
    gBannerWantedNow = *banner;
    if (!startDetachedThread(fetchBannerObjectThread)) gBannerBusy = false;
}

bool loadSavedBanner() {
    ImageHandle banner = decodeSavedBanner();
    if (!banner) return false;
    gState.bannerImage = std::move(banner);
    return true;
}

void loadStartupPictures() {
    ImageHandle banner = decodeSavedBanner();
    if (!banner) banner = decodeBuiltInImage(IDR_DEFAULT_BANNER);
    ImageHandle background = decodeBuiltInImage(IDR_BACKGROUND);
    ImageHandle logo = decodeBuiltInImage(IDR_LOGO);
    {
        LockHolder hold(gImageLock);
        std::swap(gState.backgroundImage, background);
        std::swap(gState.logoImage, logo);
        if (!gState.bannerImage) {
            std::swap(gState.bannerImage, banner);
            ++gState.bannerSerial;
        }
    }
    postStateChanged(0);
}

DWORD WINAPI imageLoader(void*) {
    setLogThread("images");
    loadStartupPictures();
    loadSteamStats();
    gSteamStatsLoaded = true;
    loadAvatar();
    postStateChanged(0);

    return 0;
}
