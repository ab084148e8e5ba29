// Where each frame of a file's zst form lies, from its frame table
// ("<sha1>.frames", format in the README): frame k holds the file's bytes
// from k x kZstFrameBytes, so a download that holds a prefix of the file
// resumes at the frame holding its end, and segments are whole frames.
// A form of one frame needs no table. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/byte_ranges.h"

constexpr int64_t kZstFrameBytes = 4 * 1024 * 1024;
constexpr size_t kFrameTableHeader = 44;

struct FrameTable {
    std::vector<int64_t> starts;  // each frame's first byte in the zst form, then the form's size
    int64_t frames() const { return static_cast<int64_t>(starts.size()) - 1; }
};

// The largest table a file of `fileSize` bytes can have: a fetch stops there.
size_t frameTableLimit(int64_t fileSize);

// The table exactly as publish writes it for this file (its SHA-1 and size)
// and its zst form of `zstSize` bytes; false for anything else.
bool readFrameTable(const char* data, size_t size, const char* sha1Hex, int64_t fileSize, int64_t zstSize,
                    FrameTable* out);

// The form of a file that fits one frame.
FrameTable singleFrame(int64_t zstSize);

// The zst form from the frame holding byte `have` of the file to its end,
// as segments of whole frames, each at most `most` bytes unless one frame is
// larger.
std::vector<ByteRange> zstSegments(const FrameTable& table, int64_t have, int64_t most);
