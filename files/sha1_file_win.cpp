#include <windows.h>

#include <cstdio>
#include <memory>
#include <new>

#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "files/file_check.h"
#include "files/sha1_win.h"

namespace {

void reportProgress(int64_t total, int64_t size, DWORD chunk) {
    // Once per 64 MiB crossed, so the status line moves a few times per large file.
    if (total % kHashProgressStep < static_cast<int64_t>(chunk))
        setStatus(-1, L"Checking game files... %d%%", static_cast<int>(total * 100 / size));
}

}  // namespace

Sha1Hash::Sha1Hash() {
    static const bool accelerated = sha1Accelerated();
    fast_ = accelerated;
    if (fast_) return;
    if (BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&alg_, BCRYPT_SHA1_ALGORITHM, nullptr, 0)) &&
        !BCRYPT_SUCCESS(::BCryptCreateHash(alg_, &hash_, nullptr, 0, nullptr, 0, 0)))
        hash_ = nullptr;
}

Sha1Hash::~Sha1Hash() {
    if (hash_) ::BCryptDestroyHash(hash_);
    if (alg_) ::BCryptCloseAlgorithmProvider(alg_, 0);
}

void Sha1Hash::add(const void* data, size_t size) {
    if (fast_) {
        if (!finished_) stream_.add(data, size);
        return;
    }
    if (hash_ && size) ::BCryptHashData(hash_, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0);
}

bool Sha1Hash::finishHex(char out[41]) {
    unsigned char digest[20];
    if (fast_) {
        if (finished_) return false;
        stream_.finish(digest);
        finished_ = true;
    } else {
        if (!hash_ || !BCRYPT_SUCCESS(::BCryptFinishHash(hash_, digest, sizeof digest, 0))) return false;
        ::BCryptDestroyHash(hash_);
        hash_ = nullptr;
    }
    for (int i = 0; i < 20; ++i) std::snprintf(out + i * 2, 3, "%02x", digest[i]);
    return true;
}

bool sha1OfFile(const wchar_t* path, char out[41], bool progress) {
    KernelHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    Sha1Hash sha;
    if (!sha.ok()) return false;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kHashChunk]);
    if (!buffer) return false;
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file.get(), &size);
    bool report = progress && size.QuadPart > kHashProgressStep;
    int64_t total = 0;
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer.get(), kHashChunk, &got, nullptr) && got > 0) {
        sha.add(buffer.get(), got);
        total += got;
        if (report) reportProgress(total, size.QuadPart, got);
    }
    return sha.finishHex(out);
}
