#include "delta/zst_frames.h"

#include <cstring>

#include "delta/block_map.h"

namespace {

constexpr char kMagic[8] = {'T', 'V', 'L', 'Z', 'F', 'R', '1', '\n'};

int64_t framesOf(int64_t fileSize) { return fileSize <= 0 ? 1 : (fileSize + kZstFrameBytes - 1) / kZstFrameBytes; }

}  // namespace

size_t frameTableLimit(int64_t fileSize) {
    // A file of up to 16 TiB: 4 million frames at most.
    if (fileSize < 0 || fileSize > (int64_t{1} << 44)) return kFrameTableHeader;
    return kFrameTableHeader + static_cast<size_t>(framesOf(fileSize)) * 4;
}

bool readFrameTable(const char* data, size_t size, const char* sha1Hex, int64_t fileSize, int64_t zstSize,
                    FrameTable* out) {
    const auto* p = reinterpret_cast<const uint8_t*>(data);
    const int64_t frames = framesOf(fileSize);
    if (size != frameTableLimit(fileSize) || size == kFrameTableHeader || std::memcmp(p, kMagic, 8) != 0 ||
        !sameSha1(p + 8, sha1Hex) || static_cast<int64_t>(readLittleEndian(p + 28, 8)) != fileSize ||
        readLittleEndian(p + 36, 4) != kZstFrameBytes || static_cast<int64_t>(readLittleEndian(p + 40, 4)) != frames)
        return false;
    FrameTable t;
    t.starts.reserve(static_cast<size_t>(frames) + 1);
    int64_t at = 0;
    for (int64_t k = 0; k < frames; ++k) {
        const int64_t length = static_cast<int64_t>(readLittleEndian(p + kFrameTableHeader + 4 * k, 4));
        if (length == 0) return false;  // no frame is empty
        t.starts.push_back(at);
        at += length;
    }
    if (at != zstSize) return false;
    t.starts.push_back(at);
    *out = std::move(t);
    return true;
}

FrameTable singleFrame(int64_t zstSize) { return FrameTable{{0, zstSize}}; }

std::vector<ByteRange> zstSegments(const FrameTable& table, int64_t have, int64_t most) {
    std::vector<ByteRange> out;
    const int64_t first = have / kZstFrameBytes;
    for (int64_t k = first; k < table.frames(); ++k) {
        const int64_t from = table.starts[static_cast<size_t>(k)], to = table.starts[static_cast<size_t>(k) + 1] - 1;
        if (!out.empty() && to - out.back().first + 1 <= most) out.back().last = to;
        else out.push_back({from, to});
    }
    return out;
}
