// SHA-1 through CNG (BCrypt), fed piece by piece. One owner of the provider
// and hash handles; move and copy are deleted so nothing closes twice.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <cstddef>
#include <cstdint>

constexpr int64_t kHashProgressStep = 64LL * 1024 * 1024;  // report once per 64 MiB
constexpr uint32_t kHashChunk = 1024 * 1024;

class Sha1Hash {
public:
    Sha1Hash();
    ~Sha1Hash();
    Sha1Hash(const Sha1Hash&) = delete;
    Sha1Hash& operator=(const Sha1Hash&) = delete;

    bool ok() const { return hash_ != nullptr; }
    void add(const void* data, size_t size);
    // 40 lowercase hex digits and a terminator; the hash is used up.
    bool finishHex(char out[41]);

private:
    BCRYPT_ALG_HANDLE alg_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// SHA-1 of a file through CNG as 40 lowercase hex digits and a terminator.
// With progress, files over 64 MiB report "Checking game files... N%".
bool sha1OfFile(const wchar_t* path, char out[41], bool progress);
