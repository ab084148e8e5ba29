#include "update/body_prefetch_win.h"

#include <new>

BodyPrefetcher::BodyPrefetcher(HINTERNET request, uint32_t blockSize)
    : request_(request), blockSize_(blockSize), blocks_(new (std::nothrow) char[size_t{blockSize} * kSlots]) {
    if (blocks_) reader_ = std::thread([this] { readLoop(); });
}

BodyPrefetcher::~BodyPrefetcher() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
}

void BodyPrefetcher::readLoop() {
    for (int tail = 0;; tail = (tail + 1) % kSlots) {
        {
            std::unique_lock<std::mutex> hold(mutex_);
            changed_.wait(hold, [&] { return stop_ || !slots_[tail].filled; });
            if (stop_) return;
        }
        DWORD got = 0;
        bool failed = !::WinHttpReadData(request_, blocks_.get() + size_t{blockSize_} * tail, blockSize_, &got);
        {
            std::lock_guard<std::mutex> hold(mutex_);
            slots_[tail] = Slot{got, true, failed};
        }
        changed_.notify_all();
        if (failed || got == 0) return;  // the consumer sees the end in this slot
    }
}

bool BodyPrefetcher::next(const char** data, DWORD* count) {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return slots_[head_].filled; });
    *data = blocks_.get() + size_t{blockSize_} * head_;
    *count = slots_[head_].count;
    return !slots_[head_].failed;
}

void BodyPrefetcher::release() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        slots_[head_].filled = false;
        head_ = (head_ + 1) % kSlots;
    }
    changed_.notify_all();
}
