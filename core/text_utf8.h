// UTF-8 to UTF-16 for names and paths that arrive as bytes (server manifest,
// Steam files). Pure; malformed sequences become U+FFFD, as Windows' own
// converter does.
#pragma once

#include <cstddef>

// Decodes data[0..size) into out, writing at most outUnits - 1 code units and
// a terminator. Returns the number of units written (without the terminator),
// or -1 when the text does not fit; out is then still terminated.
long utf8ToUtf16(const char* data, size_t size, wchar_t* out, size_t outUnits);
