// The key and signature formats that any signing tool must be able to write,
// decoded as strictly as an attacker's bytes deserve. The vectors were made
// with `openssl ecparam -name prime256v1 -genkey` and `openssl dgst -sha256
// -sign`, then converted from DER to the raw formats.
#include <doctest/doctest.h>

#include <cstring>
#include <string>

#include "core/config_file.h"
#include "trust/release_floor.h"
#include "trust/signing_formats.h"

namespace {

const std::string kKey = "i6KkLhelS0YYvj85uq+X80Md1Yq9uIdtVknJStscpBpYPt05RHHd2qeJlTULqpwdNfgi//mkJ9BAUmn+Msnlvg==";
const std::string kSignature =
    "itQJev1K4ocjg80Zbhid41W8eJ7xqLACYMxnbj6C1IXoE4u1JtNhBZcvm0Vv33sJ1jbQVVM3bmCpZ0qfM1md/w==";

bool keyDecodes(const std::string& text) {
    uint8_t xy[64];
    return decodeManifestKey(text.data(), text.size(), xy);
}

bool signatureDecodes(const std::string& body) {
    ManifestSignature s;
    return decodeManifestSignature(body.data(), body.size(), &s);
}

}  // namespace

TEST_CASE("manifest keys: a real P-256 key decodes; wrong length, characters, padding and points do not") {
    uint8_t xy[64];
    REQUIRE(decodeManifestKey(kKey.data(), kKey.size(), xy));
    CHECK(encodeBase64(xy, 64) == kKey);
    struct Case {
        const char* why;
        std::string text;
    } refused[] = {
        {"87 characters", kKey.substr(1)},
        {"89 characters", kKey + "="},
        {"a line end inside", kKey.substr(0, 86) + "\n="},
        {"URL-safe alphabet", std::string(kKey).replace(kKey.find('+'), 1, "-")},
        {"a space", " " + kKey.substr(1)},
        {"padding too early", kKey.substr(0, 40) + "=" + kKey.substr(41)},
        {"pad bits not zero: the same bytes spelt another way", kKey.substr(0, 85) + "w=="},
        {"Y with one bit flipped: not on the curve",
         "i6KkLhelS0YYvj85uq+X80Md1Yq9uIdtVknJStscpBpYPt05RHHd2qeJlTULqpwdNfgi//mkJ9BAUmn+Msnlvw=="},
        {"all zeros", std::string(86, 'A') + "=="},
        // (5, y) lies on the curve; X + p names the same point modulo p
        // and must still be refused.
        {"X not below p", "/////wAAAAEAAAAAAAAAAAAAAAEAAAAAAAAAAAAAAARFkkO5qlgYBv6RO86ZgXreEcpQPGTZo8UzQVwIMkj7zA=="},
    };
    CHECK(keyDecodes("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAVFkkO5qlgYBv6RO86ZgXreEcpQPGTZo8UzQVwIMkj7zA=="));
    for (const Case& c : refused) {
        CAPTURE(c.why);
        CHECK_FALSE(keyDecodes(c.text));
    }
}

TEST_CASE("signature bodies: 88 characters and at most one line end; r and s between 1 and n-1") {
    CHECK(signatureDecodes(kSignature));
    CHECK(signatureDecodes(kSignature + "\n"));
    CHECK(signatureDecodes(kSignature + "\r\n"));
    CHECK_FALSE(signatureDecodes(kSignature + "\n\n"));
    CHECK_FALSE(signatureDecodes(kSignature + " \n"));
    CHECK_FALSE(signatureDecodes(kSignature + "\r"));
    CHECK_FALSE(signatureDecodes(kSignature.substr(0, 87)));
    CHECK_FALSE(signatureDecodes(""));
    CHECK_FALSE(signatureDecodes("<html>" + kSignature));
    // s = n (the group order) and r = 0 are outside the range.
    CHECK_FALSE(signatureDecodes("itQJev1K4ocjg80Zbhid41W8eJ7xqLACYMxnbj6C1IX/////AAAAAP//////////vOb6racXnoTzucrC/GMlUQ=="));
    CHECK_FALSE(signatureDecodes("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAADoE4u1JtNhBZcvm0Vv33sJ1jbQVVM3bmCpZ0qfM1md/w=="));
}

TEST_CASE("base64 round trips every length, and decoding wants exactly the promised size") {
    for (size_t n = 0; n < 70; ++n) {
        std::string bytes;
        for (size_t i = 0; i < n; ++i) bytes += static_cast<char>(i * 37 + 11);
        std::string text = encodeBase64(reinterpret_cast<const uint8_t*>(bytes.data()), n);
        uint8_t out[70];
        CAPTURE(n);
        REQUIRE(decodeBase64Exact(text.data(), text.size(), out, n));
        CHECK(std::string(reinterpret_cast<char*>(out), n) == bytes);
        if (n > 0) CHECK_FALSE(decodeBase64Exact(text.data(), text.size(), out, n - 1));
    }
}

TEST_CASE("which key the launcher uses: a built-in key holds, and a malformed one never falls back") {
    const std::string other = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAVFkkO5qlgYBv6RO86ZgXreEcpQPGTZo8UzQVwIMkj7zA==";
    const std::string bad = "not a key", empty;
    CHECK(chooseManifestKey(nullptr, "").state == kNoManifestKey);
    CHECK(chooseManifestKey(nullptr, nullptr).state == kNoManifestKey);
    ManifestKey builtIn = chooseManifestKey(nullptr, other.c_str());
    CHECK(builtIn.state == kManifestKeyValid);
    CHECK(builtIn.xy[31] == 5);
    ManifestKey ini = chooseManifestKey(&kKey, "");
    CHECK(ini.state == kManifestKeyValid);
    CHECK(encodeBase64(ini.xy, 64) == kKey);
    // An ini key beside a built-in one must be that key: another valid key,
    // a malformed one or a look-alike line are all refused, never preferred.
    CHECK(chooseManifestKey(&other, other.c_str()).state == kManifestKeyValid);
    CHECK_FALSE(keysConflict(&other, other.c_str()));
    for (const std::string* iniKey : {&kKey, &bad, &empty}) {
        CHECK(keysConflict(iniKey, other.c_str()));
        CHECK(chooseManifestKey(iniKey, other.c_str()).state == kManifestKeyMalformed);
    }
    CHECK_FALSE(keysConflict(&kKey, ""));
    CHECK(chooseManifestKey(&bad, "").state == kManifestKeyMalformed);
    CHECK(chooseManifestKey(nullptr, bad.c_str()).state == kManifestKeyMalformed);
}

TEST_CASE("manifest_key= lines, and lines that only look like one") {
    struct Case {
        const char* line;
        bool keyLine;
        const char* value;
    } cases[] = {
        {"manifest_key=abc\r\n", true, "abc"},
        {"manifest_key=abc # ours\n", true, "abc"},
        {"manifest_key=\n", true, ""},
        {"Manifest_Key=abc\n", true, ""},      // a typo: malformed, not off
        {"manifest_key = abc\n", true, ""},
        {"\xEF\xBB\xBFmanifest_key=abc\n", true, ""},
        {"  manifest_key=abc\n", true, ""},
        {"server=manifest_key\n", false, nullptr},
        {"# manifest_key=abc\n", false, nullptr},
        {"manifest\n", false, nullptr},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.line));
        std::string value = "unchanged";
        CHECK(readKeyLine(c.line, std::strlen(c.line), &value) == c.keyLine);
        CHECK(value == (c.keyLine ? c.value : "unchanged"));
    }
}

TEST_CASE("the rollback record: floors per key and host, only ever raised, a spoiled line costs only itself") {
    const std::string keyA = std::string(87, 'A') + "=", keyB = std::string(87, 'B') + "=";
    std::vector<ReleaseFloor> floors;
    CHECK(raiseFloor(&floors, {keyA, "play.tervalon.net", 6, 0}));
    CHECK(raiseFloor(&floors, {keyA, "beta.tervalon.net", 100, 0}));  // a beta site under the same key
    CHECK(raiseFloor(&floors, {keyB, "play.tervalon.net", 2, 0}));
    CHECK_FALSE(raiseFloor(&floors, {keyA, "play.tervalon.net", 5, 0}));
    CHECK(raiseFloor(&floors, {keyA, "play.tervalon.net", 0, 9}));  // a launcher swapped in: the release floor stays
    const std::string text = formatReleaseFloors(floors);
    std::string spoiled = "junk\n" + text + keyA + " x.net 07 0\n" + keyA + " y.net 7\n";
    const std::vector<ReleaseFloor> back = parseReleaseFloors(spoiled.data(), spoiled.size());
    CHECK(back.size() == 3);
    CHECK(floorFor(back, keyA, "play.tervalon.net").version == 6);
    CHECK(floorFor(back, keyA, "play.tervalon.net").launcher == 9);
    CHECK(floorFor(back, keyA, "beta.tervalon.net").version == 100);
    CHECK(floorFor(back, keyB, "play.tervalon.net").version == 2);
    CHECK(floorFor(back, keyB, "beta.tervalon.net").version == 0);
    for (int32_t i = 0; i < 70; ++i) raiseFloor(&floors, {keyB, "h" + std::to_string(i), 1, 0});
    CHECK(floors.size() == kReleaseFloorLines);  // the oldest pairs went, the newest stay
    CHECK(floorFor(floors, keyB, "h69").version == 1);
}
