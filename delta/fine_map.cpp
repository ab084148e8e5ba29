#include "delta/fine_map.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kMagic[8] = {'T', 'V', 'L', 'F', 'I', 'N', '1', '\n'};

}  // namespace

uint32_t chooseSubBlock(uint32_t blockSize) { return std::max<uint32_t>(blockSize / 16, 256); }

bool readFineMapHeader(const char* data, size_t size, const BlockMap& map, FineMapShape* out) {
    if (size < kFineMapHeader || map.blockSize == 0) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(data);
    const uint32_t sub = static_cast<uint32_t>(readLittleEndian(p + 40, 4));
    if (std::memcmp(p, kMagic, 8) != 0 || std::memcmp(p + 8, map.sha1, 20) != 0 ||
        static_cast<int64_t>(readLittleEndian(p + 28, 8)) != map.fileSize || readLittleEndian(p + 36, 4) != map.blockSize ||
        sub != chooseSubBlock(map.blockSize) || readLittleEndian(p + 44, 4) != 0)
        return false;
    out->subBlock = sub;
    out->perBlock = map.blockSize / sub;
    return true;
}

FineMapShape fineMapShape(const BlockMap& map) {
    FineMapShape shape;
    shape.subBlock = chooseSubBlock(map.blockSize);
    shape.perBlock = map.blockSize / shape.subBlock;
    return shape;
}

int64_t fineMapBytes(const BlockMap& map) { return fineSumsOf(fineMapShape(map), map.blocks() - 1).last + 1; }

ByteRange fineSumsOf(const FineMapShape& shape, int64_t block) {
    const int64_t bytes = int64_t{shape.perBlock} * 4;
    const int64_t first = static_cast<int64_t>(kFineMapHeader) + block * bytes;
    return {first, first + bytes - 1};
}

std::vector<FineCandidate> fineCandidates(const BlockMap& map, const BlockIndex& index, int64_t from, size_t most,
                                          size_t which) {
    std::vector<FineCandidate> out;
    const int64_t block = map.blockSize;
    for (int64_t i = from / block; i < map.blocks() && out.size() < most; ++i) {
        if (index.placeOf(i, which).found() || map.blockLength(i) != map.blockSize) continue;
        FineCandidate c;
        c.block = i;
        const SeedPlace before = i > 0 ? index.placeOf(i - 1, which) : SeedPlace();
        const SeedPlace after = i + 1 < map.blocks() ? index.placeOf(i + 1, which) : SeedPlace();
        if (before.found()) c.places[0] = {before.seed, before.offset + block};
        if (after.found() && after.offset >= block &&
            !(after.seed == c.places[0].seed && after.offset - block == c.places[0].offset))
            c.places[1] = {after.seed, after.offset - block};
        if (c.places[0].found() || c.places[1].found()) out.push_back(c);
    }
    return out;
}

std::vector<SeedPlace> matchSubBlocks(const BlockMap& map, const FineMapShape& shape, const uint32_t* sums,
                                      const FineCandidate& candidate, const SeedReader& read) {
    std::vector<SeedPlace> sources(shape.perBlock);
    std::vector<uint8_t> bytes(map.blockSize);
    bool any = false;
    for (const SeedPlace& place : candidate.places) {
        if (!place.found()) continue;
        const size_t got = read(place.seed, place.offset, bytes.data(), bytes.size());
        for (uint32_t j = 0; j < shape.perBlock; ++j) {
            const size_t at = size_t{j} * shape.subBlock;
            if (sources[j].found() || at + shape.subBlock > got) continue;
            // The sums chain: sub-block j continues the new file's sum before it.
            if (crc32Update(j ? sums[j - 1] : 0, bytes.data() + at, shape.subBlock) != sums[j]) continue;
            sources[j] = {place.seed, place.offset + static_cast<int64_t>(at)};
            any = true;
        }
    }
    return any ? sources : std::vector<SeedPlace>();
}

std::string makeFineMap(const uint8_t* data, size_t size, const uint8_t sha1[20]) {
    const uint32_t block = chooseBlockSize(static_cast<int64_t>(size));
    const uint32_t sub = chooseSubBlock(block);
    std::string out(kMagic, 8);
    out.append(reinterpret_cast<const char*>(sha1), 20);
    appendLittleEndian(&out, size, 8);
    appendLittleEndian(&out, block, 4);
    appendLittleEndian(&out, sub, 4);
    appendLittleEndian(&out, 0, 4);
    for (size_t start = 0; start < size; start += block) {
        uint32_t sum = 0;
        for (size_t at = start; at < start + block; at += sub) {
            if (at < size) sum = crc32Update(sum, data + at, std::min<size_t>(sub, size - at));
            appendLittleEndian(&out, sum, 4);
        }
    }
    return out;
}
