// ECDSA P-256 through the real CNG of this Windows (Wine's here), with a key
// and signature made by openssl: any signing tool's output must verify.
#include <doctest/doctest.h>

#include <string>

#include "trust/signature_check_win.h"
#include "trust/signing_formats.h"

namespace {

const std::string kKey = "i6KkLhelS0YYvj85uq+X80Md1Yq9uIdtVknJStscpBpYPt05RHHd2qeJlTULqpwdNfgi//mkJ9BAUmn+Msnlvg==";
const std::string kSignature =
    "itQJev1K4ocjg80Zbhid41W8eJ7xqLACYMxnbj6C1IXoE4u1JtNhBZcvm0Vv33sJ1jbQVVM3bmCpZ0qfM1md/w==\n";
const std::string kSigned = "signed bytes";  // what openssl dgst -sha256 -sign signed

}  // namespace

TEST_CASE("an openssl signature verifies; one changed bit anywhere does not") {
    uint8_t xy[64];
    ManifestSignature signature;
    REQUIRE(decodeManifestKey(kKey.data(), kKey.size(), xy));
    REQUIRE(decodeManifestSignature(kSignature.data(), kSignature.size(), &signature));
    CHECK(verifyEcdsaP256(xy, kSigned.data(), kSigned.size(), signature));

    std::string changed = kSigned;
    changed[3] ^= 1;
    CHECK_FALSE(verifyEcdsaP256(xy, changed.data(), changed.size(), signature));
    CHECK_FALSE(verifyEcdsaP256(xy, kSigned.data(), kSigned.size() - 1, signature));
    ManifestSignature flipped = signature;
    flipped.rs[40] ^= 0x10;
    CHECK_FALSE(verifyEcdsaP256(xy, kSigned.data(), kSigned.size(), flipped));
    uint8_t otherKey[64];
    const std::string other = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAVFkkO5qlgYBv6RO86ZgXreEcpQPGTZo8UzQVwIMkj7zA==";
    REQUIRE(decodeManifestKey(other.data(), other.size(), otherKey));
    CHECK_FALSE(verifyEcdsaP256(otherKey, kSigned.data(), kSigned.size(), signature));
}

TEST_CASE("SHA-256 known answer") {
    uint8_t digest[32];
    REQUIRE(sha256("abc", 3, digest));
    CHECK(encodeBase64(digest, 32) == "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
}
