// Rows of "files.cache": hashes the launcher verified earlier, with the size
// and last-write time the file had then. Pure: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/game_files.h"

// No cap on rows: a game of 100,000 files has 100,000 of them, bounded only
// by memory. A longer line arrives in pieces, each malformed.
constexpr size_t kFileCacheLineBytes = 600;

// Rows by path, so a pass judges each of tens of thousands of files with one
// lookup. Points into `rows`, which must outlive it unchanged.
using FileCacheIndex = std::unordered_map<std::string_view, const FileCacheEntry*>;
FileCacheIndex indexCacheRows(const std::vector<FileCacheEntry>& rows);

// Reads one line "sha1|size|mtime|path" (the line end may be attached). The
// sha1 is 1 to 40 lowercase hex digits; the path runs to the line end, may
// hold "|" and is cut at 399 bytes. False for anything else.
bool parseCacheLine(const char* line, size_t length, FileCacheEntry& row);
