// Reads a response body on a helper thread a few blocks ahead of its
// consumer, so network reads overlap with disk writes and hashing.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class BodyPrefetcher {
public:
    // Fails to start (ok() false) only when its buffers cannot be had.
    BodyPrefetcher(HINTERNET request, uint32_t blockSize);
    // Stops the helper and waits for it: at most the one read in flight.
    ~BodyPrefetcher();
    BodyPrefetcher(const BodyPrefetcher&) = delete;
    BodyPrefetcher& operator=(const BodyPrefetcher&) = delete;

    bool ok() const { return blocks_ != nullptr; }
    // The next block in order. False on a read error; *count 0 at the end of
    // the body. The block stays valid until release().
    bool next(const char** data, DWORD* count);
    void release();

private:
    static constexpr int kSlots = 4;
    struct Slot {
        DWORD count = 0;
        bool filled = false;
        bool failed = false;
    };
    void readLoop();

    HINTERNET request_;
    uint32_t blockSize_;
    std::unique_ptr<char[]> blocks_;
    Slot slots_[kSlots];
    int head_ = 0;  // next slot the consumer takes
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread reader_;
};
