#include "files/sha1_behind_win.h"

#include <utility>

namespace {

// What may wait to be hashed: a few pieces, so the writer rarely waits and
// memory stays small.
constexpr size_t kMostQueued = 8 * 1024 * 1024;
constexpr size_t kMostSpare = 12;

}  // namespace

Sha1Behind::Sha1Behind(Sha1Hash* hash) : hash_(hash) {
    if (!hash_) return;
    try {
        thread_ = std::thread([this] { hashQueued(); });
    } catch (...) {
        // no thread: add() hashes in place
    }
}

Sha1Behind::~Sha1Behind() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        closing_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

void Sha1Behind::add(const void* data, size_t size) {
    if (!hash_ || !size) return;
    std::vector<uint8_t> piece = spare();
    piece.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    add(std::move(piece));
}

void Sha1Behind::add(std::vector<uint8_t>&& piece) {
    if (!hash_ || piece.empty()) return;
    if (!thread_.joinable()) {
        hash_->add(piece.data(), piece.size());
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return queuedBytes_ < kMostQueued; });
    queuedBytes_ += piece.size();
    queue_.push_back(std::move(piece));
    changed_.notify_all();
}

std::vector<uint8_t> Sha1Behind::spare() {
    std::lock_guard<std::mutex> hold(lock_);
    if (spare_.empty()) return {};
    std::vector<uint8_t> piece = std::move(spare_.back());
    spare_.pop_back();
    return piece;
}

void Sha1Behind::hashQueued() {
    for (;;) {
        std::vector<uint8_t> piece;
        {
            std::unique_lock<std::mutex> hold(lock_);
            changed_.wait(hold, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;  // closing, and all hashed
            piece = std::move(queue_.front());
            queue_.pop_front();
        }
        hash_->add(piece.data(), piece.size());
        std::lock_guard<std::mutex> hold(lock_);
        queuedBytes_ -= piece.size();
        if (spare_.size() < kMostSpare) spare_.push_back(std::move(piece));
        changed_.notify_all();
    }
}
