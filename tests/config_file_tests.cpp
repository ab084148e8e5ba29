#include <doctest/doctest.h>

#include <cstring>
#include <string>

#include "core/config_file.h"
#include "tests/support/wide_strings.h"

TEST_CASE("server= lines of the configuration file") {
    struct Case {
        const char* line;
        bool accepted;
        const wchar_t* host;
    } cases[] = {
        {"server=play.tervalon.net\n", true, L"play.tervalon.net"},
        {"server=10.0.0.7\r\n", true, L"10.0.0.7"},
        {"server=host.example trailing words\n", true, L"host.example"},
        {"server=\n", true, L""},
        {"server= host\n", true, L""},
        {"server=h\xC3\xB6st", true, L"h\u00F6st"},
        {"Server=host\n", false, nullptr},
        {" server=host\n", false, nullptr},
        {"\xEF\xBB\xBFserver=host\n", false, nullptr},  // a byte-order mark hides the key
        {"servers=host\n", false, nullptr},
        {"serve", false, nullptr},
    };
    for (const Case& c : cases) {
        CAPTURE(c.line);
        wchar_t host[128] = L"unchanged";
        CHECK(readServerLine(c.line, std::strlen(c.line), host, 128) == c.accepted);
        CHECK(std::wstring(host) == (c.accepted ? c.host : L"unchanged"));
    }
}

TEST_CASE("a host longer than 127 units is refused whole, not cut") {
    std::string line = "server=" + std::string(127, 'a');
    wchar_t host[128] = L"old";
    CHECK(readServerLine(line.c_str(), line.size(), host, 128));
    CHECK(std::wstring(host).size() == 127);
    line += "a";
    wcscpy(host, L"old");
    CHECK_FALSE(readServerLine(line.c_str(), line.size(), host, 128));
    CHECK(std::wstring(host) == L"old");
}
