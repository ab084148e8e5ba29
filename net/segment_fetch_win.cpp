#include "net/segment_fetch_win.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "core/launcher_state.h"
#include "net/http_client.h"
#include "net/multipart.h"

std::atomic<int> gConnectionLimit{kConnections};

namespace {

int64_t lengthOf(const ByteRange& r) { return r.last - r.first + 1; }

SegmentsEnd unfitStatus(DWORD status) {
    if (status == 200 || status == 206 || status == 416 || status == 501) return kSegmentsUnfit;
    return status >= 400 && status < 500 ? kSegmentsRefused : kSegmentsFailed;
}

// The body must be exactly the segment: less is a failed transfer, more is
// no answer to what was asked.
SegmentsEnd readSegmentBody(ServerRequest& request, const ByteRange& r, std::vector<char>& out) {
    SlowBodyGuard guard;
    guardBody(request.request.get(), guard);
    out.resize(static_cast<size_t>(lengthOf(r)));
    size_t have = 0;
    for (;;) {
        char extra[1];
        const bool full = have == out.size();
        DWORD got = 0;
        const DWORD want = full ? 1 : static_cast<DWORD>(std::min<size_t>(out.size() - have, kBodyChunk));
        const BodyPiece piece = readBodyPiece(request.request.get(), guard, full ? extra : out.data() + have, want, &got);
        if (full) return got == 0 && piece == kBodyEnd ? kSegmentsDone : kSegmentsUnfit;
        have += got;
        gState.bytesFromNetwork += got;
        if (piece != kBodyData) return kSegmentsFailed;  // ended short, broke off or too slow
    }
}

SegmentsEnd fetchOne(const wchar_t* path, const ByteRange& r, std::vector<char>& out) {
    ServerRequest request = openRangeRequest(path, "bytes=" + std::to_string(r.first) + "-" + std::to_string(r.last));
    if (!request) return kSegmentsFailed;
    const DWORD status = requestStatusCode(request);
    int64_t first = 0, last = 0;
    // A 200 is the whole object where one segment was asked: abandoned here,
    // when its headers say so, not read to its end.
    if (status != 206 || !parseContentRange(responseHeader(request, WINHTTP_QUERY_CONTENT_RANGE), &first, &last) ||
        first != r.first || last != r.last)
        return unfitStatus(status);
    return readSegmentBody(request, r, out);
}

struct Slot {
    std::vector<char> bytes;
    SegmentsEnd end = kSegmentsDone;
    bool ready = false;
};

class Transfer {
public:
    Transfer(const wchar_t* path, const std::vector<ByteRange>& segments)
        : path_(path), segments_(segments), slots_(segments.size()) {}

    // Segment i on this thread, asked twice when the first try fails.
    SegmentsEnd fetchAt(size_t i, std::vector<char>& bytes) {
        ++requests_;
        SegmentsEnd end = fetchOne(path_, segments_[i], bytes);
        if (end != kSegmentsFailed || stopped()) return end;
        ++requests_;
        return fetchOne(path_, segments_[i], bytes);
    }

    void work() {
        for (;;) {
            size_t i = 0;
            {
                std::unique_lock<std::mutex> hold(lock_);
                changed_.wait(hold, [&] { return stop_ || next_ >= end_ || fits(next_); });
                if (stop_ || next_ >= end_) return;
                i = next_++;
                reserved_ += lengthOf(segments_[i]);
            }
            std::vector<char> bytes;
            const SegmentsEnd end = fetchAt(i, bytes);
            std::lock_guard<std::mutex> hold(lock_);
            slots_[i].bytes.swap(bytes);
            slots_[i].end = end;
            slots_[i].ready = true;
            if (end != kSegmentsDone) stop_ = true;  // nothing after it can be written
            changed_.notify_all();
        }
    }

    // Waits for segment i in its turn and takes its bytes away.
    SegmentsEnd awaitSlot(size_t i, std::vector<char>& bytes) {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return slots_[i].ready; });
        bytes.swap(slots_[i].bytes);
        return slots_[i].end;
    }

    void taken(size_t i) {
        std::lock_guard<std::mutex> hold(lock_);
        reserved_ -= lengthOf(segments_[i]);
        changed_.notify_all();
    }

    // Segment `last`, fetched already, is held until its turn: the
    // connections take the others, within what is left of the window.
    void holdBack(size_t last, int64_t bytes) {
        std::lock_guard<std::mutex> hold(lock_);
        end_ = last;
        reserved_ = bytes;
    }

    void stop() {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        changed_.notify_all();
    }

    int requests() const { return requests_; }

private:
    bool fits(size_t i) const { return reserved_ + lengthOf(segments_[i]) <= kWindowBytes; }
    bool stopped() {
        std::lock_guard<std::mutex> hold(lock_);
        return stop_;
    }

    const wchar_t* path_;
    const std::vector<ByteRange>& segments_;
    std::vector<Slot> slots_;
    std::mutex lock_;
    std::condition_variable changed_;
    size_t next_ = 0;        // the next segment a connection takes
    size_t end_ = 0;         // and where they stop
    int64_t reserved_ = 0;   // bytes of segments taken by connections and not yet handed over
    bool stop_ = false;
    std::atomic<int> requests_{0};
};

// Joins the connections' threads however the fetch ends.
struct Crew {
    Transfer& transfer;
    std::vector<std::thread> threads;
    ~Crew() {
        transfer.stop();
        for (std::thread& t : threads) t.join();
    }
    void start(int count) {
        for (int n = 0; n < count; ++n) {
            try {
                threads.emplace_back([this] { transfer.work(); });
            } catch (...) {
                break;  // fewer connections, or none: the caller's thread then fetches
            }
        }
    }
};

}  // namespace

SegmentsEnd fetchSegments(const wchar_t* path, const std::vector<ByteRange>& segments, const SegmentTaker& take,
                          int* requests) {
    if (segments.empty()) return kSegmentsDone;
    Transfer transfer(path, segments);
    const size_t last = segments.size() - 1;
    std::vector<char> lastBytes;
    SegmentsEnd end = transfer.fetchAt(last, lastBytes);
    {
        Crew crew{transfer, {}};
        if (end == kSegmentsDone && last > 0) {
            transfer.holdBack(last, lengthOf(segments[last]));
            const int limit = std::clamp(gConnectionLimit.load(), 1, kMostConnections);
            crew.start(static_cast<int>(std::min<size_t>(static_cast<size_t>(limit), last)));
        }
        for (size_t i = 0; i < last && end == kSegmentsDone; ++i) {
            std::vector<char> bytes;
            end = crew.threads.empty() ? transfer.fetchAt(i, bytes) : transfer.awaitSlot(i, bytes);
            if (end == kSegmentsDone && !take(segments[i], bytes.data(), bytes.size())) end = kSegmentsDropped;
            if (!crew.threads.empty()) transfer.taken(i);
        }
    }
    if (end == kSegmentsDone && !take(segments[last], lastBytes.data(), lastBytes.size())) end = kSegmentsDropped;
    *requests += transfer.requests();
    return end;
}
