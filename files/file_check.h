// Is the local copy of a manifest file current? Judged by the verification
// cache ("files.cache") when size and last-write time match a row, else by
// hashing the file with SHA-1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/manifest_paths.h"

// Reads "files.cache" from dataFolder into gState.fileCache (at most 4,096
// rows); no file leaves the table empty.
void loadFileCache();

// The same rows, for a thread other than the worker's.
std::vector<FileCacheEntry> readFileCacheRows();

// The size and last-write time of `entry`'s file under `gameFolder`; false
// when there is no such file.
bool installedFileFacts(const std::wstring& gameFolder, const ManifestEntry& entry, int64_t* size, int64_t* mtime);

// Rewrites "files.cache" from the manifest entries that are current, with
// each file's size and last-write time as they are now on disk. Written to a
// temporary name and renamed, so a crash never leaves half a cache.
void saveFileCache();

// Sets entry.needsUpdate: 0 when the local file is current, 1 otherwise.
void checkEntry(ManifestEntry& entry);

// The same by hashing alone: the cache's rows are not asked, so a file
// damaged with its size and last-write time kept is found.
void verifyEntry(ManifestEntry& entry);

