// The block map reader, the scan and plan it feeds, and the multipart
// reader. A map that reads well must give a plan that covers its file once,
// in order; a multipart body must never hand over more bytes than its part
// announced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "delta/block_map.h"
#include "delta/delta_plan.h"
#include "delta/fine_map.h"
#include "delta/zstd_stream.h"
#include "net/multipart.h"

namespace {

void fuzzMap(const uint8_t* data, size_t size) {
    if (size < kBlockMapHeader) return;
    static const char kHex[] = "0123456789abcdef";
    char sha1[41] = {};
    for (int i = 0; i < 20; ++i) {
        sha1[2 * i] = kHex[data[8 + i] >> 4];
        sha1[2 * i + 1] = kHex[data[8 + i] & 15];
    }
    int64_t fileSize = 0;
    std::memcpy(&fileSize, data + 28, 8);
    BlockMap map;
    if (!readBlockMap(reinterpret_cast<const char*>(data), size, sha1, fileSize, &map)) return;
    if (map.blockSize > 16384) return;  // the index's set-up would slow the fuzzer, not test more
    BlockIndex index(map);
    scanCopy(index, static_cast<int64_t>(size), 4096, [data, size](int64_t at, uint8_t* out, size_t want) {
        std::memcpy(out, data + at, want);
        return want;
    });
    // The same bytes as sums of a fine map (nothing in one is trusted): the
    // sub-blocks it matches lie within the seed, and the plan still covers
    // the file once, in order.
    FineMatches fine;
    fine.subBlock = chooseSubBlock(map.blockSize);
    const uint32_t perBlock = map.blockSize / fine.subBlock;
    const SeedReader read = [data, size](int32_t, int64_t at, uint8_t* out, size_t want) {
        const size_t n = at < 0 || static_cast<size_t>(at) >= size ? 0 : std::min(want, size - static_cast<size_t>(at));
        if (n) std::memcpy(out, data + at, n);
        return n;
    };
    std::vector<uint32_t> sums(perBlock);
    for (const FineCandidate& c : fineCandidates(map, index, 0, 64)) {
        for (uint32_t j = 0; j < perBlock; ++j) std::memcpy(&sums[j], data + (c.block * 4 + j * 4) % (size - 3), 4);
        FineMapShape shape{fine.subBlock, perBlock};
        std::vector<SeedPlace> found = matchSubBlocks(map, shape, sums.data(), c, read);
        for (const SeedPlace& p : found)
            if (p.found() && (p.offset < 0 || p.offset + fine.subBlock > static_cast<int64_t>(size))) std::abort();
        if (!found.empty()) fine.blocks[c.block] = std::move(found);
    }
    const FineMatches* const plans[] = {nullptr, &fine};
    for (const FineMatches* with : plans) {
        int64_t covered = 0;
        for (const DeltaRun& run : planDelta(map, index, 0, with)) {
            if (run.target != covered || run.length <= 0 ||
                (run.copy && (run.source < 0 || run.source + run.length > static_cast<int64_t>(size))))
                std::abort();
            covered += run.length;
        }
        if (covered != map.fileSize) std::abort();
    }
}

struct Checked : MultipartSink {
    int64_t left = 0;
    bool onPart(int64_t first, int64_t last) override {
        if (first < 0 || last < first) std::abort();
        left = last - first + 1;
        return true;
    }
    bool onData(const char*, size_t n) override {
        if (static_cast<int64_t>(n) > left) std::abort();
        left -= static_cast<int64_t>(n);
        return true;
    }
};

void fuzzMultipart(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::string boundary;
    multipartBoundary(std::string_view(text, size), &boundary);
    int64_t first = 0, last = 0;
    if (parseContentRange(std::string_view(text, size), &first, &last) && last < first) std::abort();
    MultipartReader reader("00000000001");
    Checked sink;
    const size_t cut = size ? data[0] % 17 + 1 : 1;  // pieces of any size, as a network delivers them
    for (size_t at = 0; at < size; at += cut)
        if (!reader.feed(text + at, size - at < cut ? size - at : cut, sink)) break;
}

// zstd frames of any bytes, fed in pieces, with a reference taken from the
// input: never more out than the bound, and no fault.
void fuzzZstd(const uint8_t* data, size_t size) {
    if (size < 2) return;
    constexpr int64_t kMost = 1 << 20;
    const size_t piece = 1 + data[0] % 64;
    const size_t reference = std::min<size_t>(size_t{data[1]} * 16, size - 2);
    ZstdStream stream(ZstdBounds{kMost, 20}, data + 2, reference);
    int64_t out = 0;
    for (size_t at = 2; at < size; at += piece) {
        const auto take = [&out](const uint8_t*, size_t n) { return out += static_cast<int64_t>(n), true; };
        if (stream.feed(data + at, std::min(piece, size - at), take) != kZstdMore) break;
    }
    stream.finish();
    if (out > kMost || out != stream.produced()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzMap(data, size);
    fuzzMultipart(data, size);
    fuzzZstd(data, size);
    return 0;
}
