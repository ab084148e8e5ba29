#include "files/offline_check.h"

#include "files/file_cache.h"

#include <cstring>

OfflineCheck checkFilesForOffline(const std::vector<ManifestEntry>& entries, const std::vector<FileCacheEntry>& rows,
                                  const FileFactsReader& factsOf) {
    const FileCacheIndex rowOf = indexCacheRows(rows);
    for (const ManifestEntry& entry : entries) {
        auto wrong = [&](OfflineProblem p) { return OfflineCheck{p, entry.path}; };
        int64_t size = 0, mtime = 0;
        if (!factsOf(entry, &size, &mtime)) return wrong(OfflineProblem::Missing);
        const auto found = rowOf.find(entry.path);
        if (found == rowOf.end()) return wrong(OfflineProblem::Unverified);
        const FileCacheEntry& row = *found->second;
        if (row.size != size || row.mtime != mtime) return wrong(OfflineProblem::Changed);
        if (size != entry.size || std::strcmp(row.sha1, entry.sha1) != 0) return wrong(OfflineProblem::OtherVersion);
    }
    return {};
}
