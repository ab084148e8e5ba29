#include <doctest/doctest.h>

#include "tests/support/wide_strings.h"

#include <cstring>
#include <string>

#include "core/text_utf8.h"

namespace {
std::wstring decode(const std::string& s, size_t units = 64) {
    wchar_t out[64];
    long n = utf8ToUtf16(s.data(), s.size(), out, units);
    REQUIRE(n >= 0);
    return std::wstring(out, static_cast<size_t>(n));
}
}  // namespace

TEST_CASE("UTF-8 decoding of names and paths") {
    CHECK(decode("Level 1") == L"Level 1");
    CHECK(decode("\xC3\xA4\xE2\x82\xAC") == L"\u00E4\u20AC");
    std::wstring emoji = decode("\xF0\x9F\x98\x80");  // U+1F600 as a surrogate pair
    REQUIRE(emoji.size() == 2);
    CHECK(emoji[0] == 0xD83D);
    CHECK(emoji[1] == 0xDE00);

    // Malformed input: each bad piece becomes one U+FFFD, good text around it survives.
    CHECK(decode("a\xFF" "b") == L"a\uFFFDb");
    CHECK(decode("a\xC3") == L"a\uFFFD");                 // cut at the end
    CHECK(decode("\xE2\x82" "x") == L"\uFFFDx");          // cut in the middle
    CHECK(decode("\xC0\xAF") == L"\uFFFD\uFFFD");         // overlong slash
    CHECK(decode("\xED\xA0\x80") == L"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    CHECK(decode("\xF4\x90\x80\x80") == L"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
}

TEST_CASE("UTF-8 decoding refuses text that does not fit, and still terminates") {
    wchar_t out[4];
    CHECK(utf8ToUtf16("abc", 3, out, 4) == 3);
    CHECK(utf8ToUtf16("abcd", 4, out, 4) == -1);
    CHECK(out[3] == 0);
    CHECK(utf8ToUtf16("ab\xF0\x9F\x98\x80", 6, out, 4) == -1);  // the pair would need units 2 and 3
    CHECK(std::wstring(out) == L"ab");
}
