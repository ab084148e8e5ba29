#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

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

const FileCacheEntry* findCacheRow(const ManifestEntry& entry, const FileFacts& facts) {
    for (const FileCacheEntry& row : gState.fileCache)
        if (row.size == facts.size && row.mtime == facts.mtime && std::strcmp(row.path, entry.path) == 0)
            return &row;
    return nullptr;
}

}  // namespace

std::vector<FileCacheEntry> readFileCacheRows() {
    std::vector<FileCacheEntry> rows;
    wchar_t path[kFilePathUnits];
    if (!cachePath(path, L"")) return rows;
    FILE* f = ::_wfopen(path, L"r");
    if (!f) return rows;
    try {
        rows.reserve(kFileCacheRows);
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        return rows;  // no table: every file of the right size gets hashed
    }
    char line[kFileCacheLineBytes];
    FileCacheEntry row;
    while (rows.size() < kFileCacheRows && std::fgets(line, sizeof line, f))
        if (parseCacheLine(line, std::strlen(line), row)) rows.push_back(row);
    std::fclose(f);
    return rows;
}

void loadFileCache() { gState.fileCache = readFileCacheRows(); }

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
        if (entry.needsUpdate || !entryLocalPath(gState.gameFolder, entry, local, kFilePathUnits) ||
            !readFacts(local, &facts))
            continue;
        if (std::fprintf(f, "%s|%lld|%lld|%s\n", entry.sha1, static_cast<long long>(facts.size),
                         static_cast<long long>(facts.mtime), entry.path) < 0)
            written = false;
    }
    written = std::fclose(f) == 0 && written;
    // A cache that could not be written whole is dropped: files are only hashed again.
    if (!written || !::MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING)) ::DeleteFileW(temp);
}

void verifyEntry(ManifestEntry& entry) {
    entry.needsUpdate = 1;
    wchar_t local[kFilePathUnits];
    FileFacts facts;
    char sha1[41];
    if (!entryLocalPath(gState.gameFolder, entry, local, kFilePathUnits) || !readFacts(local, &facts) ||
        facts.size != entry.size || !sha1OfFile(local, sha1, false))
        return;
    entry.needsUpdate = std::strcmp(sha1, entry.sha1) == 0 ? 0 : 1;
}

void checkEntry(ManifestEntry& entry) {
    entry.needsUpdate = 1;
    wchar_t local[kFilePathUnits];
    FileFacts facts;
    if (!entryLocalPath(gState.gameFolder, entry, local, kFilePathUnits) || !readFacts(local, &facts)) return;
    if (facts.size != entry.size) return;
    if (const FileCacheEntry* row = findCacheRow(entry, facts)) {
        entry.needsUpdate = std::strcmp(row->sha1, entry.sha1) == 0 ? 0 : 1;
        return;
    }
    char sha1[41];
    if (sha1OfFile(local, sha1, true)) entry.needsUpdate = std::strcmp(sha1, entry.sha1) == 0 ? 0 : 1;
}
