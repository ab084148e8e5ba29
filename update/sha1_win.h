// SHA-1 through CNG (BCrypt), fed piece by piece. One owner of the provider
// and hash handles; move and copy are deleted so nothing closes twice.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <cstddef>

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
