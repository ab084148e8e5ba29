// Rows of "files.cache": hashes the launcher verified earlier, with the size
// and last-write time the file had then. Pure: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/game_files.h"

constexpr size_t kFileCacheRows = 4096;
constexpr size_t kFileCacheLineBytes = 600;  // a longer line arrives in pieces

// Reads one line "sha1|size|mtime|path" (the line end may be attached). The
// sha1 is 1 to 40 lowercase hex digits; the path runs to the line end, may
// hold "|" and is cut at 399 bytes. False for anything else.
bool parseCacheLine(const char* line, size_t length, FileCacheEntry& row);
