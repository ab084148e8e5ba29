#include "update/launcher_update_win.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/atomic_file_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/launcher_version.h"
#include "update/http_client.h"
#include "update/signature_check_win.h"

std::wstring gLauncherExePath;
LauncherOfferObserver gLauncherOfferObserver = nullptr;

namespace {

std::atomic<bool> gChecking{false};

void report(const wchar_t* format, ...) {
    if (!gLauncherOfferObserver) return;
    wchar_t line[256];
    va_list args;
    va_start(args, format);
    std::vswprintf(line, 256, format, args);
    va_end(args);
    gLauncherOfferObserver(line);
}

bool sameHash(const uint8_t a[32], const uint8_t b[32]) { return std::memcmp(a, b, 32) == 0; }

bool bytesMatchOffer(const ByteBuffer& bytes, const LauncherOffer& offer) {
    uint8_t digest[32];
    return bytes && static_cast<int64_t>(bytes.size) == offer.size && sha256(bytes.data, bytes.size, digest) &&
           sameHash(digest, offer.sha256);
}

// The highest version this exe could be replaced by already: its own, or a
// build prepared before (read, not trusted: the swap checks it again).
int32_t versionInHand(const PreparedLauncher& prepared) {
    LauncherOffer kept;
    const ByteBuffer text = readWholeFile(prepared.offer.c_str());
    if (text && ::GetFileAttributesW(prepared.build.c_str()) != INVALID_FILE_ATTRIBUTES &&
        readLauncherOffer(text.data, text.size, &kept) && kept.version > kLauncherVersion)
        return kept.version;
    return kLauncherVersion;
}

// A folder the player may not write to (Program Files without rights):
// no download at all, and nothing shown.
bool folderWritable(const PreparedLauncher& prepared) {
    const std::wstring probe = prepared.build + L".probe";
    KernelHandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return static_cast<bool>(file);
}

// The signature first, then the document: a document on disk means the
// build and its signature are complete.
bool prepare(const PreparedLauncher& prepared, const ByteBuffer& build, const ByteBuffer& offer,
             const ByteBuffer& signature) {
    if (writeFileAtomically(prepared.build.c_str(), build.data, build.size) &&
        writeFileAtomically(prepared.signature.c_str(), signature.data, signature.size) &&
        writeFileAtomically(prepared.offer.c_str(), offer.data, offer.size))
        return true;
    discardPreparedLauncher(prepared);
    return false;
}

void downloadOffer(const PreparedLauncher& prepared, const LauncherOffer& offer, const ByteBuffer& body,
                   const ByteBuffer& signature) {
    const int version = static_cast<int>(offer.version);
    if (!folderWritable(prepared)) {
        report(L"version %d offered, signed, but the launcher's folder is not writable", version);
        return;
    }
    DWORD status = 0;
    const ByteBuffer build = fetchServerDocument(L"/launcher/self.exe", &status, static_cast<size_t>(offer.size));
    if (!build || status != 200) {
        report(L"version %d offered, signed, but /launcher/self.exe failed (status %lu)", version,
               static_cast<unsigned long>(status));
        return;
    }
    if (!bytesMatchOffer(build, offer)) {
        report(L"version %d offered, signed, but /launcher/self.exe does not match its size and SHA-256", version);
        return;
    }
    if (!prepare(prepared, build, body, signature)) {
        report(L"version %d offered, signed, but it could not be written beside the launcher", version);
        return;
    }
    report(L"version %d offered, signed, prepared", version);
}

DWORD WINAPI checkThread(void*) {
    checkLauncherOffer();
    gChecking = false;
    return 0;
}

}  // namespace

PreparedLauncher preparedLauncherFor(const std::wstring& exe) {
    return {exe + L".new", exe + L".new.self", exe + L".new.self.sig"};
}

bool offerVerifies(const ByteBuffer& offer, const ByteBuffer& signature, LauncherOffer* out) {
    ManifestSignature decoded;
    return offer && signature && gState.manifestKey.state == kManifestKeyValid &&
           decodeManifestSignature(signature.data, signature.size, &decoded) &&
           verifyEcdsaP256(gState.manifestKey.xy, offer.data, offer.size, decoded) &&
           readLauncherOffer(offer.data, offer.size, out);
}

bool fileMatchesOffer(const wchar_t* path, const LauncherOffer& offer) {
    return bytesMatchOffer(readWholeFile(path), offer);
}

bool openFileMatchesOffer(HANDLE file, const LauncherOffer& offer) {
    LARGE_INTEGER size, start{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart != offer.size || size.QuadPart > kWholeFileLimit ||
        !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    char* block = static_cast<char*>(std::malloc(static_cast<size_t>(size.QuadPart) + 1));
    if (!block) return false;
    ByteBuffer bytes = ByteBuffer::adopt(block, static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return ::ReadFile(file, bytes.data, static_cast<DWORD>(bytes.size), &got, nullptr) && got == bytes.size &&
           bytesMatchOffer(bytes, offer);
}

void discardPreparedLauncher(const PreparedLauncher& prepared) {
    // The document first: without it, nothing left is ever trusted. Then
    // what a kill while writing may have left under a temporary name.
    for (const std::wstring* file : {&prepared.offer, &prepared.signature, &prepared.build})
        for (const std::wstring& name : {*file, *file + L".tmp"}) {
            ::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(name.c_str());
        }
}

void checkLauncherOfferSoon() {
    if (gLauncherExePath.empty() || gState.manifestKey.state != kManifestKeyValid) return;
    if (gChecking.exchange(true)) return;
    if (!startDetachedThread(checkThread)) gChecking = false;
}

void checkLauncherOffer() {
    DWORD status = 0;
    const ByteBuffer body = fetchServerDocument(L"/launcher/self", &status, kLauncherOfferLimit);
    if (!body || status != 200) {
        report(L"none offered (/launcher/self answered %lu)", static_cast<unsigned long>(status));
        return;
    }
    const ByteBuffer signature = fetchServerDocument(L"/launcher/self.sig", &status, kLauncherOfferLimit);
    if (!signature || status != 200) {
        report(L"offered, not signed (/launcher/self.sig answered %lu)", static_cast<unsigned long>(status));
        return;
    }
    LauncherOffer offer;
    if (!offerVerifies(body, signature, &offer)) {
        report(L"offered, but the offer is not signed with the game's key or is malformed");
        return;
    }
    const PreparedLauncher prepared = preparedLauncherFor(gLauncherExePath);
    const int32_t inHand = versionInHand(prepared);
    if (offer.version <= inHand) {
        report(L"version %d offered, signed, not newer than version %d", static_cast<int>(offer.version),
               static_cast<int>(inHand));
        return;
    }
    if (fileMatchesOffer(gLauncherExePath.c_str(), offer)) {  // swapped in before, under a higher number
        report(L"version %d offered, signed, already running", static_cast<int>(offer.version));
        return;
    }
    downloadOffer(prepared, offer, body, signature);
}
