// Fields of the signed documents, where every value has exactly one
// spelling: a signature covers bytes, so two spellings of one value would
// be two documents. Pure; never reads past the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The literal `expected` at *pos; advances past it.
bool takeLiteral(std::string_view text, size_t* pos, std::string_view expected);

// Digits only (no sign, blank or leading zero; "0" itself only when
// smallest is 0), within [smallest, largest]; advances past them.
bool takeWholeNumber(std::string_view text, size_t* pos, int64_t smallest, int64_t largest, int64_t* value);

// 2 * bytes lowercase hexadecimal digits into out; advances past them.
bool takeLowerHex(std::string_view text, size_t* pos, uint8_t* out, size_t bytes);
