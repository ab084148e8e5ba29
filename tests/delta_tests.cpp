// The delta engine on made-up files: maps, the rolling scan, the plan, and
// multipart bodies. Each change a patch makes to a pak is rebuilt byte for
// byte from the old copy plus the fetched ranges.
#include <doctest/doctest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "delta/block_map.h"
#include "delta/delta_plan.h"
#include "delta/fine_map.h"
#include "files/sha1_fast.h"
#include "net/multipart.h"
#include "net/rate_limit.h"
#include "update/route_choice.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes randomBytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

const uint8_t kSha1[20] = {0xab, 0xcd};
const char kSha1Hex[] = "abcd000000000000000000000000000000000000";

struct Outcome {
    Bytes rebuilt;
    int64_t fetched = 0;
    size_t requests = 0;
};

// The sub-blocks the fine map finds of the blocks the scan did not, as the
// launcher does it: only the candidates' sums are read.
FineMatches refine(const BlockMap& map, const BlockIndex& index, const Bytes& old, const Bytes& fresh) {
    const std::string fine = makeFineMap(fresh.data(), fresh.size(), kSha1);
    FineMapShape shape;
    REQUIRE(readFineMapHeader(fine.data(), fine.size(), map, &shape));
    FineMatches matches;
    matches.subBlock = shape.subBlock;
    const SeedReader read = [&](int32_t, int64_t at, uint8_t* out, size_t size) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), std::max<int64_t>(0, static_cast<int64_t>(old.size()) - at)));
        if (n) std::memcpy(out, old.data() + at, n);
        return n;
    };
    for (const FineCandidate& c : fineCandidates(map, index, 0, 100000)) {
        const ByteRange sums = fineSumsOf(shape, c.block);
        REQUIRE(sums.last < static_cast<int64_t>(fine.size()));
        std::vector<uint32_t> values(shape.perBlock);
        std::memcpy(values.data(), fine.data() + sums.first, values.size() * 4);  // little-endian here
        std::vector<SeedPlace> found = matchSubBlocks(map, shape, values.data(), c, read);
        if (!found.empty()) matches.blocks[c.block] = std::move(found);
    }
    return matches;
}

// What the launcher does, in memory: map the new file, scan the old one in
// pieces of an odd size (so windows cross every seam), plan (refined by the
// fine map, or not), and rebuild.
Outcome update(const Bytes& old, const Bytes& fresh, int64_t from = 0, bool fine = false) {
    const std::string text = makeBlockMap(fresh.data(), fresh.size(), kSha1);
    BlockMap map;
    REQUIRE(readBlockMap(text.data(), text.size(), kSha1Hex, static_cast<int64_t>(fresh.size()), &map));
    BlockIndex index(map);
    REQUIRE(scanCopy(index, static_cast<int64_t>(old.size()), 100003, [&](int64_t at, uint8_t* out, size_t size) {
        std::memcpy(out, old.data() + at, size);
        return size;
    }));
    const FineMatches matches = fine ? refine(map, index, old, fresh) : FineMatches();
    Outcome o;
    o.rebuilt.assign(fresh.begin(), fresh.begin() + from);
    for (const DeltaRun& run : planDelta(map, index, from, fine ? &matches : nullptr)) {
        REQUIRE(run.target == static_cast<int64_t>(o.rebuilt.size()));
        const Bytes& source = run.copy ? old : fresh;
        const int64_t at = run.copy ? run.source : run.target;
        o.rebuilt.insert(o.rebuilt.end(), source.begin() + at, source.begin() + at + run.length);
        if (!run.copy) o.fetched += run.length;
    }
    o.requests = rangeRequests(planDelta(map, index, from, fine ? &matches : nullptr), 200).size();
    return o;
}

// A pak-like file: entries of 3 to 300 KiB.
std::vector<Bytes> entries(int count, unsigned seed) {
    std::vector<Bytes> out;
    std::mt19937 rng(seed);
    for (int i = 0; i < count; ++i) out.push_back(randomBytes(3000 + rng() % 300000, seed * 1000 + i));
    return out;
}

Bytes join(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST_CASE("patches to a pak rebuild byte for byte, fetching little more than the new bytes") {
    const std::vector<Bytes> v1 = entries(60, 7);
    const Bytes old = join(v1);
    std::vector<Bytes> v2 = v1;
    int64_t fresh = 0;
    SUBCASE("entries inserted, removed and replaced, the index rewritten at the end") {
        v2.insert(v2.begin() + 3, randomBytes(777, 1));
        v2.erase(v2.begin() + 20);
        v2[30] = randomBytes(v2[30].size(), 2);
        v2.push_back(randomBytes(5000, 3));
        fresh = 777 + static_cast<int64_t>(v2[30].size()) + 5000;
    }
    SUBCASE("entries reordered") {
        std::swap(v2[5], v2[40]);
        std::swap(v2[10], v2[11]);
    }
    SUBCASE("bytes changed in place") {
        v2[15][100] ^= 1;
        v2[50][v2[50].size() - 1] ^= 1;
        fresh = 2;
    }
    SUBCASE("small edits in place and small inserts") {
        for (int i = 0; i < 12; ++i) {
            Bytes& e = v2[static_cast<size_t>(i * 5)];
            for (size_t k = 0; k < 40; ++k) e[1000 + k] ^= 0x5a;
        }
        v2[33].insert(v2[33].begin() + 2000, 60, 0x11);
        fresh = 12 * 40 + 60;
    }
    const Bytes target = join(v2);
    const Outcome o = update(old, target);
    CHECK(o.rebuilt == target);
    const int64_t block = chooseBlockSize(static_cast<int64_t>(target.size()));
    CHECK(o.fetched <= fresh + 26 * block);  // each changed spot costs at most a block or two more
    CHECK(o.requests == 1);
    // The fine map: each changed spot costs a sub-block or two instead.
    const Outcome f = update(old, target, 0, true);
    CHECK(f.rebuilt == target);
    CHECK(f.fetched <= o.fetched);
    CHECK(f.fetched <= fresh + 26 * int64_t{chooseSubBlock(static_cast<uint32_t>(block))} + 2 * block);
    const Outcome resumed = update(old, target, static_cast<int64_t>(target.size()) / 2 + 333, true);
    CHECK(resumed.rebuilt == target);
}

TEST_CASE("every installed file is a seed: entries moved between paks, a pak renamed, a patch pak folded in") {
    // Installed: a.pak, b.pak and a patch pak, a_P.pak (new versions of a few of a's entries).
    const std::vector<Bytes> a = entries(40, 21), b = entries(40, 22);
    std::vector<Bytes> patch;
    for (int i : {3, 9, 17}) patch.push_back(randomBytes(a[static_cast<size_t>(i)].size(), 23 + i));
    const std::vector<Bytes> seeds = {join(a), join(b), join(patch)};
    std::vector<Bytes> a2, b2 = b;
    int64_t fresh = 0;
    SUBCASE("30 % of a's entries move into b, and b gains a new one") {
        for (size_t i = 0; i < a.size(); ++i) (i % 3 == 0 ? b2 : a2).push_back(a[i]);
        b2.push_back(randomBytes(7000, 30));
        fresh = 7000;
    }
    SUBCASE("a renamed: its new path is new, its old one only a seed") { a2 = a; }
    SUBCASE("the patch pak folded into a") {
        a2 = a;
        for (size_t k = 0; k < patch.size(); ++k) a2[std::vector<size_t>{3, 9, 17}[k]] = patch[k];
    }
    const std::vector<Bytes> targets = {join(a2), join(b2)};
    std::vector<std::string> texts;
    std::vector<BlockMap> maps(targets.size());
    for (size_t t = 0; t < targets.size(); ++t) {
        texts.push_back(makeBlockMap(targets[t].data(), targets[t].size(), kSha1));
        REQUIRE(readBlockMap(texts[t].data(), texts[t].size(), kSha1Hex, static_cast<int64_t>(targets[t].size()), &maps[t]));
    }
    // Maps of one block size share an index; each seed is read once for all.
    std::vector<std::unique_ptr<BlockIndex>> groups;
    std::vector<std::pair<BlockIndex*, size_t>> where;
    for (size_t t = 0; t < maps.size(); ++t) {
        std::vector<const BlockMap*> same;
        size_t which = 0;
        for (size_t u = 0; u < maps.size(); ++u)
            if (maps[u].blockSize == maps[t].blockSize) {
                if (u == t) which = same.size();
                same.push_back(&maps[u]);
            }
        groups.push_back(std::make_unique<BlockIndex>(same));
        where.push_back({groups.back().get(), which});
    }
    std::vector<BlockIndex*> all;
    for (auto& g : groups) all.push_back(g.get());
    for (size_t seed = 0; seed < seeds.size(); ++seed) {
        const Bytes& bytes = seeds[seed];
        REQUIRE(scanSeed(all, static_cast<int32_t>(seed), static_cast<int64_t>(bytes.size()), 70001,
                         [&](int64_t at, uint8_t* out, size_t size) {
                             std::memcpy(out, bytes.data() + at, size);
                             return size;
                         }));
    }
    int64_t fetched = 0;
    for (size_t t = 0; t < targets.size(); ++t) {
        Bytes rebuilt;
        for (const DeltaRun& run : planDelta(maps[t], *where[t].first, 0, nullptr, where[t].second)) {
            REQUIRE(run.target == static_cast<int64_t>(rebuilt.size()));
            const Bytes& source = run.copy ? seeds[static_cast<size_t>(run.seed)] : targets[t];
            const int64_t at = run.copy ? run.source : run.target;
            rebuilt.insert(rebuilt.end(), source.begin() + at, source.begin() + at + run.length);
            if (!run.copy) fetched += run.length;
        }
        CHECK(rebuilt == targets[t]);
    }
    // Each moved entry's seams cost a block or two; nothing moved is fetched again.
    const int64_t block = maps[0].blockSize;
    CHECK(fetched <= fresh + 2 * 40 * block / 3 + 4 * block);
}

TEST_CASE("copies that help nothing or little still rebuild: a truncated copy, nothing in common, zero padding") {
    const Bytes target = join(entries(30, 9));
    SUBCASE("the copy is the first half") {
        const Bytes half(target.begin(), target.begin() + target.size() / 2);
        const Outcome o = update(half, target);
        CHECK(o.rebuilt == target);
        CHECK(o.fetched <= static_cast<int64_t>(target.size() / 2) + 65536);
    }
    SUBCASE("nothing in common: one range, the whole file") {
        const Outcome o = update(randomBytes(target.size(), 99), target);
        CHECK(o.rebuilt == target);
        CHECK(o.fetched == static_cast<int64_t>(target.size()));
        CHECK(o.requests == 1);
    }
    SUBCASE("a file of zeros: one distinct block, found once, copied everywhere") {
        const Bytes zeros(6 * 1024 * 1024, 0);
        Bytes padded = zeros;
        padded.insert(padded.begin() + 100, 17, 0x55);
        const Outcome o = update(padded, zeros);
        CHECK(o.rebuilt == zeros);
        CHECK(o.fetched == 0);
    }
    SUBCASE("a part file already holds a prefix: the plan starts there, mid-block") {
        const Outcome o = update(target, target, 123457);
        CHECK(o.rebuilt == target);
        CHECK(o.fetched < chooseBlockSize(static_cast<int64_t>(target.size())));  // only a short last block
    }
}

TEST_CASE("a map is read only as written: for its file, whole, within its caps") {
    const Bytes data = randomBytes(5 * 1024 * 1024 + 3, 4);
    const std::string good = makeBlockMap(data.data(), data.size(), kSha1);
    const int64_t size = static_cast<int64_t>(data.size());
    BlockMap map;
    REQUIRE(readBlockMap(good.data(), good.size(), kSha1Hex, size, &map));
    CHECK(map.blockLength(map.blocks() - 1) == 3 + (5 * 1024 * 1024) % map.blockSize);
    CHECK(good.size() < data.size() / 500);
    auto with = [&](size_t at, char value) {
        std::string s = good;
        s[at] = value;
        return s;
    };
    const std::string bad[] = {good.substr(0, good.size() - 1), good + "x", with(0, 'X'), with(8, '\x01'),
                               with(36, '\x01'),   // a block size that is no power of two
                               with(41, '\x05'),   // check bytes past 4
                               with(42, '\x01'),   // reserved
                               ""};
    for (const std::string& text : bad) CHECK_FALSE(readBlockMap(text.data(), text.size(), kSha1Hex, size, &map));
    CHECK_FALSE(readBlockMap(good.data(), good.size(), kSha1Hex, size + 1, &map));
    CHECK_FALSE(readBlockMap(good.data(), good.size(), "ffff000000000000000000000000000000000000", size, &map));
    CHECK(crc32Update(0, reinterpret_cast<const uint8_t*>("123456789"), 9) == 0xCBF43926u);
}

TEST_CASE("ranges go several to a request, in the form HTTP has them") {
    std::vector<DeltaRun> runs = {{false, 0, 10, 0}, {true, 10, 5000, 0}, {false, 5010, 1, 0}, {true, 5011, 9, 0},
                                  {false, 5020, 30, 0}};
    const auto requests = rangeRequests(runs, 2);
    REQUIRE(requests.size() == 2);
    CHECK(rangeHeaderValue(requests[0]) == "bytes=0-9,5010-5010");
    CHECK(rangeHeaderValue(requests[1]) == "bytes=5020-5049");
    // A long copy between two fetches ends the request: nobody reads the
    // answer while it is written.
    runs[1].length = kLongCopyRun;
    const auto split = rangeRequests(runs, 200);
    REQUIRE(split.size() == 2);
    CHECK(split[0].size() == 1);
    CHECK(split[1].size() == 2);
}

TEST_CASE("one range per request: neighbours joined, long ones cut, the host remembered for a day") {
    // Gaps of at most 100 bytes are fetched with their neighbours; 101 is not.
    const auto joined = joinNeighbours({{0, 9}, {110, 119}, {221, 230}, {231, 240}}, 100);
    REQUIRE(joined.size() == 2);
    CHECK(rangeHeaderValue({joined[0]}) == "bytes=0-119");
    CHECK(rangeHeaderValue({joined[1]}) == "bytes=221-240");
    // Segments cover every byte once, in order, none longer than asked.
    const auto cut = cutSegments({{5, 24}, {30, 30}}, 8);
    CHECK(rangeHeaderValue(cut) == "bytes=5-12,13-20,21-24,30-30");

    const int64_t now = 1800000000;
    const std::string text = "a.example 1799990000\r\n"        // 10,000 s ago: kept
                             "old.example 1799913600\n"         // a day ago: dropped
                             "late.example 1800000100\n"        // from the future: dropped
                             "bad/host 1799990000\n"            // no host has a slash
                             "b.example -5\nc.example  17\n"   // no sign, one blank
                             "d.example 99999999999999999999\n"  // overflows
                             "[::1]:443 1799999999";             // the last line needs no newline
    const auto hosts = readRangeHosts(text.data(), text.size(), now);
    REQUIRE(hosts.size() == 2);
    CHECK(hosts[0].host == "a.example");
    CHECK(hosts[1].host == "[::1]:443");
    const std::string again = formatRangeHosts(hosts);
    CHECK(readRangeHosts(again.data(), again.size(), now).size() == 2);
    std::string many;
    for (int i = 0; i < 100; ++i) many += "h" + std::to_string(i) + " 1799999000\n";
    CHECK(readRangeHosts(many.data(), many.size(), now).size() == kRangeMemoryHosts);
}

namespace {

struct Collect : MultipartSink {
    std::string text;
    bool onPart(int64_t first, int64_t last) override {
        text += '[';
        text += std::to_string(first);
        text += '-';
        text += std::to_string(last);
        text += ']';
        return true;
    }
    bool onData(const char* data, size_t size) override {
        text.append(data, size);
        return true;
    }
};

// Fed in pieces of `step` bytes, as a network delivers a body.
bool readAll(const std::string& body, size_t step, std::string* out, bool* complete) {
    MultipartReader reader("00000000001");
    Collect sink;
    for (size_t at = 0; at < body.size(); at += step)
        if (!reader.feed(body.data() + at, std::min(step, body.size() - at), sink)) return false;
    *out = sink.text;
    *complete = reader.complete();
    return true;
}

}  // namespace

TEST_CASE("multipart bodies as nginx sends them, in any pieces; malformed ones are refused") {
    const std::string part1 = "--00000000001\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes 0-3/20\r\n\r\nabcd";
    const std::string part2 = "\r\n--00000000001\r\nContent-Range: bytes 10-11/20\r\n\r\n\r\n";
    const std::string nginx = "\r\n" + part1 + part2 + "\r\n--00000000001--\r\n";
    for (size_t step : {1, 2, 7, 1000}) {
        std::string text;
        bool complete = false;
        REQUIRE(readAll(nginx, step, &text, &complete));
        CHECK(text == "[0-3]abcd[10-11]\r\n");
        CHECK(complete);
    }
    std::string text;
    bool complete = true;
    CHECK(readAll(nginx.substr(0, nginx.size() - 10), 5, &text, &complete));
    CHECK_FALSE(complete);  // cut before its close: the caller sees it unfinished
    const std::string malformed[] = {
        "\r\n--00000000002\r\nContent-Range: bytes 0-3/20\r\n\r\nabcd",                      // another boundary
        "\r\n" + std::string(2000, 'x') + "\r\n" + part1,                                    // a preamble past its cap
        "\r\n--00000000001\r\nContent-Type: x\r\n\r\nabcd",                                  // no Content-Range
        "\r\n--00000000001\r\nContent-Range: bytes 5-3/20\r\n\r\n",                          // backwards
        "\r\n--00000000001\r\nContent-Range: bytes 0-3/20\nabcd",                            // a bare LF
        "\r\n" + part1 + "XY--00000000001--\r\n",                                            // data longer than its range
        "\r\n--00000000001\r\nX: " + std::string(5000, 'y') + "\r\n",                        // headers past their cap
    };
    for (const std::string& body : malformed) {
        CAPTURE(body.substr(0, 60));
        complete = true;
        CHECK_FALSE((readAll(body, 3, &text, &complete) && complete));
    }
    std::string boundary;
    CHECK(multipartBoundary("multipart/byteranges; boundary=00000000001", &boundary));
    CHECK(boundary == "00000000001");
    CHECK(multipartBoundary("Multipart/Byteranges;boundary=\"a b\"", &boundary));
    CHECK(boundary == "a b");
    CHECK_FALSE(multipartBoundary("application/octet-stream", &boundary));
    int64_t first = 0, last = 0;
    CHECK(parseContentRange("bytes 100-199/1000", &first, &last));
    CHECK((first == 100 && last == 199));
    CHECK_FALSE(parseContentRange("bytes 100-1000/1000", &first, &last));
    CHECK_FALSE(parseContentRange("bytes -5/1000", &first, &last));
}

TEST_CASE("SHA-1 with the CPU's SHA extensions: the standard's vectors, and any way of feeding it") {
    if (!sha1Accelerated()) {
        MESSAGE("this CPU has no SHA extensions: the launcher hashes through CNG here");
        return;
    }
    auto hex = [](const std::string& text, size_t piece) {
        Sha1Stream s;
        for (size_t at = 0; at < text.size(); at += piece) s.add(text.data() + at, std::min(piece, text.size() - at));
        uint8_t d[20];
        s.finish(d);
        static const char kHex[] = "0123456789abcdef";
        std::string out;
        for (uint8_t b : d) out += {kHex[b >> 4], kHex[b & 15]};
        return out;
    };
    CHECK(hex("", 1) == "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    CHECK(hex("abc", 1) == "a9993e364706816aba3e25717850c26c9cd0d89d");
    CHECK(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7) ==
          "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    const std::string million(1000000, 'a');
    for (size_t piece : {1000000, 63, 64, 65, 4096}) CHECK(hex(million, piece) == "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST_CASE("the speed limit keeps any 5 s within 5 % of its rate, whatever the pieces") {
    for (int64_t piece : {4096, 65536, 262144, 2097152}) {
        CAPTURE(piece);
        RateLimit limit;
        limit.bytesPerSecond = 2 * 1048576;
        uint64_t now = 1000;
        int64_t sent = 0;
        std::vector<std::pair<uint64_t, int64_t>> at;  // (time, bytes sent by then)
        while (now < 21000) {
            now += rateLimitDelayMs(limit, piece, now) + 1;  // a millisecond of work per piece
            sent += piece;
            at.emplace_back(now, sent);
        }
        for (size_t i = 0; i < at.size(); ++i)
            for (size_t j = i; j < at.size(); ++j)
                if (at[j].first - at[i].first >= 5000 && at[j].first - at[i].first < 5100) {
                    const double rate = static_cast<double>(at[j].second - at[i].second) * 1000.0 /
                                        static_cast<double>(at[j].first - at[i].first);
                    CHECK(rate <= 2 * 1048576 * 1.05);
                    CHECK(rate >= 2 * 1048576 * 0.95);
                    break;
                }
    }
    RateLimit none;
    CHECK(rateLimitDelayMs(none, 1 << 30, 5) == 0);
}

TEST_CASE("each file takes its cheapest offered route first, the file as it is last") {
    using R = std::vector<FileRoute>;
    auto offers = [](int64_t patch, bool delta, int64_t deltaBytes, int64_t zst) {
        RouteOffers o;
        o.whole = 1000;
        o.patch = patch;
        o.delta = delta;
        o.deltaBytes = deltaBytes;
        o.zst = zst;
        return o;
    };
    CHECK(chooseRoutes(offers(-1, false, -1, -1)) == R{kRouteWhole});
    // A patch from the installed copy before an unplanned delta, which goes before the zst form as ever.
    CHECK(chooseRoutes(offers(40, true, -1, 700)) == R{kRoutePatch, kRouteDelta, kRouteZst, kRouteWhole});
    CHECK(chooseRoutes(offers(-1, true, -1, 700)) == R{kRouteDelta, kRouteZst, kRouteWhole});
    // A planned delta that fetches more than the zst form goes after it; one that costs the whole file, never.
    CHECK(chooseRoutes(offers(-1, true, 800, 700)) == R{kRouteZst, kRouteDelta, kRouteWhole});
    CHECK(chooseRoutes(offers(-1, true, 1000, 700)) == R{kRouteZst, kRouteWhole});
    CHECK(chooseRoutes(offers(50, true, 10, 700)) == R{kRouteDelta, kRoutePatch, kRouteZst, kRouteWhole});
}

TEST_CASE("what a run learned of a file takes its failed routes away, and only that file's") {
    ManifestEntry e{};
    std::strcpy(e.path, "Paks/a.pak");
    std::strcpy(e.sha1, "1111111111111111111111111111111111111111");
    e.size = 9000000;
    std::strcpy(e.zstSha256, std::string(64, 'c').c_str());
    e.zstSize = 7000000;
    PatchOffer fromOld{}, fromOther{};
    std::strcpy(fromOld.from, "2222222222222222222222222222222222222222");
    fromOld.size = 4000;
    std::strcpy(fromOther.from, "3333333333333333333333333333333333333333");
    fromOther.size = 10;
    e.patches = {fromOther, fromOld};
    std::strcpy(e.installedSha1, fromOld.from);
    FileSituation here;
    here.filesAsObjects = true;
    here.deltaSeed = true;
    using R = std::vector<FileRoute>;
    FileLessons fresh;
    // The patch from the installed version, never the smaller one from another.
    CHECK(chooseRoutes(offersFor(e, fresh, here)) == R{kRoutePatch, kRouteDelta, kRouteZst, kRouteWhole});
    FileLessons failed;
    failed.patchRefused.insert(e.sha1);
    failed.zstRefused.insert(e.sha1);
    failed.deltaTries[e.sha1] = kDeltaTries;
    CHECK(chooseRoutes(offersFor(e, failed, here)) == R{kRouteWhole});
    failed.deltaTries[e.sha1] = kDeltaTries - 1;
    CHECK(chooseRoutes(offersFor(e, failed, here)) == R{kRouteDelta, kRouteWhole});
    FileLessons others;  // lessons of other files change nothing
    others.patchRefused.insert(fromOld.from);
    others.wholeOnly.insert(fromOther.from);
    CHECK(chooseRoutes(offersFor(e, others, here)) == chooseRoutes(offersFor(e, fresh, here)));
    // Outside a release, with an installed copy too large to map, or its version unknown, fewer routes.
    e.installedSize = kPatchReferenceMost + 1;
    CHECK(chooseRoutes(offersFor(e, fresh, here)) == R{kRouteDelta, kRouteZst, kRouteWhole});
    e.installedSize = kPatchReferenceMost;
    FileSituation plain;
    CHECK(chooseRoutes(offersFor(e, fresh, plain)) == R{kRouteWhole});
    e.installedSha1[0] = 0;
    CHECK(chooseRoutes(offersFor(e, fresh, here)) == R{kRouteDelta, kRouteZst, kRouteWhole});
}
