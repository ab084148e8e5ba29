// Which manifest paths the launcher will write to. Windows drops trailing
// dots and spaces, ignores case, treats a backslash as a separator and
// opens a device for names such as NUL or COM1.pak, so paths that differ as
// bytes can name one file, or no file at all. Pure: no <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/game_files.h"

// One path on its own: not empty, relative, no "..", ":" or < > " | ? *,
// no control bytes, no empty component, no component ending in "." or " ",
// and no device name as a component, whatever its case or extension.
bool manifestPathAllowed(const char* path);

// No two entries name one file on Windows, and no entry is another's
// ".part" file. Sorts keys, so it stays n log n for 100,000 entries.
bool manifestPathsDistinct(const std::vector<ManifestEntry>& entries);

// Free space the worker asks for beyond the update itself.
constexpr int64_t kDiskSpaceMargin = 256LL * 1024 * 1024;

// The sizes add up, with the kDiskSpaceMargin the disk-space check adds,
// within signed 64 bits.
bool manifestSizesFit(const std::vector<ManifestEntry>& entries);

// A path as Windows compares file names: UTF-16, "\" as "/", upper case
// (ordinal, ignoring case).
std::u16string fileNameKey(const char* path);

// Upper-cases a name in place, letter by letter. Windows uses the system's
// own table; other builds a portable stand-in.
void upcaseFileName(std::u16string& name);

// gameFolder + "\" + path with "/" turned into "\", at most 519 units.
// Fails when the result would not fit, rather than writing to a cut name.
bool entryLocalPath(const wchar_t* gameFolder, const ManifestEntry& entry, wchar_t* out, size_t outUnits);

// "/launcher/file?p=" followed by the percent-encoded path.
std::wstring encodeRequestPath(const ManifestEntry& entry);
