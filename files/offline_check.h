// Can the installed game be played without the server? Every file of the
// last installed release must be on disk with the size and last-write time
// its verification-cache row was taken at, and that row's SHA-1 must be the
// manifest's: the cache's rows are what "verified" means, as at every start.
// Nothing is hashed. Pure: no <windows.h>.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/game_files.h"

enum class OfflineProblem { None, Missing, Changed, Unverified, OtherVersion };

struct OfflineCheck {
    OfflineProblem problem = OfflineProblem::None;
    std::string path;  // the first file found wrong
};

// The size and last-write time of an entry's file; false when it is missing.
using FileFactsReader = std::function<bool(const ManifestEntry&, int64_t* size, int64_t* mtime)>;

OfflineCheck checkFilesForOffline(const std::vector<ManifestEntry>& entries, const std::vector<FileCacheEntry>& rows,
                                  const FileFactsReader& factsOf);
