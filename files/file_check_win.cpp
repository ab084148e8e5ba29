#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "core/launcher_state.h"
#include "files/file_cache.h"
#include "files/file_check.h"
#include "files/sha1_win.h"

namespace {

bool cachePath(wchar_t* out, const wchar_t* suffix) {
    int n = ::_snwprintf(out, kFilePathUnits, L"%ls\\files.cache%ls", gState.dataFolder, suffix);
    return n > 0 && n < kFilePathUnits;
}

struct FileFacts {
    int64_t size;
    int64_t mtime;
};

bool readFacts(const wchar_t* path, FileFacts* facts) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
    facts->size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    facts->mtime = (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                   data.ftLastWriteTime.dwLowDateTime;
    return true;
}

const FileCacheEntry* findCacheRow(const FileCacheIndex& rows, const ManifestEntry& entry, const FileFacts& facts) {
    const auto found = rows.find(entry.path);
    if (found == rows.end()) return nullptr;
    const FileCacheEntry* row = found->second;
    return row->size == facts.size && row->mtime == facts.mtime ? row : nullptr;
}

void judged(ManifestEntry& entry, bool current, const FileFacts& facts) {
    entry.needsUpdate = current ? 0 : 1;
    entry.judgedFactsKnown = current ? 1 : 0;
    entry.judgedSize = facts.size;
    entry.judgedMtime = facts.mtime;
}

// What an outdated file's installed copy is, while it keeps these facts:
// a patch made from that version applies to it.
void knowInstalled(ManifestEntry& entry, const char* sha1, const FileFacts& facts) {
    std::snprintf(entry.installedSha1, sizeof entry.installedSha1, "%s", sha1);
    entry.installedSize = facts.size;
    entry.installedMtime = facts.mtime;
}

// Hashes the file and judges it, vouching only for the size and time it had
// both before and after the hash: a file written meanwhile is judged by the
// hash but gets no cache row.
void judgeByHash(ManifestEntry& entry, const wchar_t* local, const FileFacts& before, bool reportProgress) {
    char sha1[41];
    FileFacts after;
    if (!sha1OfFile(local, sha1, reportProgress)) return;
    judged(entry, std::strcmp(sha1, entry.sha1) == 0, before);
    if (!readFacts(local, &after) || after.size != before.size || after.mtime != before.mtime)
        entry.judgedFactsKnown = 0;
    else if (entry.needsUpdate)
        knowInstalled(entry, sha1, before);
}

}  // namespace

std::vector<FileCacheEntry> readFileCacheRows() {
    std::vector<FileCacheEntry> rows;
    wchar_t path[kFilePathUnits];
    if (!cachePath(path, L"")) return rows;
    FILE* f = ::_wfopen(path, L"r");
    if (!f) return rows;
    char line[kFileCacheLineBytes];
    FileCacheEntry row;
    try {
        while (std::fgets(line, sizeof line, f))
            if (parseCacheLine(line, std::strlen(line), row)) rows.push_back(std::move(row));
    } catch (const std::bad_alloc&) {
        rows.clear();  // no table: every file of the right size gets hashed
        rows.shrink_to_fit();
    }
    std::fclose(f);
    return rows;
}

void loadFileCache() { gState.fileCache = readFileCacheRows(); }

bool fileFactsAt(const wchar_t* path, int64_t* size, int64_t* mtime) {
    FileFacts facts;
    if (!readFacts(path, &facts)) return false;
    *size = facts.size;
    *mtime = facts.mtime;
    return true;
}

bool installedFileFacts(const std::wstring& gameFolder, const ManifestEntry& entry, int64_t* size, int64_t* mtime) {
    wchar_t local[kFilePathUnits];
    FileFacts facts;
    if (!entryLocalPath(gameFolder.c_str(), entry, local, kFilePathUnits) || !readFacts(local, &facts)) return false;
    *size = facts.size;
    *mtime = facts.mtime;
    return true;
}

void saveFileCache() {
    wchar_t path[kFilePathUnits], temp[kFilePathUnits];
    if (!cachePath(path, L"") || !cachePath(temp, L".tmp")) return;
    FILE* f = ::_wfopen(temp, L"w");
    if (!f) return;
    bool written = true;
    for (const ManifestEntry& entry : gState.manifestEntries) {
        wchar_t local[kFilePathUnits];
        FileFacts facts;
        // An outdated file's row says which version it is, for the patches
        // of a later pass: the row stays while the file is as it was.
        const bool current = !entry.needsUpdate && entry.judgedFactsKnown;
        const bool known = entry.needsUpdate && entry.installedSha1[0];
        if (!(current || known) || !entryLocalPath(gState.gameFolder, entry, local, kFilePathUnits) ||
            !readFacts(local, &facts) || facts.size != (current ? entry.judgedSize : entry.installedSize) ||
            facts.mtime != (current ? entry.judgedMtime : entry.installedMtime))
            continue;
        if (std::fprintf(f, "%s|%lld|%lld|%s\n", current ? entry.sha1 : entry.installedSha1,
                         static_cast<long long>(facts.size), static_cast<long long>(facts.mtime), entry.path) < 0)
            written = false;
    }
    written = std::fclose(f) == 0 && written;
    // A cache that could not be written whole is dropped: files are only hashed again.
    if (!written || !::MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING)) ::DeleteFileW(temp);
}

void noteInstalled(ManifestEntry& entry) {
    wchar_t local[kFilePathUnits];
    FileFacts facts{};
    const bool known = entryLocalPath(gState.gameFolder, entry, local, kFilePathUnits) && readFacts(local, &facts) &&
                       facts.size == entry.size;
    judged(entry, true, facts);
    entry.judgedFactsKnown = known ? 1 : 0;  // no row for a file we could not read back
    entry.installedSha1[0] = 0;
}

void verifyEntry(ManifestEntry& entry) {
    entry.needsUpdate = 1;
    entry.judgedFactsKnown = 0;
    entry.installedSha1[0] = 0;
    wchar_t local[kFilePathUnits];
    FileFacts facts;
    if (!entryLocalPath(gState.gameFolder, entry, local, kFilePathUnits) || !readFacts(local, &facts) ||
        facts.size != entry.size)
        return;
    judgeByHash(entry, local, facts, false);
}

void checkEntry(ManifestEntry& entry, const FileCacheIndex& rows) {
    entry.needsUpdate = 1;
    entry.judgedFactsKnown = 0;
    entry.installedSha1[0] = 0;
    wchar_t local[kFilePathUnits];
    FileFacts facts;
    if (!entryLocalPath(gState.gameFolder, entry, local, kFilePathUnits) || !readFacts(local, &facts)) return;
    const FileCacheEntry* row = findCacheRow(rows, entry, facts);
    if (row && std::strcmp(row->sha1, entry.sha1) != 0) knowInstalled(entry, row->sha1, facts);
    if (facts.size != entry.size) return;
    if (row) {
        judged(entry, std::strcmp(row->sha1, entry.sha1) == 0, facts);
        return;
    }
    judgeByHash(entry, local, facts, true);
}
