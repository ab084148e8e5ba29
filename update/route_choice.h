// Which way each file to fetch comes: the routes the site offers for it,
// cheapest first by the bytes each moves, the file as it is always last.
// Pure: the caller says what is offered and what this run has refused.
#pragma once

#include <cstdint>
#include <vector>

enum FileRoute {
    kRoutePatch,  // a patch from the installed copy's version
    kRouteDelta,  // the block map's plan from installed files
    kRouteZst,    // the file's own zst form
    kRouteWhole,  // the file as it is
};

struct RouteOffers {
    int64_t whole = 0;
    int64_t patch = -1;       // bytes of a patch that applies; -1: none
    bool delta = false;       // a block map and something to plan from
    int64_t deltaBytes = -1;  // what the pass's plan fetches; -1: not planned yet
    int64_t zst = -1;         // bytes of the zst form; -1: none
};

std::vector<FileRoute> chooseRoutes(const RouteOffers& offers);
