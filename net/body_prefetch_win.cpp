#include "net/body_prefetch_win.h"

#include "core/event_log_win.h"

#include <new>
#include <system_error>

std::atomic<bool> gReadAheadAvailable{true};

namespace {
constexpr int kSlots = 4;
struct Slot {
    DWORD count = 0;
    bool filled = false;
    bool failed = false;
};
}  // namespace

// Time between two reads beyond an eighth of the slow-body span is the
// consumer's (copying a long run out of the installed copy), not the
// server's: the rule starts its count again after it, since the server had
// filled every block the consumer was given.
constexpr uint64_t kConsumerPauseShare = 8;

struct BodyPrefetcher::Shared {
    HINTERNET request;
    SlowBodyGuard guard;  // only the reading thread touches it
    uint64_t lastReadMs = 0;
    uint32_t blockSize;
    std::unique_ptr<char[]> blocks;
    Slot slots[kSlots];
    int head = 0;  // next slot the consumer takes
    bool stop = false;
    bool reading = false;  // the helper is inside a read
    std::mutex mutex;
    std::condition_variable changed;

    char* block(int slot) { return blocks.get() + size_t{blockSize} * slot; }
    Slot readInto(int slot) {
        DWORD got = 0;
        const uint64_t now = ::GetTickCount64();
        if (lastReadMs && now - lastReadMs > guard.spanMs / kConsumerPauseShare)
            startSlowBodyGuard(guard, now, guard.spanMs, guard.minBytes);
        BodyPiece piece = readBodyPiece(request, guard, block(slot), blockSize, &got);
        // A body too slow fails the attempt; the part file keeps what came before.
        bool failed = piece == kBodyReadError || piece == kBodyTooSlow;
        lastReadMs = ::GetTickCount64();
        return Slot{got, true, failed};
    }
    void readLoop();
};

void BodyPrefetcher::Shared::readLoop() {
    for (int tail = 0;; tail = (tail + 1) % kSlots) {
        {
            std::unique_lock<std::mutex> hold(mutex);
            changed.wait(hold, [&] { return stop || !slots[tail].filled; });
            if (stop) return;
            reading = true;
        }
        Slot read = readInto(tail);
        {
            std::lock_guard<std::mutex> hold(mutex);
            reading = false;
            if (stop) return;  // nobody takes it any more
            slots[tail] = read;
        }
        changed.notify_all();
        if (read.failed || read.count == 0) return;  // the consumer sees the end in this slot
    }
}

BodyPrefetcher::BodyPrefetcher(WinHttpHandle& request, uint32_t blockSize, bool readAhead) : request_(request) {
    auto shared = std::shared_ptr<Shared>(new (std::nothrow) Shared);
    if (!shared) return;
    shared->request = request.get();
    guardBody(shared->request, shared->guard);
    shared->blockSize = blockSize;
    shared->blocks.reset(new (std::nothrow) char[size_t{blockSize} * kSlots]);
    if (!shared->blocks) return;
    shared_ = shared;
    if (!readAhead || !gReadAheadAvailable) return;
    try {
        reader_ = std::thread([shared] {
            setLogThread("read-ahead");
            shared->readLoop();
        });
        readAhead_ = true;
    } catch (const std::system_error&) {
        // No thread to be had: next() reads inline.
    }
}

BodyPrefetcher::~BodyPrefetcher() {
    bool inRead = false;
    if (shared_) {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        shared_->stop = true;
        inRead = shared_->reading;
    }
    if (shared_) shared_->changed.notify_all();
    // Closing cancels a read in flight where the system allows it; where it
    // does not, the read ends at its time-out, and the helper keeps what it
    // uses alive until then.
    request_.reset();
    if (!reader_.joinable()) return;
    if (inRead) reader_.detach();
    else reader_.join();
}

bool BodyPrefetcher::next(const char** data, DWORD* count) {
    Shared& s = *shared_;
    if (!readAhead_) s.slots[s.head] = s.readInto(s.head);
    std::unique_lock<std::mutex> hold(s.mutex);
    s.changed.wait(hold, [&] { return s.slots[s.head].filled; });
    *data = s.block(s.head);
    *count = s.slots[s.head].count;
    return !s.slots[s.head].failed;
}

void BodyPrefetcher::release() {
    {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        shared_->slots[shared_->head].filled = false;
        shared_->head = (shared_->head + 1) % kSlots;
    }
    shared_->changed.notify_all();
}
