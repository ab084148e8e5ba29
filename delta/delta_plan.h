// Which of a new file's blocks the installed copy holds, and where: the
// map's distinct blocks indexed by their weak sum, the installed copy
// scanned with that sum rolling a byte at a time (so content moved by
// inserts and removals is found), and the new file laid out as runs copied
// from the copy or fetched from the server. The engine does no I/O: the
// caller feeds it the copy's bytes. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "delta/block_map.h"
#include "net/byte_ranges.h"

// Where an installed file (a seed, by its number) holds some bytes.
struct SeedPlace {
    int32_t seed = -1;
    int64_t offset = -1;
    bool found() const { return seed >= 0; }
};

class BlockIndex {
public:
    explicit BlockIndex(const BlockMap& map);
    // The maps of several new files of one block size, indexed together:
    // every installed file is scanned once for the blocks of all of them.
    explicit BlockIndex(const std::vector<const BlockMap*>& maps);

    // Scans data[0..size), the bytes of seed `seed` from offset `base`.
    // Returns the position in `data` where the next call must begin, with
    // the bytes from there on fed again: windows starting there were not
    // looked at yet. A return of `size` or more means all were.
    size_t scan(const uint8_t* data, size_t size, int64_t base, int32_t seed = 0);

    // Where a seed holds block `block` of map `which` (the first place found).
    SeedPlace placeOf(int64_t block, size_t which = 0) const;
    // The offset alone, -1 when no seed holds it (one map, one seed).
    int64_t sourceOf(int64_t block) const { return placeOf(block).offset; }
    uint32_t blockSize() const { return block_; }

    // A map may name at most this many distinct blocks per weak sum; the
    // rest are fetched. A forged map of one weak sum would otherwise make
    // every probe walk all its blocks.
    static constexpr int kPerWeakSum = 4;
    // A block whose weak sum matched this often with a wrong check sum is
    // dropped: an honest map almost never does it once, and each costs a
    // check over kCheckSpan bytes.
    static constexpr uint8_t kFalseMatchLimit = 8;

private:
    bool match(uint32_t weak, const uint8_t* window, int64_t offset, int32_t seed);
    uint32_t roll(uint32_t raw, uint8_t out, uint8_t in) const;
    uint32_t slotOf(uint32_t weak) const;

    uint32_t block_;
    uint8_t checkBytes_;
    std::vector<uint32_t> weak_, check_;   // per distinct block
    std::vector<int64_t> found_;           // per distinct block: its offset in a seed, or -1
    std::vector<int32_t> foundIn_;         // per distinct block: that seed
    std::vector<size_t> firstOf_;          // per map: its first block's place in distinctOf_
    std::vector<uint8_t> falseMatches_;    // per distinct block; at the limit it is dropped
    std::vector<uint32_t> distinctOf_;     // per block of each new file in turn; kNone for a short last block
    std::vector<uint32_t> table_;          // open addressing on the weak sum: distinct index + 1, 0 empty
    uint32_t mask_;
    uint32_t slotKey_;                     // per index, unknown to a map's author: no chosen collisions
    std::vector<uint64_t> filter_;         // a bit per weak sum present
    int filterBits_ = 16;
    uint32_t lengthConstant_;              // zlib's CRC of `block_` zero bytes
    uint32_t outgoing_[256];               // what the byte leaving the window took into the sum
};

// Feeds the whole installed copy (copySize bytes) to `index` in pieces of
// about `piece` bytes, through read(offset, out, size), which returns the
// bytes it read (fewer only at the end or on a failure). False when a read
// failed before the end.
using CopyReader = std::function<size_t(int64_t offset, uint8_t* out, size_t size)>;
bool scanCopy(BlockIndex& index, int64_t copySize, size_t piece, const CopyReader& read);

// Feeds seed `seed` (size bytes) to every index (one per block size) from
// one read of each byte, in pieces of about `piece` bytes.
bool scanSeed(const std::vector<BlockIndex*>& indexes, int32_t seed, int64_t size, size_t piece,
              const CopyReader& read);

struct DeltaRun {
    bool copy = false;    // from an installed file, else fetched
    int64_t target = 0;   // offset in the new file
    int64_t length = 0;
    int64_t source = 0;   // offset in the seed, for copies
    int32_t seed = 0;     // which installed file, for copies
};

// Blocks the scan did not find but the fine map rebuilt in part: per block,
// where a seed holds each of its sub-blocks (not found: fetched).
struct FineMatches {
    uint32_t subBlock = 0;
    std::map<int64_t, std::vector<SeedPlace>> blocks;
};

// Runs that cover the new file from `from` (a part file's size) to its end,
// in file order. Adjacent runs of one kind are joined; a copy shorter than
// kMergeGap between two fetches is fetched instead (a range costs headers).
constexpr int64_t kMergeGap = 512;
// `which` is the map's number in the index.
std::vector<DeltaRun> planDelta(const BlockMap& map, const BlockIndex& index, int64_t from,
                                const FineMatches* fine = nullptr, size_t which = 0);

// The fetched runs of `runs`, as byte ranges grouped into requests of at
// most `perRequest` ranges each. A copy of kLongCopyRun bytes or more ends a
// request: while it is written nobody reads the answer, and the server (or
// the slow-body rule) would take the silence for a dead connection.
constexpr int64_t kLongCopyRun = 64LL * 1024 * 1024;
std::vector<std::vector<ByteRange>> rangeRequests(const std::vector<DeltaRun>& runs, size_t perRequest);

// "bytes=a-b,c-d", the header value for a group of ranges.
std::string rangeHeaderValue(const std::vector<ByteRange>& ranges);
