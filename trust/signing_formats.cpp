#include "trust/signing_formats.h"

#include <cstring>

namespace {

// ---- base64 ------------------------------------------------------------

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// ---- arithmetic modulo a 256-bit prime -----------------------------------
// Little-endian 32-bit limbs. Only a handful of products per key, so plain
// schoolbook multiplication and bit-serial reduction are fast enough.

struct U256 {
    uint32_t w[8];
};

U256 fromBigEndian(const uint8_t* bytes) {
    U256 v{};
    for (int i = 0; i < 32; ++i) v.w[7 - i / 4] |= static_cast<uint32_t>(bytes[i]) << (8 * (3 - i % 4));
    return v;
}

int compare(const U256& a, const U256& b) {
    for (int i = 7; i >= 0; --i)
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    return 0;
}

bool isZero(const U256& a) {
    for (uint32_t limb : a.w)
        if (limb) return false;
    return true;
}

// a - b modulo 2^256; true when it borrowed (a < b).
bool subtract(U256& a, const U256& b) {
    uint64_t borrow = 0;
    for (int i = 0; i < 8; ++i) {
        uint64_t d = static_cast<uint64_t>(a.w[i]) - b.w[i] - borrow;
        a.w[i] = static_cast<uint32_t>(d);
        borrow = (d >> 32) & 1;
    }
    return borrow != 0;
}

// a + b modulo 2^256; true when it carried.
bool add(U256& a, const U256& b) {
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        uint64_t s = static_cast<uint64_t>(a.w[i]) + b.w[i] + carry;
        a.w[i] = static_cast<uint32_t>(s);
        carry = s >> 32;
    }
    return carry != 0;
}

// Both below m.
U256 addMod(U256 a, const U256& b, const U256& m) {
    bool carried = add(a, b);
    if (carried || compare(a, m) >= 0) subtract(a, m);
    return a;
}

U256 subMod(U256 a, const U256& b, const U256& m) {
    if (subtract(a, b)) add(a, m);
    return a;
}

U256 mulMod(const U256& a, const U256& b, const U256& m) {
    uint32_t product[16] = {};
    for (int i = 0; i < 8; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < 8; ++j) {
            uint64_t t = static_cast<uint64_t>(a.w[i]) * b.w[j] + product[i + j] + carry;
            product[i + j] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        product[i + 8] = static_cast<uint32_t>(carry);
    }
    // Shift the product in bit by bit from the top, keeping r below m.
    U256 r{};
    for (int bit = 511; bit >= 0; --bit) {
        bool top = (r.w[7] >> 31) != 0;
        for (int i = 7; i > 0; --i) r.w[i] = (r.w[i] << 1) | (r.w[i - 1] >> 31);
        r.w[0] = (r.w[0] << 1) | ((product[bit / 32] >> (bit % 32)) & 1);
        if (top || compare(r, m) >= 0) subtract(r, m);
    }
    return r;
}

constexpr uint8_t kP256Prime[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kP256B[32] = {
    0x5A, 0xC6, 0x35, 0xD8, 0xAA, 0x3A, 0x93, 0xE7, 0xB3, 0xEB, 0xBD, 0x55, 0x76, 0x98, 0x86, 0xBC,
    0x65, 0x1D, 0x06, 0xB0, 0xCC, 0x53, 0xB0, 0xF6, 0x3B, 0xCE, 0x3C, 0x3E, 0x27, 0xD2, 0x60, 0x4B};
constexpr uint8_t kP256Order[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

// 1 <= v < n
bool isScalar(const uint8_t* bytes) {
    U256 v = fromBigEndian(bytes);
    return !isZero(v) && compare(v, fromBigEndian(kP256Order)) < 0;
}

}  // namespace

bool decodeBase64Exact(const char* text, size_t size, uint8_t* out, size_t outSize) {
    const size_t full = outSize / 3, rest = outSize % 3;
    if (size != (full + (rest ? 1 : 0)) * 4) return false;
    size_t o = 0;
    for (size_t i = 0; i < size; i += 4) {
        const bool last = i + 4 == size;
        const size_t bytes = last && rest ? rest : 3;
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            const bool pad = k > bytes;  // 1 byte needs 2 characters, 2 need 3
            if (pad) {
                if (text[i + k] != '=') return false;
                group <<= 6;
                continue;
            }
            int v = base64Value(text[i + k]);
            if (v < 0) return false;
            group = (group << 6) | static_cast<uint32_t>(v);
        }
        // Bits the bytes do not use must be zero: one spelling per value.
        if (bytes < 3 && (group & ((1u << (8 * (3 - bytes))) - 1)) != 0) return false;
        for (size_t k = 0; k < bytes; ++k) out[o++] = static_cast<uint8_t>(group >> (16 - 8 * k));
    }
    return o == outSize;
}

std::string encodeBase64(const uint8_t* data, size_t size) {
    std::string out;
    for (size_t i = 0; i < size; i += 3) {
        const size_t n = size - i < 3 ? size - i : 3;
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) group = (group << 8) | (k < n ? data[i + k] : 0);
        for (size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

bool isP256Point(const uint8_t xy[64]) {
    const U256 p = fromBigEndian(kP256Prime);
    const U256 x = fromBigEndian(xy), y = fromBigEndian(xy + 32);
    if (compare(x, p) >= 0 || compare(y, p) >= 0) return false;
    // y^2 == x^3 - 3x + b (mod p)
    U256 rhs = mulMod(mulMod(x, x, p), x, p);
    const U256 threeX = addMod(addMod(x, x, p), x, p);
    rhs = addMod(subMod(rhs, threeX, p), fromBigEndian(kP256B), p);
    return compare(mulMod(y, y, p), rhs) == 0;
}

bool decodeManifestKey(const char* text, size_t size, uint8_t xy[64]) {
    uint8_t decoded[64];
    if (!decodeBase64Exact(text, size, decoded, 64) || !isP256Point(decoded)) return false;
    std::memcpy(xy, decoded, 64);
    return true;
}

bool decodeManifestSignature(const char* body, size_t size, ManifestSignature* signature) {
    if (size < kSigningBase64Chars) return false;
    const char* end = body + kSigningBase64Chars;
    const size_t tail = size - kSigningBase64Chars;
    const bool lineEnd = tail == 0 || (tail == 1 && end[0] == '\n') || (tail == 2 && end[0] == '\r' && end[1] == '\n');
    ManifestSignature s;
    if (!lineEnd || !decodeBase64Exact(body, kSigningBase64Chars, s.rs, 64)) return false;
    if (!isScalar(s.rs) || !isScalar(s.rs + 32)) return false;
    *signature = s;
    return true;
}

bool keysConflict(const std::string* iniKey, const char* builtInKey) {
    if (!iniKey || !builtInKey || !*builtInKey) return false;
    uint8_t ini[64], builtIn[64];
    return !decodeManifestKey(iniKey->data(), iniKey->size(), ini) ||
           !decodeManifestKey(builtInKey, std::strlen(builtInKey), builtIn) || std::memcmp(ini, builtIn, 64) != 0;
}

ManifestKey chooseManifestKey(const std::string* iniKey, const char* builtInKey) {
    ManifestKey key;
    const bool builtIn = builtInKey && *builtInKey;
    if (!builtIn && !iniKey) return key;
    const char* text = builtIn ? builtInKey : iniKey->c_str();
    const size_t size = builtIn ? std::strlen(builtInKey) : iniKey->size();
    const bool valid = decodeManifestKey(text, size, key.xy) && !keysConflict(iniKey, builtInKey);
    key.state = valid ? kManifestKeyValid : kManifestKeyMalformed;
    return key;
}
