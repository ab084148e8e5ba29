// Reads a response body on a helper thread a few blocks ahead of its
// consumer, so network reads overlap with disk writes and hashing. Where no
// thread can be started it reads inline instead.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "net/http_client.h"

// False stands for a system that cannot start the helper thread (tests).
extern std::atomic<bool> gReadAheadAvailable;

class BodyPrefetcher {
public:
    // Fails to start (ok() false) only when its buffers cannot be had.
    // Without `readAhead` the body is read inline.
    BodyPrefetcher(WinHttpHandle& request, uint32_t blockSize, bool readAhead = true);
    // Closes the request: the body is finished with either way. A consumer
    // that stops early does not wait for the read in flight: the helper is
    // left to finish it on its own and then ends.
    ~BodyPrefetcher();
    BodyPrefetcher(const BodyPrefetcher&) = delete;
    BodyPrefetcher& operator=(const BodyPrefetcher&) = delete;

    bool ok() const { return shared_ != nullptr; }
    // The next block in order. False on a read error, with *count bytes that
    // still arrived before it; *count 0 at the end of the body. The block
    // stays valid until release().
    bool next(const char** data, DWORD* count);
    void release();

private:
    struct Shared;  // what the helper may still hold after the consumer has gone
    WinHttpHandle& request_;
    std::shared_ptr<Shared> shared_;
    bool readAhead_ = false;  // false: next() reads inline
    std::thread reader_;
};
