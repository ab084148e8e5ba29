#include "delta/zstd_stream.h"

#define ZSTD_STATIC_LINKING_ONLY  // frame headers, read before the frame is decoded
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <vector>

namespace {

constexpr uint32_t kFrameMagic = 0xFD2FB528u;
constexpr uint32_t kSkippableMask = 0xFFFFFFF0u;
constexpr uint32_t kSkippableMagic = 0x184D2A50u;
constexpr size_t kMagicBytes = 4;
constexpr size_t kHeaderPrefix = 5;  // the magic and the frame header's descriptor byte
// The decoder buffers the lesser of a frame's size and its history: a frame
// that does not say its size gets no more than 8 MiB of history.
constexpr uint64_t kMostUnsizedWindow = uint64_t{1} << 23;

// A decoder keeps its buffers (up to a frame's size) between streams: made
// afresh for each of thousands of small files, their allocation cost more
// than the decoding. One kept per thread.
struct KeptDecoder {
    ZSTD_DCtx* dctx = nullptr;
    ~KeptDecoder() { ZSTD_freeDCtx(dctx); }
};
thread_local KeptDecoder tKept;

ZSTD_DCtx* takeDecoder() {
    ZSTD_DCtx* d = tKept.dctx ? tKept.dctx : ZSTD_createDCtx();
    tKept.dctx = nullptr;
    if (d && ZSTD_isError(ZSTD_DCtx_reset(d, ZSTD_reset_session_and_parameters))) {
        ZSTD_freeDCtx(d);
        d = ZSTD_createDCtx();
    }
    return d;
}

void giveBack(ZSTD_DCtx* d) {
    if (tKept.dctx) ZSTD_freeDCtx(tKept.dctx);
    tKept.dctx = d;
}

uint32_t littleEndian32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

struct ZstdStream::State {
    ZSTD_DCtx* dctx = nullptr;
    std::vector<uint8_t> out;
    std::vector<uint8_t> header;  // a frame's header while it arrives
    size_t headerSize = 0;        // known once its first bytes are here
    bool atFrameStart = true;
};

ZstdStream::ZstdStream(ZstdBounds bounds, const uint8_t* reference, size_t referenceSize)
    : state_(new State), bounds_(bounds), reference_(reference), referenceSize_(referenceSize) {
    state_->dctx = takeDecoder();
    if (!state_->dctx ||
        ZSTD_isError(ZSTD_DCtx_setParameter(state_->dctx, ZSTD_d_windowLogMax, static_cast<int>(bounds_.mostWindowLog))))
        fail(kZstdCorrupt, "the decoder could not be made");
    state_->out.resize(ZSTD_DStreamOutSize());
}

ZstdStream::~ZstdStream() {
    giveBack(state_->dctx);
    delete state_;
}

ZstdResult ZstdStream::fail(ZstdResult result, const std::string& why) {
    if (failed_ == kZstdMore) {
        failed_ = result;
        why_ = why;
    }
    return failed_;
}

ZstdResult ZstdStream::feed(const uint8_t* data, size_t size, const ZstdTaker& take) {
    while (size > 0 && failed_ == kZstdMore) {
        size_t used = 0;
        if (state_->atFrameStart) {
            used = takeHeader(data, size);
            if (failed_ == kZstdMore && !state_->atFrameStart) {
                // The header is whole and fits: it is the frame's first input.
                const std::vector<uint8_t> head = std::move(state_->header);
                state_->header.clear();
                decode(head.data(), head.size(), take);
            }
        } else {
            used = decode(data, size, take);
        }
        data += used;
        size -= used;
    }
    return failed_;
}

ZstdResult ZstdStream::finish() {
    if (failed_ == kZstdMore && (!state_->atFrameStart || !state_->header.empty()))
        fail(kZstdCorrupt, "the input ended inside a frame");
    return failed_ == kZstdMore ? kZstdDone : failed_;
}

// Gathers a frame's header, then judges it before a byte of the frame is
// decoded: what it declares it will write, the history it needs.
size_t ZstdStream::takeHeader(const uint8_t* data, size_t size) {
    std::vector<uint8_t>& h = state_->header;
    size_t used = 0;
    for (;;) {
        const size_t want = state_->headerSize ? state_->headerSize : kHeaderPrefix;
        const size_t part = std::min(size - used, want - h.size());
        h.insert(h.end(), data + used, data + used + part);
        used += part;
        if (h.size() < want) return used;  // the rest comes with the next bytes
        if (state_->headerSize) break;
        const uint32_t magic = littleEndian32(h.data());
        if ((magic & kSkippableMask) == kSkippableMagic) {
            state_->headerSize = ZSTD_SKIPPABLEHEADERSIZE;
        } else if (magic == kFrameMagic) {
            const size_t n = ZSTD_frameHeaderSize(h.data(), h.size());
            if (ZSTD_isError(n)) return fail(kZstdCorrupt, "a frame header that does not read"), used;
            state_->headerSize = n;
        } else {
            return fail(kZstdCorrupt, "not a zstd frame"), used;
        }
    }
    ZSTD_frameHeader frame{};
    if (ZSTD_getFrameHeader(&frame, h.data(), h.size()) != 0) return fail(kZstdCorrupt, "a frame header that does not read"), used;
    state_->headerSize = 0;
    if (frame.frameType == ZSTD_frame) {
        if (frame.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN &&
            frame.frameContentSize > static_cast<uint64_t>(bounds_.mostOutput - produced_))
            return fail(kZstdTooMuch, "a frame declares " + std::to_string(frame.frameContentSize) + " bytes where " +
                                          std::to_string(bounds_.mostOutput - produced_) + " are left"), used;
        if (frame.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN && frame.windowSize > kMostUnsizedWindow)
            return fail(kZstdWindowTooLarge, "a frame of unknown size needs a history of " +
                                                 std::to_string(frame.windowSize) + " bytes"), used;
        if (frame.windowSize > (uint64_t{1} << bounds_.mostWindowLog))
            return fail(kZstdWindowTooLarge, "a frame needs a history of " + std::to_string(frame.windowSize) +
                                                 " bytes, more than " + std::to_string(uint64_t{1} << bounds_.mostWindowLog)), used;
        // A reference serves one frame: named again for each.
        if (reference_ && ZSTD_isError(ZSTD_DCtx_refPrefix(state_->dctx, reference_, referenceSize_)))
            return fail(kZstdCorrupt, "the reference could not be used"), used;
    }
    state_->atFrameStart = false;
    return used;
}

// Decodes until the input is used or a frame ends (the next one starts
// with its header); returns what was used.
size_t ZstdStream::decode(const uint8_t* data, size_t size, const ZstdTaker& take) {
    ZSTD_inBuffer in{data, size, 0};
    for (;;) {
        ZSTD_outBuffer out{state_->out.data(), state_->out.size(), 0};
        const size_t left = ZSTD_decompressStream(state_->dctx, &out, &in);
        if (ZSTD_isError(left)) {
            const bool window = ZSTD_getErrorCode(left) == ZSTD_error_frameParameter_windowTooLarge;
            fail(window ? kZstdWindowTooLarge : kZstdCorrupt, ZSTD_getErrorName(left));
            return in.pos;
        }
        if (out.pos > 0) {
            if (static_cast<int64_t>(out.pos) > bounds_.mostOutput - produced_) {
                fail(kZstdTooMuch, "the frames make more than " + std::to_string(bounds_.mostOutput) + " bytes");
                return in.pos;
            }
            produced_ += static_cast<int64_t>(out.pos);
            if (!take(state_->out.data(), out.pos)) {
                fail(kZstdStopped, "the decoded bytes were refused");
                return in.pos;
            }
        }
        if (left == 0) {
            state_->atFrameStart = true;
            return in.pos;
        }
        if (in.pos == in.size && out.pos < out.size) return in.pos;
    }
}
