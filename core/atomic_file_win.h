// Writes a whole small file so that a crash at any instant leaves either the
// old file or the new one: a temporary name beside it, flushed to disk, then
// renamed over the old file.
#pragma once

#include <cstddef>

// False when anything failed; the temporary file is then gone and the old
// file is as it was.
bool writeFileAtomically(const wchar_t* path, const void* data, size_t size);
