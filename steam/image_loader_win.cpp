#include <cstdio>
#include <utility>

#include "steam/image_loader.h"
#include "core/atomic_file_win.h"
#include "render/images_win.h"
#include "resources/resource_ids.h"
#include "steam/steam_stats.h"
#include "update/http_client.h"

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

ByteBuffer fetchBanner() {
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

ImageHandle decodeSavedBanner() {
    wchar_t path[kFilePathUnits];
    if (_snwprintf(path, kFilePathUnits, L"%ls\\banner.img", gState.dataFolder) >= kFilePathUnits) return {};
    ByteBuffer bytes = readWholeFile(path);
    return bytes ? decodeImage(bytes.data, bytes.size) : ImageHandle();
}

}  // namespace

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
    loadStartupPictures();
    loadSteamStats();
    gSteamStatsLoaded = true;
    loadAvatar();
    postStateChanged(0);

    ByteBuffer body = fetchBanner();
    if (!body || body.size == 0) return 0;
    ImageHandle banner = decodeImage(body.data, body.size);
    if (!banner) return 0;
    saveBanner(body);
    swapBanner(std::move(banner));
    postStateChanged(0);
    return 0;
}
