#include "delta/delta_plan.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

struct StepTable {
    uint32_t t[256];
    StepTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
    }
};
const StepTable kStep;

// One step of the CRC register without zlib's inversions.
inline uint32_t rawStep(uint32_t r, uint8_t byte) { return kStep.t[(r ^ byte) & 0xFF] ^ (r >> 8); }

// The filter's bit of a weak sum: its high bits after a multiplicative mix.
inline uint32_t filterBit(uint32_t weak, int bits) { return (weak * 0x9E3779B1u) >> (32 - bits); }

// A key for the table's slots that a map's author cannot know.
uint32_t randomKey() {
    try {
        std::random_device device;
        return device();
    } catch (...) {
        return static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
}

}  // namespace

// The weak sum mixed with the key (murmur's finaliser), so that sums chosen
// to share their low bits still spread over the table.
uint32_t BlockIndex::slotOf(uint32_t weak) const {
    uint32_t h = weak ^ slotKey_;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h & mask_;
}

BlockIndex::BlockIndex(const BlockMap& map) : BlockIndex(std::vector<const BlockMap*>{&map}) {}

BlockIndex::BlockIndex(const std::vector<const BlockMap*>& maps)
    : block_(maps.empty() ? 0 : maps.front()->blockSize), checkBytes_(maps.empty() ? 4 : maps.front()->checkBytes) {
    size_t blocks = 0;
    for (const BlockMap* map : maps) {
        firstOf_.push_back(blocks);
        blocks += static_cast<size_t>(map->blocks());
    }
    distinctOf_.assign(blocks, kNone);
    size_t tableSize = 16;
    while (tableSize < blocks * 2) tableSize *= 2;
    table_.assign(tableSize, 0);
    mask_ = static_cast<uint32_t>(tableSize - 1);
    slotKey_ = randomKey();
    for (size_t m = 0; m < maps.size(); ++m) {
        const BlockMap& map = *maps[m];
        // One block size and one check width for all, or the map is left out.
        if (map.blockSize != block_ || map.checkBytes != checkBytes_) continue;
        for (int64_t i = 0; i < map.blocks(); ++i) {
            if (map.blockLength(i) != block_) continue;  // a short last block is always fetched
            // Distinct blocks only: padding makes many identical ones.
            uint32_t slot = slotOf(map.weak[i]);
            int sameWeak = 0;
            for (; table_[slot]; slot = (slot + 1) & mask_) {
                const uint32_t d = table_[slot] - 1;
                if (weak_[d] != map.weak[i]) continue;
                if (check_[d] == map.check[i]) break;
                ++sameWeak;
            }
            if (!table_[slot]) {
                if (sameWeak >= kPerWeakSum) continue;  // fetched instead
                weak_.push_back(map.weak[i]);
                check_.push_back(map.check[i]);
                table_[slot] = static_cast<uint32_t>(weak_.size());
            }
            distinctOf_[firstOf_[m] + static_cast<size_t>(i)] = table_[slot] - 1;
        }
    }
    found_.assign(weak_.size(), -1);
    foundIn_.assign(weak_.size(), -1);
    falseMatches_.assign(weak_.size(), 0);
    // One bit per weak sum, 64 bits per distinct block or more: most windows
    // of a changed region are turned away by one load.
    filterBits_ = 16;
    while (filterBits_ < 26 && (size_t{1} << filterBits_) < weak_.size() * 64) ++filterBits_;
    filter_.assign((size_t{1} << filterBits_) / 64, 0);
    for (uint32_t w : weak_) {
        const uint32_t bit = filterBit(w, filterBits_);
        filter_[bit >> 6] |= uint64_t{1} << (bit & 63);
    }
    // The sum of a window is the raw register plus a constant of its length;
    // the byte leaving it took a fixed pattern with it (the sum is linear).
    const std::vector<uint8_t> zeros(block_, 0);
    lengthConstant_ = crc32Update(0, zeros.data(), zeros.size());
    uint32_t bit[8];
    for (int k = 0; k < 8; ++k) {
        uint32_t r = rawStep(0, static_cast<uint8_t>(1u << k));
        for (uint32_t n = 0; n < block_; ++n) r = rawStep(r, 0);
        bit[k] = r;
    }
    for (uint32_t x = 0; x < 256; ++x) {
        uint32_t r = 0;
        for (int k = 0; k < 8; ++k)
            if (x & (1u << k)) r ^= bit[k];
        outgoing_[x] = r;
    }
}

uint32_t BlockIndex::roll(uint32_t raw, uint8_t out, uint8_t in) const { return rawStep(raw, in) ^ outgoing_[out]; }

bool BlockIndex::match(uint32_t weak, const uint8_t* window, int64_t offset, int32_t seed) {
    const uint32_t bit = filterBit(weak, filterBits_);
    if (!(filter_[bit >> 6] >> (bit & 63) & 1)) return false;
    uint32_t check = 0;
    bool checked = false, matched = false;
    for (uint32_t slot = slotOf(weak); table_[slot]; slot = (slot + 1) & mask_) {
        const uint32_t d = table_[slot] - 1;
        if (weak_[d] != weak || falseMatches_[d] >= kFalseMatchLimit) continue;
        if (!checked) {
            check = lowBytes(crc32Update(0, window, std::min(block_, kCheckSpan)), checkBytes_);
            checked = true;
        }
        if (check_[d] != check) {
            ++falseMatches_[d];
            continue;
        }
        if (found_[d] < 0) {
            found_[d] = offset;
            foundIn_[d] = seed;
        }
        matched = true;
    }
    return matched;
}

size_t BlockIndex::scan(const uint8_t* data, size_t size, int64_t base, int32_t seed) {
    if (weak_.empty()) return size;
    size_t p = 0;
    if (size < block_) return p;
    uint32_t raw = crc32Update(0, data, block_) ^ lengthConstant_;
    for (;;) {
        if (match(raw ^ lengthConstant_, data + p, base + static_cast<int64_t>(p), seed)) {
            // A block found: the next one most likely follows it.
            p += block_;
            if (p + block_ > size) return p;
            raw = crc32Update(0, data + p, block_) ^ lengthConstant_;
            continue;
        }
        if (p + block_ >= size) return p + 1;
        raw = roll(raw, data[p], data[p + block_]);
        ++p;
    }
}

SeedPlace BlockIndex::placeOf(int64_t block, size_t which) const {
    if (which >= firstOf_.size() || block < 0) return {};
    const size_t end = which + 1 < firstOf_.size() ? firstOf_[which + 1] : distinctOf_.size();
    const size_t at = firstOf_[which] + static_cast<size_t>(block);
    if (at >= end) return {};
    const uint32_t d = distinctOf_[at];
    if (d == kNone || found_[d] < 0) return {};
    return {foundIn_[d], found_[d]};
}

bool scanCopy(BlockIndex& index, int64_t copySize, size_t piece, const CopyReader& read) {
    std::vector<uint8_t> buffer(piece + index.blockSize());
    int64_t base = 0;  // the copy's offset of buffer[0]
    size_t held = 0;
    while (base + static_cast<int64_t>(held) < copySize) {
        const int64_t at = base + static_cast<int64_t>(held);
        const size_t want = static_cast<size_t>(std::min<int64_t>(buffer.size() - held, copySize - at));
        const size_t got = read(at, buffer.data() + held, want);
        if (got != want) return false;
        held += got;
        if (held < index.blockSize() && base + static_cast<int64_t>(held) < copySize) continue;
        const size_t next = index.scan(buffer.data(), held, base);
        if (next >= held) {
            base += static_cast<int64_t>(next);  // a match may reach past what is held
            held = 0;
        } else {
            std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(next), buffer.begin() + static_cast<std::ptrdiff_t>(held),
                      buffer.begin());
            held -= next;
            base += static_cast<int64_t>(next);
        }
        if (held >= buffer.size()) return false;  // cannot happen: scan always moves on by one
    }
    return true;
}

bool scanSeed(const std::vector<BlockIndex*>& indexes, int32_t seed, int64_t size, size_t piece,
              const CopyReader& read) {
    // Each index rolls its own window: it keeps the bytes it has not looked
    // at yet, and the rest of the seed comes after them.
    struct Lane {
        BlockIndex* index;
        std::vector<uint8_t> held;
        int64_t base = 0;
    };
    std::vector<Lane> lanes;
    for (BlockIndex* index : indexes) lanes.push_back({index, {}, 0});
    std::vector<uint8_t> chunk(piece);
    for (int64_t at = 0; at < size;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(piece), size - at));
        if (read(at, chunk.data(), want) != want) return false;
        at += static_cast<int64_t>(want);
        for (Lane& lane : lanes) {
            lane.held.insert(lane.held.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(want));
            if (lane.held.size() < lane.index->blockSize() && at < size) continue;
            const size_t next = std::min(lane.index->scan(lane.held.data(), lane.held.size(), lane.base, seed),
                                         lane.held.size());
            lane.held.erase(lane.held.begin(), lane.held.begin() + static_cast<std::ptrdiff_t>(next));
            lane.base += static_cast<int64_t>(next);
        }
    }
    return true;
}

std::vector<DeltaRun> planDelta(const BlockMap& map, const BlockIndex& index, int64_t from,
                                const FineMatches* fine, size_t which) {
    std::vector<DeltaRun> runs;
    auto add = [&runs](const SeedPlace& place, int64_t target, int64_t length) {
        if (length <= 0) return;
        const bool copy = place.found();
        if (!runs.empty()) {
            DeltaRun& last = runs.back();
            const bool joins = last.copy == copy && last.target + last.length == target &&
                               (!copy || (last.seed == place.seed && last.source + last.length == place.offset));
            if (joins) {
                last.length += length;
                return;
            }
        }
        runs.push_back({copy, target, length, copy ? place.offset : 0, copy ? place.seed : 0});
    };
    for (int64_t i = from / map.blockSize; i < map.blocks(); ++i) {
        const int64_t start = i * map.blockSize, end = start + map.blockLength(i);
        const int64_t begin = std::max(start, from);
        const SeedPlace place = index.placeOf(i, which);
        const std::vector<SeedPlace>* subs = nullptr;
        if (fine && !place.found()) {
            const auto refined = fine->blocks.find(i);
            if (refined != fine->blocks.end()) subs = &refined->second;
        }
        if (!subs) {
            add({place.seed, place.offset + (begin - start)}, begin, end - begin);
            continue;
        }
        // Sub-block by sub-block: what the seeds still hold of an edited block.
        for (size_t j = 0; j < subs->size(); ++j) {
            const int64_t subStart = start + static_cast<int64_t>(j) * fine->subBlock;
            const int64_t subEnd = std::min<int64_t>(subStart + fine->subBlock, end);
            const int64_t subBegin = std::max(subStart, from);
            const SeedPlace& at = (*subs)[j];
            if (subBegin < subEnd) add({at.seed, at.offset + (subBegin - subStart)}, subBegin, subEnd - subBegin);
        }
    }
    // A short copy between two fetches costs more as its own range.
    std::vector<DeltaRun> merged;
    for (size_t i = 0; i < runs.size(); ++i) {
        DeltaRun run = runs[i];
        const bool between = i > 0 && i + 1 < runs.size() && !runs[i - 1].copy && !runs[i + 1].copy;
        if (run.copy && between && run.length < kMergeGap) run.copy = false;
        if (!merged.empty() && !merged.back().copy && !run.copy) {
            merged.back().length += run.length;
            continue;
        }
        merged.push_back(run);
    }
    return merged;
}

std::vector<std::vector<ByteRange>> rangeRequests(const std::vector<DeltaRun>& runs, size_t perRequest) {
    std::vector<std::vector<ByteRange>> requests;
    bool longCopy = false;  // since the last fetched run
    for (const DeltaRun& run : runs) {
        if (run.copy) {
            longCopy = longCopy || run.length >= kLongCopyRun;
            continue;
        }
        if (requests.empty() || requests.back().size() >= perRequest || longCopy) requests.emplace_back();
        longCopy = false;
        requests.back().push_back({run.target, run.target + run.length - 1});
    }
    return requests;
}

std::string rangeHeaderValue(const std::vector<ByteRange>& ranges) {
    std::string value = "bytes=";
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (i) value += ',';
        value += std::to_string(ranges[i].first) + "-" + std::to_string(ranges[i].last);
    }
    return value;
}
