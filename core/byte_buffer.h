// A heap byte buffer with one zero byte after its data, so text bodies can
// be scanned as zero-terminated strings. Move-only: exactly one owner frees it.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

struct ByteBuffer {
    char* data = nullptr;  // malloc'd; data[size] is always 0
    size_t size = 0;

    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept
        : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        if (this != &other) {
            std::free(data);
            data = std::exchange(other.data, nullptr);
            size = std::exchange(other.size, 0);
        }
        return *this;
    }
    ~ByteBuffer() { std::free(data); }

    explicit operator bool() const { return data != nullptr; }

    // Takes a malloc'd block of at least size + 1 bytes and terminates it.
    static ByteBuffer adopt(char* block, size_t size) {
        ByteBuffer b;
        b.data = block;
        b.size = size;
        block[size] = 0;
        return b;
    }

    // A copy of size bytes; empty when memory runs out.
    static ByteBuffer copyOf(const void* bytes, size_t size) {
        char* block = static_cast<char*>(std::malloc(size + 1));
        if (!block) return {};
        if (size) std::memcpy(block, bytes, size);
        return adopt(block, size);
    }
};
