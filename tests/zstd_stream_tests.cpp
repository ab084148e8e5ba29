// The zstd decoder as the launcher drives it: frames and patches made by
// zstd's own encoder (built from the same source), fed in pieces of any
// size, and hostile frames that declare or make too much, ask for too much
// history, or do not decode.
#include <doctest/doctest.h>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "delta/zst_frames.h"
#include "delta/zstd_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Words from a small vocabulary: compresses about as text does.
Bytes textLike(size_t size, unsigned seed) {
    static const char* words[] = {"ember ", "harbour ", "lobby ", "match ", "patch ", "tervalon ", "pak ", "\n"};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const char* w = words[rng() % 8];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(size);
    return out;
}

struct Encoding {
    int level = 3;
    int windowLog = 0;           // 0: the encoder's choice
    bool declareSize = true;
    bool checksum = true;  // as the zstd command writes them
    const Bytes* reference = nullptr;  // a patch from it, as zstd --patch-from makes
};

Bytes compressFrame(const uint8_t* data, size_t size, const Encoding& e) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, e.level);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, e.declareSize ? 1 : 0);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, e.checksum ? 1 : 0);
    if (e.windowLog) ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, e.windowLog);
    if (e.reference) {
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_CCtx_refPrefix(cctx, e.reference->data(), e.reference->size());
    }
    Bytes out(ZSTD_compressBound(size));
    size_t n = 0;
    if (e.declareSize) {
        n = ZSTD_compress2(cctx, out.data(), out.size(), data, size);
    } else {  // streamed: the frame cannot say its size
        ZSTD_inBuffer in{data, size, 0};
        ZSTD_outBuffer o{out.data(), out.size(), 0};
        while (ZSTD_compressStream2(cctx, &o, &in, ZSTD_e_end) != 0) {}
        n = o.pos;
    }
    ZSTD_freeCCtx(cctx);
    REQUIRE(!ZSTD_isError(n));
    out.resize(n);
    return out;
}

// Independent frames of at most `frame` bytes of output each.
Bytes compressFrames(const Bytes& data, size_t frame, const Encoding& e = {}) {
    Bytes out;
    for (size_t at = 0; at < data.size(); at += frame) {
        const Bytes f = compressFrame(data.data() + at, std::min(frame, data.size() - at), e);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

struct Decoded {
    ZstdResult fed = kZstdMore;
    ZstdResult end = kZstdMore;
    Bytes bytes;
    std::string why;
};

// Fed in pieces of `piece` bytes; finish() only when every piece was taken.
Decoded decode(const Bytes& input, ZstdBounds bounds, size_t piece, const Bytes* reference = nullptr) {
    ZstdStream stream(bounds, reference ? reference->data() : nullptr, reference ? reference->size() : 0);
    Decoded d;
    for (size_t at = 0; at < input.size() && d.fed == kZstdMore; at += piece)
        d.fed = stream.feed(input.data() + at, std::min(piece, input.size() - at), [&d](const uint8_t* p, size_t n) {
            d.bytes.insert(d.bytes.end(), p, p + n);
            return true;
        });
    d.end = stream.finish();
    d.why = stream.why();
    CHECK(stream.produced() == static_cast<int64_t>(d.bytes.size()));
    return d;
}

ZstdBounds upTo(size_t size, unsigned windowLog = 27) { return ZstdBounds{static_cast<int64_t>(size), windowLog}; }

}  // namespace

TEST_CASE("zstd: independent frames come back whole, however the bytes arrive") {
    const Bytes data = textLike(600000, 1);
    const Bytes packed = compressFrames(data, 128 * 1024);
    CHECK(packed.size() < data.size() / 3);
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, packed.size()}) {
        CAPTURE(piece);
        const Decoded d = decode(packed, upTo(data.size()), piece);
        CHECK(d.end == kZstdDone);
        CHECK(d.bytes == data);
    }
    // A frame that does not say its size decodes as well; an empty frame adds nothing.
    Encoding streamed;
    streamed.declareSize = false;
    Bytes mixed = compressFrame(data.data(), 1000, streamed);
    const Bytes empty = compressFrame(nullptr, 0, Encoding{});
    mixed.insert(mixed.end(), empty.begin(), empty.end());
    const Bytes rest = compressFrame(data.data() + 1000, 500, Encoding{});
    mixed.insert(mixed.end(), rest.begin(), rest.end());
    const Decoded d = decode(mixed, upTo(1500), 3);
    CHECK(d.end == kZstdDone);
    CHECK(d.bytes == Bytes(data.begin(), data.begin() + 1500));
}

TEST_CASE("zstd: a patch needs the copy it was made from, and costs what changed") {
    const Bytes old = textLike(2000000, 2);
    Bytes fresh = old;
    std::mt19937 rng(3);
    for (int edit = 0; edit < 20; ++edit)
        for (size_t i = 0, at = rng() % (fresh.size() - 100); i < 40; ++i) fresh[at + i] = static_cast<uint8_t>(rng());
    fresh.insert(fresh.begin() + 500000, old.begin(), old.begin() + 3000);  // a shift
    Encoding e;
    e.level = 19;
    e.windowLog = 22;
    e.reference = &old;
    const Bytes patch = compressFrame(fresh.data(), fresh.size(), e);
    CHECK(patch.size() < 8000);
    const Decoded d = decode(patch, upTo(fresh.size(), 22), 1000, &old);
    CHECK(d.end == kZstdDone);
    CHECK(d.bytes == fresh);
    // Without its reference (or with another) the patch does not make the file.
    const Decoded without = decode(patch, upTo(fresh.size(), 22), 1000);
    CHECK((without.end == kZstdCorrupt || without.bytes != fresh));
    const Bytes other = textLike(old.size(), 9);
    CHECK(decode(patch, upTo(fresh.size(), 22), 1000, &other).bytes != fresh);
}

TEST_CASE("zstd: hostile frames end the stream before they cost memory or disk") {
    const Bytes data = textLike(300000, 4);
    const Bytes packed = compressFrames(data, 100000);
    int taken = 0;
    const auto count = [&taken](const uint8_t*, size_t) { return ++taken, true; };

    SUBCASE("a frame that declares more than the file may hold: refused at its header") {
        ZstdStream stream(upTo(99999), nullptr, 0);
        CHECK(stream.feed(packed.data(), packed.size(), count) == kZstdTooMuch);
        CHECK(taken == 0);
        CHECK(stream.why().find("declares 100000 bytes") != std::string::npos);
        CHECK(stream.finish() == kZstdTooMuch);
    }
    SUBCASE("frames that do not say their size: stopped where they pass it") {
        Encoding streamed;
        streamed.declareSize = false;
        const Bytes quiet = compressFrames(data, 100000, streamed);
        const Decoded d = decode(quiet, upTo(250000), 5000);
        CHECK(d.fed == kZstdTooMuch);
        CHECK(d.bytes.size() <= 250000);
        CHECK(d.bytes == Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(d.bytes.size())));
    }
    SUBCASE("a frame that needs more history than the cap") {
        const Bytes large = textLike(3000000, 5);
        Encoding wide;
        wide.windowLog = 24;
        const Bytes big = compressFrame(large.data(), large.size(), wide);
        const Decoded refused = decode(big, upTo(large.size(), 20), 4096);
        CHECK(refused.fed == kZstdWindowTooLarge);
        CHECK(refused.bytes.empty());
        CHECK(decode(big, upTo(large.size(), 24), 4096).end == kZstdDone);
        // Without its size, a frame's whole history is buffered: 8 MiB at most, whatever the cap.
        wide.declareSize = false;
        const Bytes larger = textLike(10000000, 6);
        const Decoded unsized = decode(compressFrame(larger.data(), larger.size(), wide), upTo(larger.size(), 27), 4096);
        CHECK(unsized.fed == kZstdWindowTooLarge);
        CHECK(unsized.why.find("unknown size") != std::string::npos);
    }
    SUBCASE("bytes that are not zstd, a flipped byte, a cut frame, a refused output") {
        Bytes html(packed.size(), 'x');
        std::memcpy(html.data(), "<html>", 6);
        const Decoded notZstd = decode(html, upTo(data.size()), 100);
        CHECK(notZstd.fed == kZstdCorrupt);
        CHECK(notZstd.why == "not a zstd frame");
        CHECK(notZstd.bytes.empty());

        Bytes flipped = packed;
        flipped[flipped.size() / 2] ^= 0x40;
        const Decoded broken = decode(flipped, upTo(data.size()), 4096);
        CHECK(broken.fed == kZstdCorrupt);  // its frame's checksum, if nothing before
        CHECK(broken.bytes.size() < data.size());

        const Bytes cut(packed.begin(), packed.end() - 10);
        const Decoded shortened = decode(cut, upTo(data.size()), 4096);
        CHECK(shortened.fed == kZstdMore);
        CHECK(shortened.end == kZstdCorrupt);
        CHECK(shortened.why == "the input ended inside a frame");

        ZstdStream stream(upTo(data.size()), nullptr, 0);
        CHECK(stream.feed(packed.data(), packed.size(), [](const uint8_t*, size_t) { return false; }) == kZstdStopped);
        CHECK(stream.feed(packed.data(), packed.size(), count) == kZstdStopped);  // and stays so
        CHECK(taken == 0);
    }
}

namespace {

// A frame table as publish writes it.
std::string frameTable(const char* sha1Hex, int64_t fileSize, const std::vector<uint32_t>& frames) {
    std::string t("TVLZFR1\n");
    for (int i = 0; i < 20; ++i) t += static_cast<char>(std::stoi(std::string(sha1Hex + 2 * i, 2), nullptr, 16));
    auto put = [&t](uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) t += static_cast<char>(v >> (8 * i));
    };
    put(static_cast<uint64_t>(fileSize), 8);
    put(4 * 1024 * 1024, 4);
    put(frames.size(), 4);
    for (uint32_t f : frames) put(f, 4);
    return t;
}

}  // namespace

TEST_CASE("zst frames: the table says where each frame lies; a resume starts at the frame holding its end") {
    const char* sha1 = "0123456789abcdef0123456789abcdef01234567";
    const int64_t size = 3 * kZstFrameBytes + 1000;  // four frames, the last of 1000 bytes of the file
    const std::string good = frameTable(sha1, size, {900000, 1200000, 800000, 300300});
    FrameTable t;
    REQUIRE(readFrameTable(good.data(), good.size(), sha1, size, 3200300, &t));
    CHECK(t.starts == std::vector<int64_t>{0, 900000, 2100000, 2900000, 3200300});
    // From nothing: whole frames joined up to 2,000,000 bytes; from inside frame 2: frames 2 and 3.
    const std::vector<ByteRange> all = zstSegments(t, 0, 2000000);
    REQUIRE(all.size() == 3);
    CHECK((all[0].first == 0 && all[0].last == 899999));
    CHECK((all[1].first == 900000 && all[1].last == 2899999));  // frames 1 and 2: 2,000,000 bytes
    CHECK((all[2].first == 2900000 && all[2].last == 3200299));
    const std::vector<ByteRange> rest = zstSegments(t, 2 * kZstFrameBytes + 5, 1);
    REQUIRE(rest.size() == 2);
    CHECK((rest[0].first == 2100000 && rest[1].last == 3200299));
    CHECK(zstSegments(singleFrame(5000), 0, 1).size() == 1);

    // Anything but this file's table is refused.
    const std::string other = frameTable("1123456789abcdef0123456789abcdef01234567", size, {900000, 1200000, 800000, 300300});
    const std::string threeFrames = frameTable(sha1, size, {900000, 1200000, 1100300});
    const std::string emptyFrame = frameTable(sha1, size, {900000, 1200000, 1100300, 0});
    CHECK_FALSE(readFrameTable(other.data(), other.size(), sha1, size, 3200300, &t));
    CHECK_FALSE(readFrameTable(good.data(), good.size(), sha1, size + kZstFrameBytes, 3200300, &t));  // another size
    CHECK_FALSE(readFrameTable(good.data(), good.size(), sha1, size, 3200301, &t));  // frames that do not add up
    CHECK_FALSE(readFrameTable(threeFrames.data(), threeFrames.size(), sha1, size, 3200300, &t));
    CHECK_FALSE(readFrameTable(emptyFrame.data(), emptyFrame.size(), sha1, size, 3200300, &t));
    CHECK_FALSE(readFrameTable(good.data(), good.size() - 1, sha1, size, 3200300, &t));
    std::string badMagic = good;
    badMagic[3] = 'X';
    CHECK_FALSE(readFrameTable(badMagic.data(), badMagic.size(), sha1, size, 3200300, &t));
}
