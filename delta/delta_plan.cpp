#include "delta/delta_plan.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

uint32_t lowBytes(uint32_t v, int bytes) { return bytes >= 4 ? v : v & ((1u << (8 * bytes)) - 1); }

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

BlockIndex::BlockIndex(const BlockMap& map) : block_(map.blockSize), checkBytes_(map.checkBytes) {
    const int64_t blocks = map.blocks();
    distinctOf_.assign(static_cast<size_t>(blocks), kNone);
    size_t tableSize = 16;
    while (tableSize < static_cast<size_t>(blocks) * 2) tableSize *= 2;
    table_.assign(tableSize, 0);
    mask_ = static_cast<uint32_t>(tableSize - 1);
    slotKey_ = randomKey();
    for (int64_t i = 0; i < blocks; ++i) {
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
        distinctOf_[i] = table_[slot] - 1;
    }
    found_.assign(weak_.size(), -1);
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

bool BlockIndex::match(uint32_t weak, const uint8_t* window, int64_t offset) {
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
        if (found_[d] < 0) found_[d] = offset;
        matched = true;
    }
    return matched;
}

size_t BlockIndex::scan(const uint8_t* data, size_t size, int64_t base) {
    if (weak_.empty()) return size;
    size_t p = 0;
    if (size < block_) return p;
    uint32_t raw = crc32Update(0, data, block_) ^ lengthConstant_;
    for (;;) {
        if (match(raw ^ lengthConstant_, data + p, base + static_cast<int64_t>(p))) {
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

int64_t BlockIndex::sourceOf(int64_t block) const {
    if (block < 0 || block >= static_cast<int64_t>(distinctOf_.size())) return -1;
    const uint32_t d = distinctOf_[static_cast<size_t>(block)];
    return d == kNone ? -1 : found_[d];
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

std::vector<DeltaRun> planDelta(const BlockMap& map, const BlockIndex& index, int64_t from,
                                const FineMatches* fine) {
    std::vector<DeltaRun> runs;
    auto add = [&runs](bool copy, int64_t target, int64_t length, int64_t source) {
        if (length <= 0) return;
        if (!runs.empty()) {
            DeltaRun& last = runs.back();
            const bool joins = last.copy == copy && last.target + last.length == target &&
                               (!copy || last.source + last.length == source);
            if (joins) {
                last.length += length;
                return;
            }
        }
        runs.push_back({copy, target, length, source});
    };
    for (int64_t i = from / map.blockSize; i < map.blocks(); ++i) {
        const int64_t start = i * map.blockSize, end = start + map.blockLength(i);
        const int64_t begin = std::max(start, from);
        const int64_t source = index.sourceOf(i);
        const std::vector<int64_t>* subs = nullptr;
        if (fine && source < 0) {
            const auto refined = fine->blocks.find(i);
            if (refined != fine->blocks.end()) subs = &refined->second;
        }
        if (!subs) {
            add(source >= 0, begin, end - begin, source + (begin - start));
            continue;
        }
        // Sub-block by sub-block: what the copy still holds of an edited block.
        for (size_t j = 0; j < subs->size(); ++j) {
            const int64_t subStart = start + static_cast<int64_t>(j) * fine->subBlock;
            const int64_t subEnd = std::min<int64_t>(subStart + fine->subBlock, end);
            const int64_t subBegin = std::max(subStart, from);
            const int64_t at = (*subs)[j];
            if (subBegin < subEnd) add(at >= 0, subBegin, subEnd - subBegin, at + (subBegin - subStart));
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
