// Lets doctest print std::wstring values in failed checks (non-ASCII as \uXXXX).
#pragma once

#include <doctest/doctest.h>

#include <cstdio>
#include <string>

namespace doctest {
template <>
struct StringMaker<std::wstring> {
    static String convert(const std::wstring& w) {
        std::string out = "L\"";
        for (wchar_t c : w) {
            if (c >= 0x20 && c < 0x7F) {
                out.push_back(static_cast<char>(c));
            } else {
                char buf[16];
                std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
                out += buf;
            }
        }
        return (out + "\"").c_str();
    }
};
}  // namespace doctest
