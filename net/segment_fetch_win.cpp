#include "net/segment_fetch_win.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "core/event_log_win.h"
#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "net/http_client.h"
#include "net/multipart.h"
#include "net/sources_win.h"

std::atomic<int> gConnectionLimit{kConnections};

namespace {

int64_t lengthOf(const ByteRange& r) { return r.last - r.first + 1; }

SegmentsEnd unfitStatus(DWORD status) {
    if (status == 200 || status == 206 || status == 416 || status == 501) return kSegmentsUnfit;
    return status >= 400 && status < 500 ? kSegmentsRefused : kSegmentsFailed;
}

// One segment's bytes as they arrive: the connection fills `bytes` from the
// front and moves `filled` on; whoever writes the file takes what is filled.
struct Slot {
    std::vector<char> bytes;
    size_t filled = 0;
    SegmentsEnd end = kSegmentsDone;
    bool ready = false;  // no more bytes will come
    bool released = false;  // handed over and let go: its fetch frees the bytes when it ends
    uint64_t startedMs = 0;      // when its request (or its second try) went out
    int64_t receivedAtStart = 0;  // what every segment had brought by then
    size_t filledAtStart = 0;     // and what this one had
};

// Told each segment's bytes as they arrive; false ends its transfer (the
// fetch was stopped: a segment failed or fell far behind).
using Progress = std::function<bool(size_t filled)>;

// The body must be exactly the range: less is a failed transfer, more is
// no answer to what was asked.
SegmentsEnd readRangeBody(ServerRequest& request, char* out, size_t length, const Progress& progress) {
    SlowBodyGuard guard;
    guardBody(request.request.get(), guard);
    size_t have = 0;
    for (;;) {
        char extra[1];
        const bool full = have == length;
        DWORD got = 0;
        const DWORD want = full ? 1 : static_cast<DWORD>(std::min<size_t>(length - have, kBodyChunk));
        const BodyPiece piece = readBodyPiece(request.request.get(), guard, full ? extra : out + have, want, &got);
        if (full) return got == 0 && piece == kBodyEnd ? kSegmentsDone : kSegmentsUnfit;
        have += got;
        gState.bytesFromNetwork += got;
        if (got && !progress(have)) return kSegmentsFailed;
        if (piece != kBodyData) return kSegmentsFailed;  // ended short, broke off or too slow
    }
}

// GET bytes r.first+from .. r.last into out+from.
SegmentsEnd fetchRange(const wchar_t* path, const ByteRange& r, size_t from, char* out, const Progress& progress) {
    const int64_t first = r.first + static_cast<int64_t>(from);
    ServerRequest request = openRangeRequest(path, "bytes=" + std::to_string(first) + "-" + std::to_string(r.last));
    if (!request) return kSegmentsFailed;
    const DWORD status = requestStatusCode(request);
    int64_t a = 0, b = 0;
    // A 200 is the whole object where one segment was asked: abandoned here,
    // when its headers say so, not read to its end.
    if (status != 206 || !parseContentRange(responseHeader(request, WINHTTP_QUERY_CONTENT_RANGE), &a, &b) ||
        a != first || b != r.last)
        return unfitStatus(status);
    return readRangeBody(request, out + from, static_cast<size_t>(r.last - first + 1),
                         [&](size_t have) { return progress(from + have); });
}

class Transfer {
public:
    Transfer(const wchar_t* path, const std::vector<ByteRange>& segments)
        : path_(path), segments_(segments), slots_(segments.size()), end_(segments.size()) {}

    // Segment i on this thread, into its slot; a failed try is followed by
    // one more at once, from where the first broke off.
    void fetchAt(size_t i) {
        Slot& slot = slots_[i];
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (stop_ || slot.released) {  // the fetch ended before this one began
                slot.end = kSegmentsFailed;
                slot.ready = true;
                changed_.notify_all();
                return;
            }
            slot.bytes.resize(static_cast<size_t>(lengthOf(segments_[i])));
            startPaceLocked(slot);
        }
        auto progress = [&](size_t filled) {
            std::lock_guard<std::mutex> hold(lock_);
            received_ += static_cast<int64_t>(filled - slot.filled);
            slot.filled = filled;
            changed_.notify_all();
            return !stop_;
        };
        ++requests_;
        SegmentsEnd end = fetchRange(path_, segments_[i], 0, slot.bytes.data(), progress);
        // With a mirror to move to, a source that failed once is left at once.
        if (end == kSegmentsFailed && !stopped() && sourceCount() < 2) {
            ++requests_;
            size_t from = 0;
            {
                std::lock_guard<std::mutex> hold(lock_);
                startPaceLocked(slot);
                from = slot.filled;
            }
            end = fetchRange(path_, segments_[i], from, slot.bytes.data(), progress);
        }
        std::lock_guard<std::mutex> hold(lock_);
        slot.end = end;
        slot.ready = true;
        if (slot.released) std::vector<char>().swap(slot.bytes);
        if (end != kSegmentsDone) stop_ = true;  // nothing after it can be written
        changed_.notify_all();
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
            fetchAt(i);
        }
    }

    // Hands segment i over in its turn, in pieces of at least kHandOver as
    // it arrives, so the file grows as the bytes come (and the window hears
    // of it a few hundred times a second at most). How it ended, once all
    // are taken.
    static constexpr size_t kHandOver = 256 * 1024;
    SegmentsEnd takeInTurn(size_t i, const SegmentTaker& take) {
        Slot& slot = slots_[i];
        size_t taken = 0;
        for (;;) {
            size_t filled = 0;
            bool ready = false, behind = false;
            {
                std::unique_lock<std::mutex> hold(lock_);
                // Woken at least twice a second to judge the segment's pace.
                changed_.wait_for(hold, std::chrono::milliseconds(500),
                                  [&] { return slot.filled >= taken + kHandOver || slot.ready || stop_; });
                filled = slot.filled;
                behind = !slot.ready && !stop_ && farBehind(slot);
                if (behind) {  // the others stop too: what came is handed over, the rest asked again
                    stop_ = true;
                    changed_.notify_all();
                }
                ready = (slot.ready || stop_) && filled == taken;
                if (ready && !slot.ready) slot.end = kSegmentsFailed;
            }
            if (behind) logEvent("segment %zu (bytes %lld-%lld) far behind the others: asked again", i + 1,
                                 static_cast<long long>(segments_[i].first), static_cast<long long>(segments_[i].last));
            if (ready) return slot.end;
            if (filled > taken &&
                !take(segments_[i].first + static_cast<int64_t>(taken), slot.bytes.data() + taken, filled - taken))
                return kSegmentsDropped;
            taken = filled;
        }
    }

    // Segment i was written: its memory goes back to the window.
    void release(size_t i, bool counted) {
        std::lock_guard<std::mutex> hold(lock_);
        // A fetch still in flight (the transfer stopped) writes into the
        // bytes until its next arrival: it frees them when it ends.
        slots_[i].released = true;
        if (slots_[i].ready) std::vector<char>().swap(slots_[i].bytes);
        if (counted) reserved_ -= lengthOf(segments_[i]);
        changed_.notify_all();
    }

    // Segment `last`, fetched already, is held until its turn: the
    // connections take the others, within what is left of the window.
    void holdBack(size_t last) {
        std::lock_guard<std::mutex> hold(lock_);
        end_ = last;
        reserved_ = lengthOf(segments_[last]);
    }

    void stop() {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        changed_.notify_all();
    }

    int requests() const { return requests_; }

    // How a segment fetched to its end ended.
    SegmentsEnd endOf(size_t i) {
        std::lock_guard<std::mutex> hold(lock_);
        return slots_[i].end;
    }

private:
    bool fits(size_t i) const { return reserved_ + lengthOf(segments_[i]) <= kWindowBytes; }

    // Under the lock: a segment in flight for kSegmentBehindMs that brought
    // less than a twentieth of what the others brought meanwhile (at least a
    // segment's worth). It holds the window: everything after it waits.
    bool farBehind(const Slot& slot) const {
        if (!slot.startedMs || ::GetTickCount64() - slot.startedMs < scaledSpanMs(kSegmentBehindMs)) return false;
        const int64_t mine = static_cast<int64_t>(slot.filled - slot.filledAtStart);
        const int64_t others = received_ - slot.receivedAtStart - mine;
        return others >= kSegmentBytes && others >= kSegmentBehindRatio * mine;
    }
    // Under the lock: its pace is judged from now, a request's start or its
    // second try's.
    void startPaceLocked(Slot& slot) {
        slot.startedMs = ::GetTickCount64();
        slot.receivedAtStart = received_;
        slot.filledAtStart = slot.filled;
    }

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
    size_t end_;             // and where they stop
    int64_t reserved_ = 0;   // bytes of segments taken by connections and not yet written
    bool stop_ = false;
    int64_t received_ = 0;   // body bytes every segment brought so far
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
                threads.emplace_back([this, n] {
                    setLogThread(("segment " + std::to_string(n + 1)).c_str());
                    transfer.work();
                });
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
    const bool warm = isWarm(path);
    const size_t last = segments.size() - 1;
    // The connections take segments [0, wide); a cold object's last segment
    // went first and alone, and is handed over last.
    const size_t wide = warm ? segments.size() : last;
    SegmentsEnd end = kSegmentsDone;
    if (!warm) {
        transfer.fetchAt(last);
        end = transfer.endOf(last);
    }
    if (end == kSegmentsDone) {
        Crew crew{transfer, {}};
        if (wide > 0) {
            if (!warm) transfer.holdBack(last);
            const int limit = std::clamp(gConnectionLimit.load(), 1, kMostConnections);
            crew.start(static_cast<int>(std::min<size_t>(static_cast<size_t>(limit), wide)));
        }
        for (size_t i = 0; i < wide && end == kSegmentsDone; ++i) {
            if (crew.threads.empty()) transfer.fetchAt(i);  // the caller's thread, one at a time
            end = transfer.takeInTurn(i, take);
            transfer.release(i, !crew.threads.empty());
        }
    }
    if (!warm && end == kSegmentsDone) end = transfer.takeInTurn(last, take);
    *requests += transfer.requests();
    return end;
}

namespace {

// An edge keeps what it fetched for minutes at least; past that an object
// is warmed again, and the memory stays small over a long run.
constexpr uint64_t kWarmMs = 10 * 60 * 1000;
std::mutex gWarmLock;
std::map<std::wstring, uint64_t> gWarm;  // address -> when its last byte came

void warmOne(const LastByte& object, std::atomic<int>& sent) {
    char byte = 0;
    ++sent;
    const ByteRange last{object.size - 1, object.size - 1};
    if (fetchRange(object.address.c_str(), last, 0, &byte, [](size_t) { return true; }) == kSegmentsDone)
        noteWarm(object.address);
}

}  // namespace

void warmObjects(const std::vector<LastByte>& objects, int* requests) {
    std::atomic<int> sent{0};
    std::vector<std::thread> others;
    for (size_t i = 1; i < objects.size(); ++i) {
        try {
            others.emplace_back([&objects, &sent, i] {
                setLogThread("warm-up");
                warmOne(objects[i], sent);
            });
        } catch (...) {
            break;  // that one goes cold: its fetch warms it alone
        }
    }
    if (!objects.empty()) warmOne(objects.front(), sent);
    for (std::thread& t : others) t.join();
    *requests += sent;
}

void noteWarm(const std::wstring& address) {
    const uint64_t now = ::GetTickCount64();
    std::lock_guard<std::mutex> hold(gWarmLock);
    for (auto it = gWarm.begin(); it != gWarm.end();) it = now - it->second > kWarmMs ? gWarm.erase(it) : ++it;
    gWarm[address] = now;
}

bool isWarm(const std::wstring& address) {
    std::lock_guard<std::mutex> hold(gWarmLock);
    auto it = gWarm.find(address);
    return it != gWarm.end() && ::GetTickCount64() - it->second <= kWarmMs;
}

void forgetWarmObjects() {
    std::lock_guard<std::mutex> hold(gWarmLock);
    gWarm.clear();
}
