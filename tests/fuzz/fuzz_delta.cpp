// The block map reader, the scan and plan it feeds, and the multipart
// reader. A map that reads well must give a plan that covers its file once,
// in order; a multipart body must never hand over more bytes than its part
// announced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "delta/block_map.h"
#include "delta/delta_plan.h"
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
    int64_t covered = 0;
    for (const DeltaRun& run : planDelta(map, index, 0)) {
        if (run.target != covered || run.length <= 0 || (run.copy && (run.source < 0 || run.source + run.length > static_cast<int64_t>(size))))
            std::abort();
        covered += run.length;
    }
    if (covered != map.fileSize) std::abort();
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzMap(data, size);
    fuzzMultipart(data, size);
    return 0;
}
