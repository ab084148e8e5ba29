#include "update/route_choice.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "delta/block_map.h"

std::vector<FileRoute> chooseRoutes(const RouteOffers& offers) {
    // A delta not planned yet has no price: it goes before the zst form, as
    // the copy it plans from usually holds most of the file, and after a
    // patch, which was made against that very copy.
    const int64_t unplanned = offers.patch >= 0 ? offers.patch : 0;
    std::vector<std::pair<int64_t, FileRoute>> priced;
    if (offers.patch >= 0) priced.push_back({offers.patch, kRoutePatch});
    if (offers.delta) priced.push_back({offers.deltaBytes >= 0 ? offers.deltaBytes : unplanned, kRouteDelta});
    if (offers.zst >= 0) priced.push_back({offers.zst, kRouteZst});
    // Equal prices keep this order: patch, delta, zst.
    std::stable_sort(priced.begin(), priced.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<FileRoute> routes;
    for (const auto& p : priced)
        if (p.first < offers.whole) routes.push_back(p.second);
    routes.push_back(kRouteWhole);
    return routes;
}

const PatchOffer* applicablePatch(const ManifestEntry& entry, const FileLessons& lessons, bool filesAsObjects) {
    if (!filesAsObjects || !entry.installedSha1[0] || entry.installedSize > kPatchReferenceMost ||
        lessons.patchRefused.count(entry.sha1))
        return nullptr;
    for (const PatchOffer& offer : entry.patches)
        if (std::strcmp(offer.from, entry.installedSha1) == 0) return &offer;
    return nullptr;
}

RouteOffers offersFor(const ManifestEntry& entry, const FileLessons& lessons, const FileSituation& situation) {
    RouteOffers offers;
    offers.whole = entry.size;
    if (!situation.filesAsObjects) return offers;
    if (const PatchOffer* offer = applicablePatch(entry, lessons, true)) offers.patch = offer->size;
    const auto tries = lessons.deltaTries.find(entry.sha1);
    offers.delta = entry.size >= kDeltaThreshold && situation.deltaSeed && !lessons.wholeOnly.count(entry.sha1) &&
                   (tries == lessons.deltaTries.end() || tries->second < kDeltaTries);
    offers.deltaBytes = offers.delta ? situation.plannedDeltaBytes : -1;
    if (entry.zstSha256[0] && entry.zstSize > 0 && !lessons.zstRefused.count(entry.sha1)) offers.zst = entry.zstSize;
    return offers;
}
