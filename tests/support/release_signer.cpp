#include "tests/support/release_signer.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "core/launcher_state.h"
#include "tests/support/test_server_client.h"
#include "trust/signature_check_win.h"
#include "trust/signing_formats.h"

namespace signer {

namespace {

// Made for tests with openssl; never a key of any site.
const uint8_t kXY[64] = {
    0xad, 0x00, 0xc4, 0x83, 0x46, 0xd2, 0x1b, 0xcf, 0xff, 0x1c, 0xf2, 0x90, 0xd4, 0x10, 0x8f, 0x68,
    0x0a, 0x31, 0xbc, 0x21, 0x4d, 0xc5, 0x45, 0x4c, 0xc2, 0xec, 0x83, 0xb9, 0x33, 0x70, 0xfb, 0xf8,
    0x64, 0x78, 0x65, 0x6b, 0x76, 0xe3, 0xe5, 0xf4, 0x36, 0xde, 0xd0, 0x7c, 0x09, 0x9a, 0x52, 0xbc,
    0xa5, 0x7d, 0x8c, 0x2d, 0x67, 0x73, 0x59, 0x33, 0x19, 0x6e, 0xdb, 0x4f, 0x3e, 0x4d, 0x18, 0x70};
const uint8_t kD[32] = {0xb9, 0x9b, 0xd6, 0x15, 0xa5, 0x5b, 0xd9, 0xf2, 0x81, 0x71, 0xd5, 0xb4, 0xca, 0x60, 0xa4, 0x97,
                        0x15, 0xc1, 0x04, 0x98, 0x6b, 0x37, 0x68, 0xe4, 0x11, 0xbb, 0x51, 0x2a, 0xe3, 0xa9, 0xb5, 0xe1};

std::string hex(const uint8_t* data, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(kHex[data[i] >> 4]);
        out.push_back(kHex[data[i] & 15]);
    }
    return out;
}

std::string digestHex(const wchar_t* algorithm, const std::string& bytes, ULONG length) {
    uint8_t digest[32] = {};
    BCRYPT_ALG_HANDLE alg = nullptr;
    ::BCryptOpenAlgorithmProvider(&alg, algorithm, nullptr, 0);
    BCRYPT_HASH_HANDLE h = nullptr;
    ::BCryptCreateHash(alg, &h, nullptr, 0, nullptr, 0, 0);
    ::BCryptHashData(h, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), static_cast<ULONG>(bytes.size()), 0);
    ::BCryptFinishHash(h, digest, length, 0);
    ::BCryptDestroyHash(h);
    ::BCryptCloseAlgorithmProvider(alg, 0);
    return hex(digest, length);
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

const char kTestKey[] = "rQDEg0bSG8//HPKQ1BCPaAoxvCFNxUVMwuyDuTNw+/hkeGVrduPl9Dbe0HwJmlK8pX2MLWdzWTMZbttPPk0YcA==";

void useTestKey() {
    std::memcpy(gState.manifestKey.xy, kXY, 64);
    gState.manifestKey.state = kManifestKeyValid;
}

std::string sha256Hex(const std::string& bytes) { return digestHex(BCRYPT_SHA256_ALGORITHM, bytes, 32); }
std::string sha1Hex(const std::string& bytes) { return digestHex(BCRYPT_SHA1_ALGORITHM, bytes, 20); }

std::string putObject(const std::string& bytes) {
    const std::string name = sha256Hex(bytes);
    testsrv::putFile("launcher/o/" + name, bytes);
    return name + " " + std::to_string(bytes.size());
}

std::string releaseHead(int version, const std::string& manifestObject, const std::string& notesObject,
                        int64_t expires) {
    return "tvl-release 1\nhost " + narrow(testsrv::host()) + "\nversion " + std::to_string(version) + "\nexpires " +
           std::to_string(expires) + "\nmanifest " + manifestObject + "\nnotes " + notesObject + "\n";
}

std::string signRelease(const std::string& body) {
    struct {
        BCRYPT_ECCKEY_BLOB header;
        uint8_t xyd[96];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    blob.header.cbKey = 32;
    std::memcpy(blob.xyd, kXY, 64);
    std::memcpy(blob.xyd + 64, kD, 32);
    uint8_t digest[32], rs[64];
    sha256(body.data(), body.size(), digest);
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    ULONG got = 0;
    ::BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    ::BCryptImportKeyPair(alg, nullptr, BCRYPT_ECCPRIVATE_BLOB, &key, reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0);
    const NTSTATUS status = ::BCryptSignHash(key, nullptr, digest, 32, rs, 64, &got, 0);
    ::BCryptDestroyKey(key);
    ::BCryptCloseAlgorithmProvider(alg, 0);
    if (status != 0 || got != 64) return body + "sig (signing failed)\n";
    return body + "sig " + encodeBase64(rs, 64) + "\n";
}

}  // namespace signer
