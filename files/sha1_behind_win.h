// SHA-1 fed on a thread of its own, in the order the pieces are given: a
// copy of gigabytes writes its next piece while the last one is hashed,
// instead of doing both in turn.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "files/sha1_win.h"

class Sha1Behind {
public:
    explicit Sha1Behind(Sha1Hash* hash);  // null: nothing is hashed
    ~Sha1Behind();                         // everything handed over is hashed by then
    Sha1Behind(const Sha1Behind&) = delete;
    Sha1Behind& operator=(const Sha1Behind&) = delete;

    void add(const void* data, size_t size);  // copied
    void add(std::vector<uint8_t>&& piece);   // taken
    // A hashed piece's buffer to fill again (empty when none is free).
    std::vector<uint8_t> spare();

private:
    void hashQueued();

    Sha1Hash* hash_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> queue_;
    std::vector<std::vector<uint8_t>> spare_;
    size_t queuedBytes_ = 0;
    bool closing_ = false;
    std::thread thread_;  // none: pieces are hashed on the caller's thread
};
