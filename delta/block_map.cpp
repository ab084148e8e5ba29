#include "delta/block_map.h"

#include <cmath>
#include <cstring>

namespace {

constexpr char kMagic[8] = {'T', 'V', 'L', 'M', 'A', 'P', '1', '\n'};

struct CrcTable {
    uint32_t t[8][256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};
const CrcTable kCrc;



}  // namespace

uint64_t readLittleEndian(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void appendLittleEndian(std::string* out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t BlockMap::blockLength(int64_t i) const {
    const int64_t start = i * blockSize;
    return static_cast<uint32_t>(fileSize - start < blockSize ? fileSize - start : blockSize);
}

uint32_t crc32Update(uint32_t crc, const uint8_t* p, size_t n) {
    crc = ~crc;
    // Eight bytes a step: the scan takes the sum of every block it jumps to.
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t lo = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = kCrc.t[7][lo & 0xFF] ^ kCrc.t[6][(lo >> 8) & 0xFF] ^ kCrc.t[5][(lo >> 16) & 0xFF] ^
              kCrc.t[4][lo >> 24] ^ kCrc.t[3][p[4]] ^ kCrc.t[2][p[5]] ^ kCrc.t[1][p[6]] ^ kCrc.t[0][p[7]];
    }
    while (n--) crc = kCrc.t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

size_t blockMapLimit(int64_t fileSize) {
    // At most one block per KiB, of 8 bytes: under 1 % of the file.
    if (fileSize <= 0 || fileSize > kLargestMappedFile) return kBlockMapHeader;
    return kBlockMapHeader + static_cast<size_t>(fileSize / 1024 + 1) * 8;
}

bool sameSha1(const uint8_t bytes[20], const char* sha1Hex) {
    const auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
    for (int i = 0; i < 20; ++i) {
        const int hi = digit(sha1Hex[2 * i]), lo = hi < 0 ? -1 : digit(sha1Hex[2 * i + 1]);
        if (lo < 0 || bytes[i] != (hi << 4 | lo)) return false;
    }
    return true;
}

bool readBlockMap(const char* data, size_t size, const char* sha1Hex, int64_t fileSize, BlockMap* out) {
    const auto* p = reinterpret_cast<const uint8_t*>(data);
    if (size < kBlockMapHeader || size > blockMapLimit(fileSize) || std::memcmp(p, kMagic, 8) != 0 ||
        !sameSha1(p + 8, sha1Hex))
        return false;
    BlockMap m;
    std::memcpy(m.sha1, p + 8, 20);
    m.fileSize = static_cast<int64_t>(readLittleEndian(p + 28, 8));
    m.blockSize = static_cast<uint32_t>(readLittleEndian(p + 36, 4));
    m.weakBytes = p[40];
    m.checkBytes = p[41];
    const bool sane = m.fileSize == fileSize && fileSize > 0 && fileSize <= kLargestMappedFile && m.blockSize >= 1024 && m.blockSize <= (1u << 20) &&
                      (m.blockSize & (m.blockSize - 1)) == 0 && m.weakBytes == 4 && m.checkBytes >= 2 &&
                      m.checkBytes <= 4 && p[42] == 0 && p[43] == 0;
    if (!sane) return false;
    const int64_t blocks = (fileSize + m.blockSize - 1) / m.blockSize;
    const size_t entry = m.weakBytes + m.checkBytes;
    if (static_cast<uint64_t>(size - kBlockMapHeader) != static_cast<uint64_t>(blocks) * entry) return false;
    m.weak.resize(static_cast<size_t>(blocks));
    m.check.resize(static_cast<size_t>(blocks));
    for (int64_t i = 0; i < blocks; ++i) {
        const uint8_t* e = p + kBlockMapHeader + static_cast<size_t>(i) * entry;
        m.weak[i] = static_cast<uint32_t>(readLittleEndian(e, m.weakBytes));
        m.check[i] = static_cast<uint32_t>(readLittleEndian(e + m.weakBytes, m.checkBytes));
    }
    *out = std::move(m);
    return true;
}

// Near sqrt(size / 3): a map of about a two-thousandth of a 500 MB file, and
// little over-fetch where a changed entry ends inside a block.
uint32_t chooseBlockSize(int64_t fileSize) {
    const double ideal = 2.0 * std::sqrt(static_cast<double>(fileSize) / 3.0);
    uint32_t block = 4096;
    while (block < 65536 && block * 1.5 < ideal) block *= 2;
    return block;
}

// Enough check bits that a scan of a file with nothing in common takes a
// false match (which costs a whole download) less than once in 100,000 runs.
uint8_t chooseCheckBytes(int64_t fileSize, uint32_t blockSize) {
    const double blocks = static_cast<double>(fileSize) / blockSize;
    const double weakHits = static_cast<double>(fileSize) * blocks / 4294967296.0;
    for (uint8_t bytes = 2; bytes < 4; ++bytes)
        if (weakHits / std::ldexp(1.0, 8 * bytes) < 1e-5) return bytes;
    return 4;
}

std::string makeBlockMap(const uint8_t* data, size_t size, const uint8_t sha1[20]) {
    const uint32_t block = chooseBlockSize(static_cast<int64_t>(size));
    const uint8_t checkBytes = chooseCheckBytes(static_cast<int64_t>(size), block);
    std::string out(kMagic, 8);
    out.append(reinterpret_cast<const char*>(sha1), 20);
    appendLittleEndian(&out, size, 8);
    appendLittleEndian(&out, block, 4);
    out.push_back(4);
    out.push_back(static_cast<char>(checkBytes));
    out.append(2, '\0');
    for (size_t at = 0; at < size; at += block) {
        const size_t length = size - at < block ? size - at : block;
        appendLittleEndian(&out, crc32Update(0, data + at, length), 4);
        appendLittleEndian(&out, lowBytes(crc32Update(0, data + at, length < kCheckSpan ? length : kCheckSpan), checkBytes),
                 checkBytes);
    }
    return out;
}

bool blockMatchesMap(const BlockMap& map, int64_t block, const uint8_t* data, size_t length) {
    if (block < 0 || block >= map.blocks() || length != map.blockLength(block)) return false;
    const size_t i = static_cast<size_t>(block);
    return lowBytes(crc32Update(0, data, length), map.weakBytes) == map.weak[i] &&
           lowBytes(crc32Update(0, data, length < kCheckSpan ? length : kCheckSpan), map.checkBytes) == map.check[i];
}

uint32_t lowBytes(uint32_t v, int bytes) { return bytes >= 4 ? v : v & ((1u << (8 * bytes)) - 1); }
