// The one decimal integer scanner of the launcher's own files. Pure.
#pragma once

#include <cstddef>
#include <cstdint>

// A signed decimal at s[*pos]: leading blanks, a sign, digits. Out-of-range
// values are refused rather than wrapped. Advances *pos past the digits.
bool scanInt64(const char* s, size_t length, size_t* pos, int64_t* value);
