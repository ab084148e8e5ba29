// "signed_version.txt" in the data folder: the highest manifest version the
// launcher installed under a valid signature, one line "version=N". A signed
// manifest with a lower version is a rollback and is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Pure. False for anything but "version=N" with an optional line end.
bool parseSignedVersion(const char* data, size_t size, int32_t* version);
std::string formatSignedVersion(int32_t version);

// In the data folder. A missing or unreadable record means no floor: the
// record is written atomically, so only a hand can spoil it.
bool loadSignedVersion(int32_t* version);
bool saveSignedVersion(int32_t version);
