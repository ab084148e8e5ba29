// The block map of a large game file, "/launcher/o/<sha1>.map", written by
// the publish tool beside the file's object. It lets a launcher find the new
// file's blocks in the installed copy wherever they now lie, and fetch only
// the rest. Binary, little-endian:
//   "TVLMAP1\n"                    8 bytes: the format and its version
//   sha1                           20 bytes: the file the map describes
//   file size                      8 bytes
//   block size                     4 bytes: a power of two, 1 KiB to 1 MiB
//   weak bytes, check bytes        1 byte each: 4, and 2 to 4
//   reserved                       2 zero bytes
//   per block, in file order:      the low `weak bytes` of the CRC-32 of the
//                                  block, then the low `check bytes` of the
//                                  CRC-32 of its first 256 bytes
// The last block may be short; its sums cover only its own bytes. CRC-32 is
// zlib's. The weak sum rolls a byte at a time; the check sum, cheap to take,
// confirms a weak match. The file's SHA-1 decides in the end. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kBlockMapHeader = 44;
constexpr uint32_t kCheckSpan = 256;  // the bytes the check sum covers
constexpr int64_t kDeltaThreshold = 4LL * 1024 * 1024;  // smaller files come whole
constexpr int64_t kLargestMappedFile = 1LL << 44;       // 16 TiB: no sum of sizes can overflow

struct BlockMap {
    uint8_t sha1[20] = {};
    int64_t fileSize = 0;
    uint32_t blockSize = 0;
    uint8_t weakBytes = 0, checkBytes = 0;
    std::vector<uint32_t> weak;   // truncated to weakBytes
    std::vector<uint32_t> check;  // truncated to checkBytes
    int64_t blocks() const { return static_cast<int64_t>(weak.size()); }
    uint32_t blockLength(int64_t i) const;  // blockSize, or less for the last
};

// The map exactly as the format says, for a file of `fileSize` bytes whose
// SHA-1 (40 hex digits) is `sha1Hex`; false for anything else.
bool readBlockMap(const char* data, size_t size, const char* sha1Hex, int64_t fileSize, BlockMap* out);

// The largest map a file of `fileSize` bytes can have: a fetch stops there.
size_t blockMapLimit(int64_t fileSize);

// Little-endian fields of the map formats.
uint64_t readLittleEndian(const uint8_t* p, int bytes);
void appendLittleEndian(std::string* out, uint64_t v, int bytes);

// Whether 20 bytes are the SHA-1 written as 40 lowercase hex digits.
bool sameSha1(const uint8_t bytes[20], const char* sha1Hex);

// The low `bytes` bytes of a sum, as a map keeps its weak and check sums.
uint32_t lowBytes(uint32_t v, int bytes);

// zlib's CRC-32, continued from `crc` (0 to start).
uint32_t crc32Update(uint32_t crc, const uint8_t* data, size_t size);

// Do `length` bytes, block `block` of a file as written, have the map's
// sums for it (the weak sum over the block, the check sum over its start)?
bool blockMatchesMap(const BlockMap& map, int64_t block, const uint8_t* data, size_t length);

// The sizes the publish tool chooses, so tests make the same maps.
uint32_t chooseBlockSize(int64_t fileSize);
uint8_t chooseCheckBytes(int64_t fileSize, uint32_t blockSize);

// A map of `data` as the publish tool writes it (tests and the fuzzer).
std::string makeBlockMap(const uint8_t* data, size_t size, const uint8_t sha1[20]);
