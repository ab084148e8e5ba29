// Is the local copy of a manifest file current? Judged by the verification
// cache ("files.cache") when size and last-write time match a row, else by
// hashing the file with SHA-1.
#pragma once

#include <cstdint>

#include "update/server_documents.h"

constexpr int64_t kHashProgressStep = 64LL * 1024 * 1024;  // report once per 64 MiB
constexpr uint32_t kHashChunk = 1024 * 1024;

// Reads "files.cache" from dataFolder into gState.fileCache (at most 4,096
// rows); no file leaves the table empty.
void loadFileCache();

// Rewrites "files.cache" from the manifest entries that are current, with
// each file's size and last-write time as they are now on disk. Written to a
// temporary name and renamed, so a crash never leaves half a cache.
void saveFileCache();

// Sets entry.needsUpdate: 0 when the local file is current, 1 otherwise.
void checkEntry(ManifestEntry& entry);

// SHA-1 of a file through CNG as 40 lowercase hex digits and a terminator.
// With progress, files over 64 MiB report "Checking game files... N%".
bool sha1OfFile(const wchar_t* path, char out[41], bool progress);
