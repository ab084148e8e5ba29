// Is the local copy of a manifest file current? Judged by the verification
// cache ("files.cache") when size and last-write time match a row, else by
// hashing the file with SHA-1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_cache.h"
#include "files/manifest_paths.h"

// Reads "files.cache" from dataFolder into gState.fileCache, every row of
// it; no file leaves the table empty.
void loadFileCache();

// The same rows, for a thread other than the worker's.
std::vector<FileCacheEntry> readFileCacheRows();

// The size and last-write time of the file at `path`; false when there is none.
bool fileFactsAt(const wchar_t* path, int64_t* size, int64_t* mtime);

// The size and last-write time of `entry`'s file under `gameFolder`; false
// when there is no such file.
bool installedFileFacts(const std::wstring& gameFolder, const ManifestEntry& entry, int64_t* size, int64_t* mtime);

// Rewrites "files.cache" from the manifest entries that are current and
// still have the size and last-write time they had when judged. Written to a
// temporary name and renamed, so a crash never leaves half a cache.
void saveFileCache();

// Sets entry.needsUpdate: 0 when the local file is current, 1 otherwise,
// by its row in `rows` where size and last-write time match, else by hash.
void checkEntry(ManifestEntry& entry, const FileCacheIndex& rows);

// The file was just verified and moved into place: current, with the size
// and last-write time it has now.
void noteInstalled(ManifestEntry& entry);

// The same by hashing alone: the cache's rows are not asked, so a file
// damaged with its size and last-write time kept is found.
void verifyEntry(ManifestEntry& entry);

