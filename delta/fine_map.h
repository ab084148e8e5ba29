// The finer level of a block map, "/launcher/o/<sha1>.fine", written by the
// publish tool beside the map: the CRC-32 of every sub-block, so a block the
// scan did not find (a small edit inside it) can be rebuilt from the parts
// the installed copy still holds, and only the edited sub-blocks are
// fetched. A launcher fetches it by range, for just the blocks it needs.
// Binary, little-endian:
//   "TVLFIN1\n"          8 bytes
//   sha1                 20 bytes: the file it describes
//   file size            8 bytes
//   block size           4 bytes: the map's
//   sub-block size       4 bytes: chooseSubBlock(block size)
//   reserved             4 zero bytes
//   per block, in file order, block/sub-block sums of 4 bytes: sum j is
//   the CRC-32 of the block's bytes up to the end of its sub-block j, so
//   each sub-block is checked on its own as the CRC continued from sum j-1
//   (past the file's end a sum carries on unchanged; a block's last sum is
//   its map's weak sum)
// Nothing in it is trusted: a sum that lies makes a wrong copy, which the
// file's SHA-1 catches, as for a map that lies. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "delta/block_map.h"
#include "delta/delta_plan.h"
#include "net/byte_ranges.h"

constexpr size_t kFineMapHeader = 48;

// A sixteenth of the block, at least 256 bytes.
uint32_t chooseSubBlock(uint32_t blockSize);

struct FineMapShape {
    uint32_t subBlock = 0;
    uint32_t perBlock = 0;  // sums per block
};

// The shape the publish tool writes for `map`, and the size of that fine map.
FineMapShape fineMapShape(const BlockMap& map);
int64_t fineMapBytes(const BlockMap& map);

// The header as written for the file `map` describes; false for anything else.
bool readFineMapHeader(const char* data, size_t size, const BlockMap& map, FineMapShape* out);

// The bytes of the .fine object that hold block `block`'s sums.
ByteRange fineSumsOf(const FineMapShape& shape, int64_t block);

// A block worth refining: not found, of full length, with a found
// neighbour. Its content most likely lies where the neighbours say: right
// after the block before it, right before the block after it.
struct FineCandidate {
    int64_t block = 0;
    SeedPlace places[2];
};
// At most `most` of them, from the block holding `from` on, in file order;
// `which` is the map's number in the index.
std::vector<FineCandidate> fineCandidates(const BlockMap& map, const BlockIndex& index, int64_t from, size_t most,
                                          size_t which = 0);

// read(seed, offset, out, size): a seed's bytes (fewer at its end).
using SeedReader = std::function<size_t(int32_t seed, int64_t offset, uint8_t* out, size_t size)>;

// Which sub-blocks of a candidate a seed holds at one of its places.
// `sums` are the block's perBlock sums. Empty when none matched.
std::vector<SeedPlace> matchSubBlocks(const BlockMap& map, const FineMapShape& shape, const uint32_t* sums,
                                      const FineCandidate& candidate, const SeedReader& read);

// A fine map of `data` as the publish tool writes it (tests and the fuzzer).
std::string makeFineMap(const uint8_t* data, size_t size, const uint8_t sha1[20]);
