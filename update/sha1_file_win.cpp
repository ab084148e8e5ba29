#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <memory>
#include <new>

#include "app/launcher_state.h"
#include "update/file_check.h"

namespace {

// One owner per handle kind, closed in one place.
struct FileHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : h(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

struct Sha1Hash {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    Sha1Hash() {
        if (BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA1_ALGORITHM, nullptr, 0)) &&
            !BCRYPT_SUCCESS(::BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0)))
            hash = nullptr;
    }
    Sha1Hash(const Sha1Hash&) = delete;
    Sha1Hash& operator=(const Sha1Hash&) = delete;
    ~Sha1Hash() {
        if (hash) ::BCryptDestroyHash(hash);
        if (alg) ::BCryptCloseAlgorithmProvider(alg, 0);
    }
    bool ok() const { return hash != nullptr; }
};

void reportProgress(int64_t total, int64_t size, DWORD chunk) {
    // Once per 64 MiB crossed, so the status line moves a few times per large file.
    if (total % kHashProgressStep < static_cast<int64_t>(chunk))
        setStatus(-1, L"Checking game files... %d%%", static_cast<int>(total * 100 / size));
}

}  // namespace

bool sha1OfFile(const wchar_t* path, char out[41], bool progress) {
    FileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.ok()) return false;
    Sha1Hash sha;
    if (!sha.ok()) return false;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kHashChunk]);
    if (!buffer) return false;
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file.h, &size);
    bool report = progress && size.QuadPart > kHashProgressStep;
    int64_t total = 0;
    DWORD got = 0;
    while (::ReadFile(file.h, buffer.get(), kHashChunk, &got, nullptr) && got > 0) {
        ::BCryptHashData(sha.hash, buffer.get(), got, 0);
        total += got;
        if (report) reportProgress(total, size.QuadPart, got);
    }
    unsigned char digest[20];
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(sha.hash, digest, sizeof digest, 0))) return false;
    for (int i = 0; i < 20; ++i) std::snprintf(out + i * 2, 3, "%02x", digest[i]);
    return true;
}
