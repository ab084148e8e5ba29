// The Steam file scanners on good, odd and hostile text. Built natively under
// AddressSanitizer too: each text lives in a heap block of exactly its size.
#include <doctest/doctest.h>

#include <cstring>
#include <memory>
#include <string>

#include "steam/steam_vdf.h"

namespace {

struct Text {
    std::unique_ptr<char[]> bytes;
    std::string_view view;
    explicit Text(const std::string& s) : bytes(new char[s.size() ? s.size() : 1]) {
        std::memcpy(bytes.get(), s.data(), s.size());
        view = vdfText(bytes.get(), s.size());
    }
};

std::string account(const std::string& id, const std::string& body) {
    return "\t\"" + id + "\"\n\t{\n" + body + "\t}\n";
}

std::string users(const std::string& accounts) { return "\"users\"\n{\n" + accounts + "}\n"; }

const std::string kIdA = "76561198000000001";  // low 32 bits: 39734273
const std::string kIdB = "76561198000000002";  // low 32 bits: 39734274
constexpr uint32_t kLowB = 39734274;

std::string section(const std::string& body) { return "\"2746150\"\n{\n" + body + "}\n"; }

}  // namespace

TEST_CASE("block end search: quoted braces and escaped quotes do not count") {
    Text t(R"(x { "a" "va{l}ue" "b" "say \"}\" ok" { "c" "d" } } tail)");
    size_t open = t.view.find('{');
    size_t end = findBlockEnd(t.view, open);
    REQUIRE(end != std::string_view::npos);
    CHECK(t.view.substr(end) == "} tail");

    Text unterminated(R"({ "a" { "b" "c" })");
    CHECK(findBlockEnd(unterminated.view, 0) == std::string_view::npos);
    Text openQuote(R"({ "a" "never closed })");
    CHECK(findBlockEnd(openQuote.view, 0) == std::string_view::npos);
}

TEST_CASE("quoted-value lookup within a range") {
    Text t("\"PersonaNameX\"\t\"no\" \"PersonaName\" {} \"PersonaName\" \t \"Ana\" \"Later\" \"x\"");
    CHECK(lookupQuotedValue(t.view, 0, t.view.size(), "PersonaName", 127) == std::optional<std::string>("Ana"));
    CHECK(lookupQuotedValue(t.view, 0, t.view.size(), "Persona", 127) == std::nullopt);
    size_t later = t.view.find("\"Later\"");
    CHECK(lookupQuotedValue(t.view, 0, later, "Later", 127) == std::nullopt);       // hit at the limit
    CHECK(lookupQuotedValue(t.view, 0, later + 1, "Later", 127) == std::optional<std::string>("x"));
    CHECK(lookupQuotedValue(t.view, 0, t.view.size(), "PersonaName", 2) == std::optional<std::string>("An"));

    Text open("\"Key\" \"runs to the end");
    CHECK(lookupQuotedValue(open.view, 0, open.view.size(), "Key", 127) ==
          std::optional<std::string>("runs to the end"));
    Text bare("\"Key\"");
    CHECK(lookupQuotedValue(bare.view, 0, bare.view.size(), "Key", 127) == std::nullopt);
}

TEST_CASE("account choice in loginusers.vdf") {
    const std::string a = account(kIdA, "\t\t\"PersonaName\"\t\t\"Alice\"\n\t\t\"MostRecent\"\t\t\"1\"\n");
    const std::string b = account(kIdB, "\t\t\"PersonaName\"\t\t\"Bob\"\n\t\t\"MostRecent\"\t\t\"0\"\n");
    const std::string bRecent = account(kIdB, "\t\t\"PersonaName\"\t\t\"Bob\"\n\t\t\"MostRecent\"\t\t\"1\"\n");
    const std::string aOld = account(kIdA, "\t\t\"PersonaName\"\t\t\"Alice\"\n\t\t\"MostRecent\"\t\t\"0\"\n");
    struct Case {
        const char* why;
        std::string file;
        uint32_t activeUser;
        const char* name;  // nullptr: no account
    } cases[] = {
        {"active user 0: the MostRecent one", users(aOld + bRecent), 0, "Bob"},
        {"active user wins over MostRecent", users(a + b), kLowB, "Bob"},
        {"active user matching nobody: the first", users(aOld + b), 12345, "Alice"},
        {"active 0 and nothing recent: the first", users(aOld + b), 0, "Alice"},
        {"no account", users(""), 0, nullptr},
        {"unterminated second block: the first stays", users(aOld) + "\"" + kIdB + "\" { \"PersonaName\" \"Bob\"", kLowB,
         "Alice"},
        {"no brace at all", "\"" + kIdA + "\" \"PersonaName\" \"Alice\"", 0, nullptr},
        {"braces and escaped quotes in values",
         users(account(kIdA, "\"PersonaName\" \"{Al\\\"ice}\" \"MostRecent\" \"0\"\n") + bRecent), 0, "Bob"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.why);
        Text t(c.file);
        SteamAccount chosen = chooseSteamAccount(t.view, c.activeUser);
        CHECK(chosen.found == (c.name != nullptr));
        if (c.name) CHECK(chosen.personaName == c.name);
    }
    Text t(users(a + b));
    CHECK(chooseSteamAccount(t.view, kLowB).steamId64 == 76561198000000002ULL);
}

TEST_CASE("persona names: cut at 127 bytes, missing gives empty") {
    Text longName(users(account(kIdA, "\"PersonaName\" \"" + std::string(200, 'n') + "\"")));
    CHECK(chooseSteamAccount(longName.view, 0).personaName == std::string(127, 'n'));
    Text noName(users(account(kIdA, "\"MostRecent\" \"1\"")));
    SteamAccount chosen = chooseSteamAccount(noName.view, 0);
    CHECK(chosen.found);
    CHECK(chosen.personaName.empty());
}

TEST_CASE("play statistics in localconfig.vdf") {
    struct Case {
        const char* why;
        std::string file;
        std::optional<int64_t> playtime, lastPlayed;
    } cases[] = {
        {"plain section", section("\"Playtime\" \"754\" \"LastPlayed\" \"1764000000\""), 754, 1764000000},
        {"a value hit is skipped, a later section used",
         "\"2746150\" \"some value\" \"x\" { }\n" + section("\"Playtime\" \"5\""), 5, std::nullopt},
        {"LastPlayed without Playtime: the search goes on",
         section("\"LastPlayed\" \"100\"") + section("\"Playtime\" \"9\" \"LastPlayed\" \"200\""), 9, 200},
        {"no Playtime anywhere", section("\"LastPlayed\" \"100\"") + section("\"Other\" \"1\""), std::nullopt, 100},
        {"Playtime2wks is not Playtime", section("\"Playtime2wks\" \"30\""), std::nullopt, std::nullopt},
        {"leading integer rules", section("\"Playtime\" \"  -12abc\" \"LastPlayed\" \"x\""), -12, 0},
        {"a negative Playtime goes on to later sections", section("\"Playtime\" \"-1\"") + section("\"Playtime\" \"3\""),
         3, std::nullopt},
        {"huge values are clamped", section("\"Playtime\" \"99999999999999999999999\""), INT64_MAX, std::nullopt},
        {"unterminated section", "\"2746150\" { \"Playtime\" \"5\"", std::nullopt, std::nullopt},
        {"other application id", "\"27461500\" { \"Playtime\" \"5\" }", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.why);
        Text t(c.file);
        PlayStats s = readPlayStats(t.view);
        CHECK(s.playtimeMinutes == c.playtime);
        CHECK(s.lastPlayed == c.lastPlayed);
    }
}

TEST_CASE("hostile files end cleanly: NUL bytes, deep nesting, many sections") {
    std::string withNul = section("\"Playtime\" \"5\"");
    withNul.insert(withNul.find("Playtime"), 1, '\0');
    Text nul(withNul);
    CHECK_FALSE(readPlayStats(nul.view).playtimeMinutes);

    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "\"2746150\" { ";  // never closed
    Text nested(deep);
    CHECK_FALSE(readPlayStats(nested.view).playtimeMinutes);

    std::string closedDeep;
    for (int i = 0; i < 20000; ++i) closedDeep += "\"2746150\" { \"LastPlayed\" \"1\" ";
    closedDeep += std::string(20000, '}');
    Text closedNested(closedDeep);
    PlayStats s = readPlayStats(closedNested.view);  // bounded work, whatever it finds
    CHECK_FALSE(s.playtimeMinutes);

    std::string many;
    for (int i = 0; i < 10000; ++i) many += section("\"LastPlayed\" \"" + std::to_string(i) + "\"");
    many += section("\"Playtime\" \"42\"");
    Text sections(many);
    CHECK(readPlayStats(sections.view).playtimeMinutes == 42);

    std::string accounts;
    for (int i = 0; i < 10000; ++i) accounts += account("7656119" + std::to_string(8000000000LL + i), "\"x\" \"{\"");
    Text manyUsers(users(accounts));
    CHECK(chooseSteamAccount(manyUsers.view, 0).found);

    Text quotes(std::string(100000, '"') + "\"7656119");
    CHECK_FALSE(chooseSteamAccount(quotes.view, 0).found);
}
