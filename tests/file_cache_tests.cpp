#include <doctest/doctest.h>

#include <cstring>
#include <string>

#include "files/file_cache.h"

TEST_CASE("cache line reading") {
    const std::string h(40, 'f');
    struct Case {
        std::string line;
        bool ok;
        const char* path;
        int64_t size;
        int64_t mtime;
    } cases[] = {
        {h + "|12|133000000000000000|Content/a.pak\n", true, "Content/a.pak", 12, 133000000000000000},
        {h + "|12|34|a b|c.pak\r\n", true, "a b|c.pak", 12, 34},  // the path may hold "|"
        {h + "|-1|-2|p", true, "p", -1, -2},
        {"abc|1|2|short-hash", true, "short-hash", 1, 2},  // 1 to 40 digits are read
        {std::string(40, 'F') + "|1|2|p\n", false, nullptr, 0, 0},  // uppercase
        {std::string(41, 'a') + "|1|2|p\n", false, nullptr, 0, 0},
        {h + "|1|2|\n", false, nullptr, 0, 0},  // no path
        {h + "|1|2\n", false, nullptr, 0, 0},
        {h + "|x|2|p\n", false, nullptr, 0, 0},
        {h + "|99999999999999999999|2|p\n", false, nullptr, 0, 0},  // refused, not wrapped
        {"|1|2|p\n", false, nullptr, 0, 0},
        {"", false, nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.line);
        FileCacheEntry row{};
        row.path = "untouched";
        CHECK(parseCacheLine(c.line.data(), c.line.size(), row) == c.ok);
        if (c.ok) {
            CHECK(std::string(row.path) == c.path);
            CHECK(row.size == c.size);
            CHECK(row.mtime == c.mtime);
        } else {
            CHECK(std::string(row.path) == "untouched");
        }
    }
    FileCacheEntry row{};
    std::string longPath = h + "|1|2|" + std::string(450, 'p');
    REQUIRE(parseCacheLine(longPath.data(), longPath.size(), row));
    CHECK(row.path.size() == 399);
    CHECK(std::string(row.sha1) == h);
}
