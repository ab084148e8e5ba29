#include "update/route_choice.h"

#include <algorithm>
#include <utility>

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
