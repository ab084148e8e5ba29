// Which way each file to fetch comes: the routes the site offers for it,
// cheapest first by the bytes each moves, the file as it is always last.
// Pure: a decision over the manifest's entry, what the disk and the pass's
// plan say of it, and what this run has learned of it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/game_files.h"

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

// What a run learned of its files, by SHA-1, so that nothing loops: the
// routes each failed, and its tries.
struct FileLessons {
    std::set<std::string> wholeOnly;     // its delta gave up, or made a file that failed its SHA-1
    std::set<std::string> zstRefused;    // its zst form did not hold
    std::set<std::string> patchRefused;  // its patch did not hold
    std::map<std::string, int> deltaTries;
    std::set<std::string> mendable;   // a whole part file that failed, for its map to mend
    std::set<std::string> mendTried;  // mended once already
};

constexpr int kDeltaTries = 2;  // then its rest comes by the next route

// A file beside its entry: what the disk and the pass's plan say.
struct FileSituation {
    bool filesAsObjects = false;  // under a release, where the other routes live
    bool deltaSeed = false;       // the pass planned it, or it has an installed copy
    int64_t plannedDeltaBytes = -1;
};

// A patch's reference is mapped whole while it applies: larger installed
// copies are left to the block map, which holds a block at a time.
constexpr int64_t kPatchReferenceMost = 128LL * 1024 * 1024;

// The patch made from the installed copy's version, unless refused.
const PatchOffer* applicablePatch(const ManifestEntry& entry, const FileLessons& lessons, bool filesAsObjects);
RouteOffers offersFor(const ManifestEntry& entry, const FileLessons& lessons, const FileSituation& situation);
