// zstd frames decoded as their bytes arrive, within bounds that no source
// can move: the output stops at the size the signed manifest gives, the
// history a frame may ask for is capped (memory), and bytes that do not
// decode end the stream with the decoder's own words. A reference (the
// installed copy a patch was made from, its bytes in place: nothing is
// copied) serves every frame, as zstd's --patch-from expects. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum ZstdResult {
    kZstdMore,          // all taken; a frame may still be open
    kZstdDone,          // (finish) the input ended at a frame's end
    kZstdTooMuch,       // a frame declares or makes more than may be written
    kZstdWindowTooLarge,  // a frame needs more history than the cap
    kZstdCorrupt,       // bytes that do not decode, or input that ends inside a frame
    kZstdStopped,       // the taker refused the output
};

struct ZstdBounds {
    int64_t mostOutput = 0;
    unsigned mostWindowLog = 27;  // 128 MiB of history at most
};

// Told the decoded bytes, in order; false stops the stream.
using ZstdTaker = std::function<bool(const uint8_t* data, size_t size)>;

class ZstdStream {
public:
    explicit ZstdStream(ZstdBounds bounds, const uint8_t* reference = nullptr, size_t referenceSize = 0);
    ~ZstdStream();
    ZstdStream(const ZstdStream&) = delete;
    ZstdStream& operator=(const ZstdStream&) = delete;

    // Once a result other than kZstdMore came, every later call repeats it.
    ZstdResult feed(const uint8_t* data, size_t size, const ZstdTaker& take);
    // The input has ended: kZstdDone when it ended at a frame's end.
    ZstdResult finish();

    int64_t produced() const { return produced_; }
    // Why it failed, for the log ("" while it has not).
    const std::string& why() const { return why_; }

private:
    ZstdResult fail(ZstdResult result, const std::string& why);
    size_t takeHeader(const uint8_t* data, size_t size);
    size_t decode(const uint8_t* data, size_t size, const ZstdTaker& take);

    struct State;
    State* state_;
    ZstdBounds bounds_;
    const uint8_t* reference_;
    size_t referenceSize_;
    int64_t produced_ = 0;
    ZstdResult failed_ = kZstdMore;
    std::string why_;
};
