// The info and manifest readers on good and malformed documents. Built for
// Windows and natively under AddressSanitizer: every body lives in a heap
// block of exactly its size, so a read past the end is caught.
#include <doctest/doctest.h>

#include "tests/support/wide_strings.h"

#include <cstring>
#include <memory>
#include <string>

#include "files/manifest_paths.h"
#include "update/server_documents.h"

namespace {

struct Body {
    std::unique_ptr<char[]> bytes;
    size_t size;
    explicit Body(const std::string& s) : bytes(new char[s.size() ? s.size() : 1]), size(s.size()) {
        std::memcpy(bytes.get(), s.data(), s.size());
    }
};

ServerInfo info(const std::string& s) {
    Body b(s);
    return readInfo(b.bytes.get(), b.size);
}

ManifestResult manifest(const std::string& s, std::vector<ManifestEntry>& entries) {
    Body b(s);
    return readManifest(b.bytes.get(), b.size, entries);
}

std::string entry(const std::string& path, const std::string& size, const std::string& hash) {
    return "{\"p\": \"" + path + "\", \"s\": " + size + ", \"h\": \"" + hash + "\"}";
}

const std::string kHashA = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
const std::string kHashB = "0123456789abcdef0123456789abcdef01234567";

}  // namespace

TEST_CASE("info: counts, version and notes as the server writes them") {
    ServerInfo i = info(R"({"version": 7, "lobbies": 3, "players": 12, "notes": "Hello\nWorld"})");
    CHECK(i.hasVersion);
    CHECK(i.lobbies == 3);
    CHECK(i.players == 12);
    REQUIRE(i.notes);
    CHECK(*i.notes == L"Hello\r\nWorld");

    ServerInfo none = info(R"({"lobbies": 5, "players": 1})");
    CHECK_FALSE(none.hasVersion);
    CHECK(none.lobbies == 5);

    ServerInfo missing = info(R"({"version": 1})");
    CHECK(missing.lobbies == 0);
    CHECK(missing.players == 0);
    CHECK_FALSE(missing.notes);
}

TEST_CASE("number rule") {
    struct Case {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"3.9", 3},       {"-2", -2},          {"-3.9", -3},     {"\"3\"", 0},   {"", 0},
        {"  \t 42", 42},  {"1e3", 1000},       {"2.5E1", 25},    {"7e", 7},      {"+8", 8},
        {"x", 0},         {"0x10", 0},         {".5", 0},        {"12abc", 12},
        {"99999999999", 2147483647},           {"-99999999999", -2147483647 - 1},
        {"1e400", 2147483647},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CHECK(info(std::string("{\"version\":0, \"lobbies\": ") + c.text + "}").lobbies == c.expected);
    }
    std::vector<ManifestEntry> e;
    CHECK(manifest("{\"version\": 1, " + entry("a", "5000000000", kHashA), e).accepted);
    CHECK(e[0].size == 5000000000LL);
    // The largest size whose total, with the 256 MiB the space check adds, still fits.
    CHECK(manifest("{\"version\": 1, " + entry("a", "9223372036586340351", kHashA), e).accepted);
    CHECK(e[0].size == 9223372036586340351LL);
    CHECK_FALSE(manifest("{\"version\": 1, " + entry("a", "9223372036586340352", kHashA), e).accepted);
}

TEST_CASE("notes string rule") {
    struct Case {
        const char* json;
        const wchar_t* expected;  // nullptr: no notes
    } cases[] = {
        {R"("notes": null)", nullptr},
        {R"("notes": "")", L""},
        {R"("notes":"x")", L"x"},
        {R"("notes": "caf\u00e9")", L"caf\u00e9"},
        {"\"notes\": \"caf\xC3\xA9\"", L"caf\u00C3\u00A9"},  // raw UTF-8 is not decoded
        {R"("notes": "a\r\nb\tc")", L"a\r\nb\tc"},
        {R"("notes": "say \"hi\" \\ \/ \b\f")", L"say \"hi\" \\ / bf"},
        {R"("notes": "\ud83d\ude00")", L"\xD83D\xDE00"},
        {R"("notes": "unterminated)", L"unterminated"},
        {R"("notes": "tail\)", L"tail\\"},         // backslash at the very end
        {R"("notes": "ab\u00)", L"ab"},            // escape cut off by the end
        {R"("notes": "ab\u0)", L"ab"},
        {R"("notes": "\u0000x")", L"x"},           // a zero unit would cut the text
        {R"("notes": "\u00zzy")", L"y"},           // hex read up to the first non-digit
        {R"("notes": "\u4x41")", L"\x0004"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.json);
        ServerInfo i = info(std::string("{\"version\": 1, ") + c.json);
        if (!c.expected) {
            CHECK_FALSE(i.notes);
        } else {
            REQUIRE(i.notes);
            CHECK(*i.notes == c.expected);
        }
    }
}

TEST_CASE("a zero byte ends the body for every search") {
    std::string s = std::string("{\"version\": 2, \"lobbies\": 4") + '\0' + ", \"players\": 9, \"notes\": \"x\"}";
    ServerInfo i = info(s);
    CHECK(i.hasVersion);
    CHECK(i.lobbies == 4);
    CHECK(i.players == 0);
    CHECK_FALSE(i.notes);

    std::vector<ManifestEntry> e;
    std::string m = "{\"version\": 3, " + entry("a", "1", kHashA) + '\0' + entry("b", "1", kHashB);
    CHECK(manifest(m, e).accepted);
    CHECK(e.size() == 1);
    std::string cutHash = "{\"version\": 3, " + entry("a", "1", kHashA.substr(0, 20) + '\0' + kHashA.substr(21));
    CHECK_FALSE(manifest(cutHash, e).accepted);
}

TEST_CASE("Ready-phase poll: counts only when both are present") {
    Body both(R"({"version": 9, "lobbies": 2, "players": 8})");
    ServerInfoPoll p = readInfoPoll(both.bytes.get(), both.size);
    CHECK(p.hasCounts);
    CHECK(p.lobbies == 2);
    CHECK(p.players == 8);
    CHECK(p.hasVersion);
    CHECK(p.version == 9);

    Body one(R"({"lobbies": 2})");
    p = readInfoPoll(one.bytes.get(), one.size);
    CHECK_FALSE(p.hasCounts);
    CHECK_FALSE(p.hasVersion);
}

TEST_CASE("manifest: entries in any key order, other keys ignored") {
    std::vector<ManifestEntry> e;
    std::string m = "{\"version\": 12, \"extra\": [1,2], \"files\": [\n  " + entry("Tervalon.exe", "1024", kHashA) +
                    ",\n  {\"p\": \"Content/Paks/Level 1.pak\", \"h\": \"" + kHashB + "\", \"s\": 7}\n]}";
    ManifestResult r = manifest(m, e);
    CHECK(r.accepted);
    CHECK(r.version == 12);
    REQUIRE(e.size() == 2);
    CHECK(std::string(e[0].path) == "Tervalon.exe");
    CHECK(e[0].size == 1024);
    CHECK(std::string(e[0].sha1) == kHashA);
    CHECK(e[0].needsUpdate == 0);
    CHECK(std::string(e[1].path) == "Content/Paks/Level 1.pak");
    CHECK(e[1].size == 7);
    CHECK(std::string(e[1].sha1) == kHashB);
}

TEST_CASE("manifest: a map's and a fine map's hash belong to their own entry, and only as 64 lowercase hex digits") {
    std::vector<ManifestEntry> e;
    const std::string map(64, 'a'), fine(64, 'f');
    auto withMap = [](const std::string& line, const std::string& m) {
        return line.substr(0, line.size() - 1) + ", \"m\": \"" + m + "\"}";
    };
    std::string m = "{\"version\": 3, \"files\": [" + entry("a.pak", "1", kHashA) + ", " +
                    withMap(entry("b.pak", "1", kHashB), map + "\", \"f\": \"" + fine) + ", " +
                    withMap(entry("c.pak", "1", kHashA), std::string(64, 'A')) + ", " +
                    withMap(entry("d.pak", "1", kHashB), std::string(63, 'a')) + "]}";
    REQUIRE(manifest(m, e).accepted);
    REQUIRE(e.size() == 4);
    CHECK(std::string(e[0].mapSha256).empty());  // not the next entry's
    CHECK(std::string(e[1].mapSha256) == map);
    CHECK(std::string(e[1].fineSha256) == fine);
    for (int i : {0, 2, 3}) CHECK(std::string(e[i].fineSha256).empty());
    CHECK(std::string(e[2].mapSha256).empty());  // upper case names no map
    CHECK(std::string(e[3].mapSha256).empty());  // nor a short one
}

TEST_CASE("manifest: a zst form counts with its hash and size, in its own entry") {
    std::vector<ManifestEntry> e;
    const std::string z(64, 'c'), frames(64, 'd');
    auto with = [](const std::string& line, const std::string& fields) { return line.substr(0, line.size() - 1) + fields + "}"; };
    std::string m = "{\"version\": 3, \"files\": [" +
                    with(entry("a.pak", "9000000", kHashA), ", \"z\": \"" + z + "\", \"zs\": 4500000, \"zf\": \"" + frames + "\"") + ", " +
                    entry("b.pak", "10", kHashB) + ", " +
                    with(entry("c.pak", "10", kHashA), ", \"z\": \"" + z + "\"") + ", " +
                    with(entry("d.pak", "10", kHashB), ", \"z\": \"" + z + "\", \"zs\": 1234567890123456789") + "]}";
    REQUIRE(manifest(m, e).accepted);
    REQUIRE(e.size() == 4);
    CHECK(e[0].size == 9000000);  // "zs" is not mistaken for "s"
    CHECK(std::string(e[0].zstSha256) == z);
    CHECK(e[0].zstSize == 4500000);
    CHECK(std::string(e[0].framesSha256) == frames);
    CHECK(std::string(e[1].zstSha256).empty());  // not the next entry's
    CHECK(std::string(e[1].framesSha256).empty());
    for (int i : {2, 3}) {  // no size, or one of 19 digits: no zst form
        CHECK(std::string(e[i].zstSha256).empty());
        CHECK(e[i].zstSize == 0);
    }
}

TEST_CASE("manifest: patches count only exactly as publish writes them, each entry its own") {
    std::vector<ManifestEntry> e;
    const std::string z(64, 'c'), frames(64, 'd');
    auto with = [](const std::string& line, const std::string& fields) { return line.substr(0, line.size() - 1) + fields + "}"; };
    auto offer = [&](const std::string& from, const std::string& size, const std::string& table) {
        return "[\"" + from + "\", " + size + ", \"" + z + "\", \"" + table + "\"]";
    };
    const std::string two = ", \"from\": [" + offer(kHashB, "5120", frames) + ", " + offer(kHashA, "77", "") + "]";
    const std::string bad[] = {
        ", \"from\": [" + offer(kHashB, "0", "") + "]",                      // a patch of no bytes
        ", \"from\": [" + offer(kHashB, "1234567890123456789", "") + "]",    // 19 digits
        ", \"from\": [" + offer(std::string(40, 'A'), "10", "") + "]",      // upper case
        ", \"from\": [" + offer(kHashB, "10", "") + ", " + offer(kHashA.substr(1), "10", "") + "]",  // one bad: none
        ", \"from\": [" + offer(kHashB, "10", "") + "",                      // the body ends inside the list
    };
    std::string m = "{\"version\": 3, \"files\": [" + with(entry("a.pak", "9000000", kHashA), two) + ", " +
                    entry("b.pak", "10", kHashB);
    for (size_t i = 0; i < std::size(bad); ++i) {
        m += ", ";
        m += with(entry(std::to_string(i) + ".x", "10", kHashA), bad[i]);
    }
    m.pop_back();  // the last entry is cut inside its list
    REQUIRE(manifest(m, e).accepted);
    REQUIRE(e.size() == 2 + std::size(bad));
    REQUIRE(e[0].patches.size() == 2);
    CHECK(std::string(e[0].patches[0].from) == kHashB);
    CHECK(e[0].patches[0].size == 5120);
    CHECK(std::string(e[0].patches[0].sha256) == z);
    CHECK(std::string(e[0].patches[0].framesSha256) == frames);
    CHECK(std::string(e[0].patches[1].from) == kHashA);
    CHECK(std::string(e[0].patches[1].framesSha256).empty());
    CHECK(e[1].patches.empty());  // not the entry's before it
    for (size_t i = 2; i < e.size(); ++i) CHECK_MESSAGE(e[i].patches.empty(), "case ", i - 2);
}

TEST_CASE("manifest: rejected documents") {
    std::vector<ManifestEntry> e;
    const std::string good = entry("ok.txt", "1", kHashA);
    struct Case {
        const char* why;
        std::string body;
    } cases[] = {
        {"no version", good},
        {"no entry", "{\"version\": 1}"},
        {"no space after the path key", "{\"version\": 1, {\"p\":\"a\", \"s\": 1, \"h\": \"" + kHashA + "\"}"},
        {"parent folder", "{\"version\": 1, " + good + entry("a/../../evil.dll", "1", kHashA)},
        {"drive colon", "{\"version\": 1, " + good + entry("C:evil.dll", "1", kHashA)},
        {"leading slash", "{\"version\": 1, " + good + entry("/etc/x", "1", kHashA)},
        {"leading backslash", "{\"version\": 1, " + good + entry("\\\\host\\share", "1", kHashA)},
        {"empty path", "{\"version\": 1, " + good + entry("", "1", kHashA)},
        {"negative size", "{\"version\": 1, " + good + entry("a", "-5", kHashA)},
        {"no size", "{\"version\": 1, {\"p\": \"a\", \"h\": \"" + kHashA + "\"}"},
        {"no hash", "{\"version\": 1, {\"p\": \"a\", \"s\": 1}"},
        {"hash cut short by the end", "{\"version\": 1, {\"p\": \"a\", \"s\": 1, \"h\": \"da39a3ee"},
        {"path runs to the end", "{\"version\": 1, {\"p\": \"abc"},
        // Names Windows cannot hold, or would take for a device.
        {"a forbidden character", "{\"version\": 1, " + good + entry("a?b.txt", "1", kHashA)},
        {"a control byte", "{\"version\": 1, " + good + entry("a\tb.txt", "1", kHashA)},
        {"a component ending in a dot", "{\"version\": 1, " + good + entry("Data./a.bin", "1", kHashA)},
        {"a name ending in a space", "{\"version\": 1, " + good + entry("a.bin ", "1", kHashA)},
        {"an empty component", "{\"version\": 1, " + good + entry("a//b.bin", "1", kHashA)},
        {"a trailing slash", "{\"version\": 1, " + good + entry("Data/", "1", kHashA)},
        {"NUL", "{\"version\": 1, " + good + entry("Engine/NUL", "1", kHashA)},
        {"com1 with an extension", "{\"version\": 1, " + good + entry("Paks/com1.pak", "1", kHashA)},
        {"LPT9", "{\"version\": 1, " + good + entry("LPT9.txt", "1", kHashA)},
        {"a superscript port", "{\"version\": 1, " + good + entry("COM\xC2\xB9.txt", "1", kHashA)},
        {"a device before spaces", "{\"version\": 1, " + good + entry("aux .log", "1", kHashA)},
        {"CONOUT$", "{\"version\": 1, " + good + entry("x/conout$", "1", kHashA)},
        // Two paths, one file on Windows.
        {"case", "{\"version\": 1, " + entry("Data/a.bin", "1", kHashA) + entry("data/A.bin", "1", kHashA)},
        {"case beyond ASCII", "{\"version\": 1, " + entry("Caf\xC3\xA9.bin", "1", kHashA) + entry("CAF\xC3\x89.bin", "1", kHashA)},
        {"a backslash", "{\"version\": 1, " + entry("a/b.bin", "1", kHashA) + entry("a\\b.bin", "1", kHashA)},
        {"a part file", "{\"version\": 1, " + entry("x.bin", "1", kHashA) + entry("X.BIN.part", "1", kHashA)},
        {"sizes past 64 bits", "{\"version\": 1, " + entry("a", "6000000000000000000", kHashA) +
                                   entry("b", "6000000000000000000", kHashA)},
    };
    for (const Case& c : cases) {
        CAPTURE(c.why);
        CHECK_FALSE(manifest(c.body, e).accepted);
    }
    // Near misses that Windows keeps apart.
    CHECK(manifest("{\"version\": 1, " + entry("CONFIG.ini", "1", kHashA) + entry("COM10.pak", "1", kHashA) +
                       entry("nulls/a.bin", "1", kHashA) + entry("a.bin", "1", kHashA) + entry("a.bin.partial", "1", kHashA) +
                       entry("b.bin", "9223372036586340346", kHashA), e)
              .accepted);
    // The version is still known from a rejected manifest.
    ManifestResult r = manifest("{\"version\": 5, " + entry("../x", "1", kHashA), e);
    CHECK(r.hasVersion);
    CHECK(r.version == 5);
}

TEST_CASE("manifest: long paths are cut at 399 bytes, the hash is taken as it stands") {
    std::vector<ManifestEntry> e;
    std::string longName(450, 'n');
    REQUIRE(manifest("{\"version\": 1, " + entry(longName, "3", kHashA), e).accepted);
    CHECK(std::strlen(e[0].path) == 399);
    CHECK(e[0].size == 3);

    std::string odd = "{\"version\": 1, {\"p\": \"a\", \"s\": 1, \"h\": \"" + std::string(40, 'Z') + "\"}";
    REQUIRE(manifest(odd, e).accepted);
    CHECK(std::string(e[0].sha1) == std::string(40, 'Z'));
}

TEST_CASE("manifest: a thousand entries grow the table by doubling, and a re-read starts afresh") {
    std::vector<ManifestEntry> e;
    std::string m = "{\"version\": 4, \"files\": [";
    for (int i = 0; i < 1000; ++i) m += entry("dir/file" + std::to_string(i), std::to_string(i), kHashB) + ",";
    m += "]}";
    REQUIRE(manifest(m, e).accepted);
    CHECK(e.size() == 1000);
    CHECK(e.capacity() == 1024);
    CHECK(std::string(e[999].path) == "dir/file999");
    CHECK(e[999].size == 999);

    REQUIRE(manifest("{\"version\": 5, " + entry("only", "1", kHashA), e).accepted);
    CHECK(e.size() == 1);
    CHECK(e.capacity() == kManifestInitialCapacity);
}

TEST_CASE("local path of an entry") {
    ManifestEntry e{};
    std::strcpy(e.path, "Content/Paks/Caf\xC3\xA9 1.pak");
    wchar_t out[520];
    REQUIRE(entryLocalPath(L"C:\\Data\\UE4TVL\\Game", e, out, 520));
    CHECK(std::wstring(out) == L"C:\\Data\\UE4TVL\\Game\\Content\\Paks\\Caf\u00e9 1.pak");

    std::strcpy(e.path, "bad\xFF.txt");
    REQUIRE(entryLocalPath(L"G", e, out, 520));
    CHECK(std::wstring(out) == L"G\\bad\uFFFD.txt");

    // Too long for the buffer: refused instead of writing to a cut name.
    std::memset(e.path, 'x', 399);
    e.path[399] = 0;
    std::wstring folder = L"C:\\" + std::wstring(200, L'f');
    CHECK_FALSE(entryLocalPath(folder.c_str(), e, out, 520));
    std::wstring fits = L"C:\\" + std::wstring(116, L'f');  // 119 + 1 + 399 units and the terminator
    REQUIRE(entryLocalPath(fits.c_str(), e, out, 520));
    CHECK(std::wstring(out).size() == 519);
    CHECK_FALSE(entryLocalPath((fits + L"f").c_str(), e, out, 520));
}

TEST_CASE("request path of an entry") {
    ManifestEntry e{};
    std::strcpy(e.path, "Content/Paks/Level 1.pak");
    CHECK(encodeRequestPath(e) == L"/launcher/file?p=Content/Paks/Level%201.pak");
    std::strcpy(e.path, "a-b_c.d~e/%?&+#\xC3\xA9");
    CHECK(encodeRequestPath(e) == L"/launcher/file?p=a-b_c.d~e/%25%3F%26%2B%23%C3%A9");

    // Encoding stops once 1,180 characters are out, so the target fits 1,200 units.
    std::memset(e.path, '\xE9', 399);
    e.path[399] = 0;
    std::wstring target = encodeRequestPath(e);
    CHECK(target.size() == 17 + 1182);
    CHECK(target.substr(target.size() - 3) == L"%E9");
}
