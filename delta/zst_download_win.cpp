#include "delta/zst_download_win.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "core/event_log_win.h"
#include "core/launcher_state.h"
#include "delta/zst_frames.h"
#include "delta/zstd_stream.h"
#include "net/body_prefetch_win.h"
#include "net/http_client.h"
#include "net/segment_fetch_win.h"
#include "trust/release.h"
#include "trust/signature_check_win.h"

namespace {

// A frame of 4 MiB needs no more history than that; a patch's frame may
// reach back into an old file of up to 128 MiB (the view is the system's
// memory, not the decoder's).
constexpr unsigned kZstWindowLog = 23;
constexpr unsigned kPatchWindowLog = 28;

// Decoded bytes from the start of the part file's frame on: what the part
// file holds already is skipped, the rest written after it.
class PartFiller {
public:
    PartFiller(HANDLE part, int64_t* have, Sha1Hash* written, int64_t skip)
        : part_(part), have_(have), written_(written), skip_(skip) {}

    bool take(const uint8_t* data, size_t size) {
        const size_t skipped = static_cast<size_t>(std::min<int64_t>(skip_, static_cast<int64_t>(size)));
        skip_ -= static_cast<int64_t>(skipped);
        data += skipped;
        size -= skipped;
        DWORD done = 0;
        if (size && (!::WriteFile(part_, data, static_cast<DWORD>(size), &done, nullptr) || done != size)) {
            failedHere_ = true;
            return false;
        }
        if (written_) written_->add(data, size);
        *have_ += static_cast<int64_t>(size);
        gState.bytesDone += static_cast<int64_t>(size);
        if (size) postStateChanged(0);
        return true;
    }
    bool failedHere() const { return failedHere_; }

private:
    HANDLE part_;
    int64_t* have_;
    Sha1Hash* written_;
    int64_t skip_;
    bool failedHere_ = false;
};

// The form's frames: one for a file of at most one frame's bytes, else the
// table the manifest names. *network tells a fetch that failed on the way.
bool frameTableOf(const ManifestEntry& entry, const ZstForm& form, FrameTable* out, ZstStats* stats, bool* network) {
    if (entry.size <= kZstFrameBytes) {
        *out = singleFrame(form.size);
        return true;
    }
    if (!form.framesSha256[0]) return stats->why = "no frame table named", false;
    DWORD status = 0;
    ++stats->requests;
    // Room for a table of the wrong size, so that it is read and refused
    // rather than taken for a failed transfer.
    const ByteBuffer body = fetchServerDocument((form.name + L".frames").c_str(), &status, frameTableLimit(entry.size) + 65536);
    if (!body || status >= 500) return *network = true, stats->why = "the frame table did not come", false;
    uint8_t digest[32];
    if (status != 200 || !sha256(body.data, body.size, digest) || objectAddress(digest).substr(12) != form.framesSha256 ||
        !readFrameTable(body.data, body.size, entry.sha1, entry.size, form.size, out))
        return stats->why = status == 200 ? "a frame table that is not the one named" : "no frame table here", false;
    return true;
}

// Several frames over several connections, in order.
ZstOutcome fromSegments(SegmentsEnd end, const ZstdStream& stream, const PartFiller& filler, ZstStats* stats) {
    switch (end) {
    case kSegmentsDone: return kZstComplete;
    case kSegmentsFailed: return kZstFailed;
    case kSegmentsDropped:
        if (filler.failedHere() || stream.why().empty()) return kZstFailed;  // the disk, or a segment far behind
        stats->why = stream.why();
        return kZstUnusable;
    default: stats->why = "the zst form is not served here"; return kZstUnusable;
    }
}

// From `start` of the form to its end in one request.
ZstOutcome fetchInOne(const std::wstring& address, int64_t start, int64_t zstSize,
                      const std::function<bool(const char*, size_t)>& feed, ZstStats* stats) {
    ++stats->requests;
    ServerRequest request = openServerRequest(address.c_str(), start);
    if (!request) return kZstFailed;
    const DWORD status = requestStatusCode(request);
    if (status != (start > 0 ? 206 : 200)) {
        stats->why = "the zst form answered " + std::to_string(status);
        return status >= 500 || status == 0 ? kZstFailed : kZstUnusable;
    }
    BodyPrefetcher body(request.request, 256 * 1024, zstSize - start > 256 * 1024);
    if (!body.ok()) return kZstFailed;
    for (int64_t left = zstSize - start;;) {
        const char* block = nullptr;
        DWORD got = 0;
        const bool readable = body.next(&block, &got);
        // A body that ended as its headers said, short of the size named:
        // another object than the one named, not a transfer cut short.
        if (readable && got == 0) return left == 0 ? kZstComplete : (stats->why = "the zst form is shorter than named", kZstUnusable);
        gState.bytesFromNetwork += got;
        if (static_cast<int64_t>(got) > left) return stats->why = "the zst form is longer than named", kZstUnusable;
        left -= got;
        const bool taken = feed(block, got);
        body.release();
        if (!taken) return kZstUnusable;  // the caller tells why
        if (!readable) return kZstFailed;
    }
}

}  // namespace

ZstForm ownZstForm(const ManifestEntry& entry, const std::wstring& object) {
    ZstForm form;
    form.name = object;
    form.size = entry.zstSha256[0] ? entry.zstSize : 0;
    form.framesSha256 = entry.framesSha256;
    return form;
}

ZstForm patchForm(const PatchOffer& offer, const std::wstring& object, const uint8_t* reference, size_t referenceSize) {
    ZstForm form;
    form.name = object + L"-";
    for (const char* c = offer.from; *c; ++c) form.name.push_back(static_cast<wchar_t>(*c));  // hex digits only
    form.size = offer.size;
    form.framesSha256 = offer.framesSha256;
    form.reference = reference;
    form.referenceSize = referenceSize;
    return form;
}

ZstOutcome fetchZstForm(const ManifestEntry& entry, const ZstForm& form, HANDLE part, int64_t* have,
                        Sha1Hash* written, ZstStats* stats) {
    if (form.size <= 0) return kZstUnavailable;
    FrameTable table;
    bool network = false;
    if (!frameTableOf(entry, form, &table, stats, &network)) return network ? kZstFailed : kZstUnusable;
    const int64_t frame = *have / kZstFrameBytes, from = frame * kZstFrameBytes;
    ZstdStream stream(ZstdBounds{entry.size - from, form.reference ? kPatchWindowLog : kZstWindowLog}, form.reference,
                      form.referenceSize);
    PartFiller filler(part, have, written, *have - from);
    const auto feed = [&](const char* data, size_t size) {
        stats->fetched += static_cast<int64_t>(size);
        return stream.feed(reinterpret_cast<const uint8_t*>(data), size,
                           [&filler](const uint8_t* p, size_t n) { return filler.take(p, n); }) == kZstdMore;
    };
    const std::wstring address = form.name + L".zst";
    const std::vector<ByteRange> segments = zstSegments(table, *have, kSegmentBytes);
    ZstOutcome outcome;
    if (segments.size() > 2) {
        const SegmentsEnd end = fetchSegments(address.c_str(), segments,
                                              [&feed](int64_t, const char* data, size_t size) { return feed(data, size); },
                                              &stats->requests);
        outcome = fromSegments(end, stream, filler, stats);
    } else {
        outcome = fetchInOne(address, segments.front().first, form.size, feed, stats);
        if (outcome == kZstUnusable && filler.failedHere()) outcome = kZstFailed;
        if (outcome == kZstUnusable && stats->why.empty()) stats->why = stream.why();
    }
    if (outcome != kZstComplete) return outcome;
    if (stream.finish() != kZstdDone || *have != entry.size) {
        stats->why = stream.why().empty() ? "the zst form makes " + std::to_string(*have) + " bytes, not " +
                                                std::to_string(entry.size)
                                          : stream.why();
        return kZstUnusable;
    }
    return kZstComplete;
}
