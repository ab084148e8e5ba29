// UTF-8 to UTF-16 for names and paths that arrive as bytes (server manifest,
// Steam files). Pure; malformed sequences become U+FFFD, as Windows' own
// converter does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes data[0..size) into out, writing at most outUnits - 1 code units and
// a terminator. Returns the number of units written (without the terminator),
// or -1 when the text does not fit; out is then still terminated.
long utf8ToUtf16(const char* data, size_t size, wchar_t* out, size_t outUnits);

// Is data[0..size) well-formed UTF-8 (no overlong forms, surrogates or values
// above U+10FFFF)? For text that must be refused rather than patched up.
bool isWellFormedUtf8(const char* data, size_t size);

// Appends code point cp (at most U+10FFFF, not a surrogate) to *out as UTF-8.
void appendUtf8(uint32_t cp, std::string* out);
