// The release document: exactly the text the publish tool writes, or nothing.
#include <doctest/doctest.h>

#include <cstring>
#include <string>

#include "net/sources.h"
#include "trust/release.h"

namespace {

const std::string kHash(64, 'a');
const std::string kOther = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kSig = "IGKSvFzN2Dvq/HLlVQJUHRRK8RzopFcM57U8LFxcgGHhSNtzH6h3dQ4/QmIiSMERuebtrJYSU8X3o6DUSU0ZQw==";

std::string signedPart(const std::string& optional = "") {
    return "tvl-release 1\nhost launcher.example.net\nversion 7\nexpires 1800000000\n"
           "manifest " + kHash + " 5120\nnotes " + kOther + " 0\n" + optional;
}

std::string release(const std::string& optional = "") { return signedPart(optional) + "sig " + kSig + "\n"; }

bool reads(const std::string& text, Release* r = nullptr) {
    Release scratch;
    return readRelease(text.data(), text.size(), r ? r : &scratch);
}

// The text with the first `from` replaced by `to`.
std::string with(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    REQUIRE(at != std::string::npos);
    return text.replace(at, from.size(), to);
}

}  // namespace

TEST_CASE("a release as the publish tool writes it, with and without its optional lines") {
    Release r;
    REQUIRE(reads(release(), &r));
    CHECK(r.host == "launcher.example.net");
    CHECK(r.version == 7);
    CHECK(r.expires == 1800000000);
    CHECK(r.manifest.size == 5120);
    CHECK(r.manifest.sha256[0] == 0xAA);
    CHECK(r.notes.size == 0);
    CHECK(r.notes.sha256[31] == 0xEF);
    CHECK_FALSE(r.hasBanner);
    CHECK_FALSE(r.hasLauncher);
    CHECK(r.signedSize == signedPart().size());

    const std::string optional = "banner " + kOther + " 40000\nlauncher 3 " + kHash + " 1500000\n";
    REQUIRE(reads(release(optional), &r));
    CHECK((r.hasBanner && r.banner.size == 40000));
    CHECK((r.hasLauncher && r.launcherVersion == 3 && r.launcher.size == 1500000));
    CHECK(r.signedSize == signedPart(optional).size());
    CHECK(reads(release("launcher 3 " + kHash + " 1500000\n")));  // a launcher without a banner
}

TEST_CASE("any other line, order or spelling is malformed") {
    const std::string good = release("banner " + kOther + " 40000\n");
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"CRLF line ends", with(good, "version 7\n", "version 7\r\n")},
        {"a leading zero", with(good, "version 7", "version 07")},
        {"a sign", with(good, "version 7", "version +7")},
        {"version 0", with(good, "version 7", "version 0")},
        {"version 2^31", with(good, "version 7", "version 2147483648")},
        {"two blanks", with(good, "version 7", "version  7")},
        {"an uppercase hash", with(good, "manifest " + kHash, "manifest " + std::string(64, 'A'))},
        {"a short hash", with(good, "manifest " + kHash, "manifest " + kHash.substr(2))},
        {"an uppercase host", with(good, "launcher.example.net", "Launcher.example.net")},
        {"a host with a blank", with(good, "launcher.example.net", "launcher example.net")},
        {"an empty host", with(good, "launcher.example.net", "")},
        {"no notes line", with(good, "notes " + kOther + " 0\n", "")},
        {"notes before manifest", with(with(good, "manifest " + kHash + " 5120\n", ""), "banner", "manifest " + kHash + " 5120\nbanner")},
        {"an unknown line", with(good, "sig ", "comment hello\nsig ")},
        {"a second release", good + good},
        {"bytes after the sig line", good + "x"},
        {"no line end after sig", good.substr(0, good.size() - 1)},
        {"a short signature", with(good, kSig, kSig.substr(4))},
        {"an object past 64 MiB", with(good, "5120", "67108865")},
        {"a banner after the launcher line", release("launcher 3 " + kHash + " 9\nbanner " + kOther + " 40000\n")},
        {"no expiry", with(good, "expires 1800000000\n", "")},
        {"an expiry past the year 9999", with(good, "1800000000", "253402300800")},
        {"another format version", with(good, "tvl-release 1", "tvl-release 3")},
        {"mirrors in format 1", with(good, "sig ", "mirror https://m.example.net\nsig ")},
    };
    CHECK(reads(good));
    for (const auto& c : cases) {
        CAPTURE(c.what);
        CHECK_FALSE(reads(c.text));
    }
    CHECK_FALSE(reads(good + std::string(kReleaseLimit, '\n')));
}

TEST_CASE("the rules around the signature: the host in any case, expiry to the second, the floor") {
    Release r;
    REQUIRE(readRelease(release().data(), release().size(), &r));
    CHECK(judgeRelease(r, "Launcher.Example.NET", 1799999999, 7, true) == kReleaseUsable);
    CHECK(judgeRelease(r, "launcher.example.net.evil", 0, 0, true) == kReleaseOtherHost);
    CHECK(judgeRelease(r, "example.net", 0, 0, true) == kReleaseOtherHost);
    CHECK(judgeRelease(r, "launcher.example.net", 1800000000, 0, true) == kReleaseExpired);
    CHECK(judgeRelease(r, "launcher.example.net", 1800000000, 0, false) == kReleaseUsable);  // kept releases
    CHECK(judgeRelease(r, "launcher.example.net", 0, 8, true) == kReleaseRollback);
    CHECK(utcDate(0) == "1970-01-01");
    CHECK(utcDate(951782400) == "2000-02-29");
    CHECK(utcDate(1800000000) == "2027-01-15");
    CHECK(utcDate(kLatestExpiry) == "9999-12-31");
}

TEST_CASE("the notes object shows as the info's notes did: UTF-8, each LF a line end, a bad byte one mark") {
    const std::string notes = "Version 5\n\xE2\x80\xA2 caf\xC3\xA9\n\xFF!";
    CHECK(releaseNotesText(notes.data(), notes.size()) == L"Version 5\r\n\u2022 caf\u00e9\r\n\uFFFD!");
    CHECK(releaseNotesText("", 0).empty());
}

TEST_CASE("format 2 names mirrors, each a folder on a host; it matches the format 1 release it adds them to") {
    const std::string one = release("banner " + kOther + " 40000\n");
    const std::string two = with(with(one, "tvl-release 1", "tvl-release 2"), "sig ",
                                 "mirror https://cdn.example.net\nmirror https://10.0.0.7:8443/tervalon/site-2\nsig ");
    Release r1, r2;
    REQUIRE(reads(one, &r1));
    REQUIRE(reads(two, &r2));
    CHECK(r1.format == 1);
    CHECK(r2.format == 2);
    REQUIRE(r2.mirrors.size() == 2);
    CHECK(r2.mirrors[1] == "https://10.0.0.7:8443/tervalon/site-2");
    CHECK(r2.signedSize == two.find("sig "));  // the mirrors are signed like every other line
    CHECK(sameRelease(r1, r2));
    Release later;
    REQUIRE(reads(with(two, "version 7", "version 8"), &later));
    CHECK_FALSE(sameRelease(r1, later));  // a release2 left from another publish adds nothing
    REQUIRE(reads(with(two, "banner " + kOther, "banner " + kHash), &later));
    CHECK_FALSE(sameRelease(r1, later));

    SourceBase base;
    REQUIRE(readSourceBase("https://10.0.0.7:8443/tervalon/site-2", &base));
    CHECK((base.host == "10.0.0.7" && base.port == 8443 && base.prefix == "/tervalon/site-2"));
    REQUIRE(readSourceBase("https://cdn.example.net", &base));
    CHECK((base.port == 443 && base.prefix.empty()));
    for (const char* bad : {"http://cdn.example.net", "https://", "https://CDN.example.net", "https://cdn.example.net/",
                            "https://cdn.example.net:0", "https://cdn.example.net:65536", "https://cdn.example.net:0443",
                            "https://cdn.example.net:", "https://user@cdn.example.net", "https://cdn.example.net/a/../b",
                            "https://cdn.example.net/a//b", "https://cdn.example.net/a?b", "https://cdn.example.net/%2e",
                            "https://cdn.example.net/a b", "https://.example.net", "https://cdn..net",
                            "https://cdn.example.net:443:1"}) {
        CAPTURE(bad);
        CHECK_FALSE(readSourceBase(bad, &base));
        CHECK_FALSE(reads(with(two, "https://cdn.example.net\n", std::string(bad) + "\n")));
    }
    CHECK_FALSE(readSourceBase("https://" + std::string(kMirrorAddressLimit, 'a'), &base));
    std::string nine = two;
    for (int i = 0; i < 7; ++i) nine = with(nine, "sig ", "mirror https://m" + std::to_string(i) + ".example.net\nsig ");
    CHECK_FALSE(reads(nine));  // nine mirrors: one too many
    CHECK(reads(with(nine, "mirror https://m6.example.net\n", "")));
}

TEST_CASE("the source asked next: in order, past those set aside or lacking the object, and back after a while") {
    std::vector<SourceState> sources(3);
    CHECK(chooseSource(sources, "a", 0, {}) == 0);
    noteSourceFault(sources, 0, "a", kFaultNetwork, 1000);  // the host is down: set aside for every object
    CHECK(chooseSource(sources, "b", 1000, {}) == 1);
    noteSourceFault(sources, 1, "b", kFaultMissing, 1000);  // a mirror without b: passed over for b only
    CHECK(chooseSource(sources, "b", 1000, {}) == 2);
    CHECK(chooseSource(sources, "c", 1000, {}) == 1);
    CHECK(chooseSource(sources, "c", 1000, {1}) == 2);
    CHECK(chooseSource(sources, "c", 1000 + kSourceAsideMs, {}) == 0);  // asked again after a while
    noteSourceFault(sources, 2, "b", kFaultWrong, 1000);
    CHECK(chooseSource(sources, "b", 1000, {}) == 0);  // every other source failed b: the host, set aside or not
    noteSourceFault(sources, 1, "d", kFaultNetwork, 2000);
    noteSourceFault(sources, 2, "d", kFaultNetwork, 3000);
    CHECK(chooseSource(sources, "d", 3000, {}) == 0);  // all set aside: the one back soonest
    CHECK(chooseSource(sources, "d", 3000, {0}) == 1);
    CHECK(chooseSource(sources, "d", 3000, {0, 1, 2}) == -1);
    noteSourceFault(sources, 0, "b", kFaultMissing, 3000);
    CHECK(chooseSource(sources, "b", 3000, {}) == -1);
}

TEST_CASE("a transfer far below what another source gave is left after a span; a fair one never") {
    const int64_t other = 20 * 1000 * 1000;  // 20 MB/s elsewhere: a twentieth is 1 MB/s
    RateSpan trickle, fair, alone;
    bool left = false;
    uint64_t at = 1000;
    for (; at <= 1000 + 2 * kRateSpanMs && !left; at += 500) {
        left = farBelow(trickle, at, 400 * 1000, other);  // 0.8 MB/s
        CHECK_FALSE(farBelow(fair, at, 600 * 1000, other));  // 1.2 MB/s: slower, not far below
        CHECK_FALSE(farBelow(alone, at, 0, 0));             // nothing to compare with
    }
    CHECK(left);
    CHECK(at - 500 == 1000 + kRateSpanMs);  // at the end of the first whole span, not before
    RateSpan burst;  // a span that kept up says nothing of the next
    CHECK_FALSE(farBelow(burst, 1, 30 * 1000 * 1000, other));
    CHECK_FALSE(farBelow(burst, 1 + kRateSpanMs, 0, other));
    CHECK(farBelow(burst, 1 + 2 * kRateSpanMs, 0, other));
}
