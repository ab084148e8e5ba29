#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "core/owned_handle.h"
#include "trust/signature_check_win.h"

namespace {

void closeProvider(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
void destroyKey(BCRYPT_KEY_HANDLE h) { ::BCryptDestroyKey(h); }
void destroyHash(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
using Provider = Owned<NullableTraits<BCRYPT_ALG_HANDLE, closeProvider>>;
using KeyHandle = Owned<NullableTraits<BCRYPT_KEY_HANDLE, destroyKey>>;
using HashHandle = Owned<NullableTraits<BCRYPT_HASH_HANDLE, destroyHash>>;

Provider openProvider(const wchar_t* algorithm) {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&h, algorithm, nullptr, 0))) h = nullptr;
    return Provider(h);
}

KeyHandle importPublicKey(BCRYPT_ALG_HANDLE ecdsa, const uint8_t keyXY[64]) {
    struct {
        BCRYPT_ECCKEY_BLOB header;
        uint8_t xy[64];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = 32;
    std::memcpy(blob.xy, keyXY, 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                              reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0)))
        key = nullptr;
    return KeyHandle(key);
}

}  // namespace

bool sha256(const void* data, size_t size, uint8_t out[32]) {
    Provider provider = openProvider(BCRYPT_SHA256_ALGORITHM);
    if (!provider) return false;
    BCRYPT_HASH_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(provider.get(), &h, nullptr, 0, nullptr, 0, 0))) return false;
    HashHandle hash(h);
    // Fed in pieces that fit a ULONG, whatever the size.
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t done = 0; done < size;) {
        ULONG piece = static_cast<ULONG>(size - done < (1u << 30) ? size - done : (1u << 30));
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), const_cast<PUCHAR>(bytes + done), piece, 0))) return false;
        done += piece;
    }
    return BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), out, 32, 0));
}

bool verifyEcdsaP256(const uint8_t keyXY[64], const void* data, size_t size, const ManifestSignature& signature) {
    uint8_t digest[32];
    if (!sha256(data, size, digest)) return false;
    Provider ecdsa = openProvider(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa) return false;
    KeyHandle key = importPublicKey(ecdsa.get(), keyXY);
    if (!key) return false;
    ManifestSignature copy = signature;  // the call wants writable buffers
    return ::BCryptVerifySignature(key.get(), nullptr, digest, sizeof digest, copy.rs, sizeof copy.rs, 0) == 0;
}
