#include "render/image_header.h"

#include <cstring>

namespace {

uint32_t be16(const unsigned char* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t be32(const unsigned char* p) { return (be16(p) << 16) | be16(p + 2); }
uint32_t le16(const unsigned char* p) { return (uint32_t{p[1]} << 8) | p[0]; }
uint32_t le32(const unsigned char* p) { return (le16(p + 2) << 16) | le16(p); }

bool startsWith(const unsigned char* d, size_t n, const char* sig, size_t len) {
    return n >= len && std::memcmp(d, sig, len) == 0;
}

ImageHeader png(const unsigned char* d, size_t n) {
    ImageHeader h{ImageFormat::Png};
    if (n >= 24 && std::memcmp(d + 12, "IHDR", 4) == 0) h.width = be32(d + 16), h.height = be32(d + 20);
    return h;
}

// Walks the marker segments up to the first frame header.
ImageHeader jpeg(const unsigned char* d, size_t n) {
    ImageHeader h{ImageFormat::Jpeg};
    size_t pos = 2;
    while (pos + 4 <= n && d[pos] == 0xFF) {
        unsigned marker = d[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        size_t length = be16(d + pos + 2);
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (pos + 9 <= n) h.height = be16(d + pos + 5), h.width = be16(d + pos + 7);
            // A frame header that says 0 lines defers the height; the width still counts.
            break;
        }
        if (length < 2) break;
        pos += 2 + length;
    }
    return h;
}

ImageHeader bmp(const unsigned char* d, size_t n) {
    ImageHeader h{ImageFormat::Bmp};
    if (n < 26) return h;
    uint32_t infoSize = le32(d + 14);
    if (infoSize == 12) {
        h.width = le16(d + 18), h.height = le16(d + 20);
    } else if (n >= 26) {
        int32_t w = static_cast<int32_t>(le32(d + 18)), hgt = static_cast<int32_t>(le32(d + 22));
        h.width = w < 0 ? 0u - static_cast<uint32_t>(w) : static_cast<uint32_t>(w);
        h.height = hgt < 0 ? 0u - static_cast<uint32_t>(hgt) : static_cast<uint32_t>(hgt);
    }
    return h;
}

// ImageWidth (256) and ImageLength (257) from the first directory.
ImageHeader tiff(const unsigned char* d, size_t n) {
    ImageHeader h{ImageFormat::Tiff};
    bool little = d[0] == 'I';
    auto u16 = [&](size_t at) { return little ? le16(d + at) : be16(d + at); };
    auto u32 = [&](size_t at) { return little ? le32(d + at) : be32(d + at); };
    if (n < 8) return h;
    size_t dir = u32(4);
    if (dir > n || n - dir < 2) return h;
    size_t count = u16(dir);
    for (size_t i = 0; i < count && dir + 2 + (i + 1) * 12 <= n; ++i) {
        size_t e = dir + 2 + i * 12;
        uint32_t tag = u16(e), type = u16(e + 2);
        uint32_t value = type == 3 ? u16(e + 8) : u32(e + 8);
        if (tag == 256) h.width = value;
        if (tag == 257) h.height = value;
    }
    return h;
}

}  // namespace

ImageHeader readImageHeader(const unsigned char* d, size_t n) {
    if (!d) return {};
    if (startsWith(d, n, "\x89PNG\r\n\x1a\n", 8)) return png(d, n);
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return jpeg(d, n);
    if (startsWith(d, n, "GIF87a", 6) || startsWith(d, n, "GIF89a", 6)) {
        ImageHeader h{ImageFormat::Gif};
        if (n >= 10) h.width = le16(d + 6), h.height = le16(d + 8);
        return h;
    }
    if (startsWith(d, n, "BM", 2)) return bmp(d, n);
    if (startsWith(d, n, "II*\0", 4) || startsWith(d, n, "MM\0*", 4)) return tiff(d, n);
    if (startsWith(d, n, "\0\0\1\0", 4)) return {ImageFormat::Ico, 0, 0};  // entries are at most 256 px
    return {};
}

bool imageHeaderAcceptable(const unsigned char* data, size_t size) {
    ImageHeader h = readImageHeader(data, size);
    if (h.format == ImageFormat::None) return false;
    return h.width <= kMaxImageSide && h.height <= kMaxImageSide;
}
