// SHA-1 fed piece by piece: with the CPU's SHA extensions where it has them,
// else through CNG (BCrypt). One owner of the provider and hash handles;
// move and copy are deleted so nothing closes twice.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <cstddef>
#include <cstdint>

#include "files/sha1_fast.h"

constexpr int64_t kHashProgressStep = 64LL * 1024 * 1024;  // report once per 64 MiB
constexpr uint32_t kHashChunk = 1024 * 1024;

class Sha1Hash {
public:
    Sha1Hash();
    ~Sha1Hash();
    Sha1Hash(const Sha1Hash&) = delete;
    Sha1Hash& operator=(const Sha1Hash&) = delete;

    bool ok() const { return (fast_ && !finished_) || hash_ != nullptr; }
    void add(const void* data, size_t size);
    // 40 lowercase hex digits and a terminator; the hash is used up.
    bool finishHex(char out[41]);

private:
    bool fast_ = false;
    bool finished_ = false;
    Sha1Stream stream_;
    BCRYPT_ALG_HANDLE alg_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// SHA-1 of a file through CNG as 40 lowercase hex digits and a terminator.
// With progress, files over 64 MiB report "Checking game files... N%".
bool sha1OfFile(const wchar_t* path, char out[41], bool progress);
