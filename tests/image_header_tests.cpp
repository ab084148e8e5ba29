// Image headers read before any decoder sees the bytes; also native under ASan.
#include <doctest/doctest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "render/image_header.h"
#include "tests/support/test_images.h"

namespace {

ImageHeader header(const std::vector<unsigned char>& bytes) {
    std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    return readImageHeader(exact.get(), bytes.size());
}

std::vector<unsigned char> bytesOf(const unsigned char* data, size_t size) { return {data, data + size}; }

std::vector<unsigned char> pngDeclaring(uint32_t w, uint32_t h) {
    std::vector<unsigned char> png = bytesOf(kPng6x4, sizeof kPng6x4);
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<unsigned char>(w >> (24 - 8 * i));
        png[20 + i] = static_cast<unsigned char>(h >> (24 - 8 * i));
    }
    return png;
}

}  // namespace

TEST_CASE("real images: format and declared size") {
    ImageHeader png = header(bytesOf(kPng6x4, sizeof kPng6x4));
    CHECK(png.format == ImageFormat::Png);
    CHECK(png.width == 6);
    CHECK(png.height == 4);
    ImageHeader jpeg = header(bytesOf(kJpeg8x6, sizeof kJpeg8x6));
    CHECK(jpeg.format == ImageFormat::Jpeg);
    CHECK(jpeg.width == 8);
    CHECK(jpeg.height == 6);
    CHECK(imageHeaderAcceptable(kPng6x4, sizeof kPng6x4));
}

TEST_CASE("other formats by their headers") {
    std::vector<unsigned char> gif = {'G', 'I', 'F', '8', '9', 'a', 0x40, 0x01, 0xC8, 0x00};
    CHECK(header(gif).format == ImageFormat::Gif);
    CHECK(header(gif).width == 320);
    CHECK(header(gif).height == 200);

    std::vector<unsigned char> bmp(26, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[14] = 40;
    bmp[18] = 0x10;                                         // width 16
    bmp[22] = 0xF0, bmp[23] = 0xFF, bmp[24] = 0xFF, bmp[25] = 0xFF;  // height -16: top-down
    CHECK(header(bmp).format == ImageFormat::Bmp);
    CHECK(header(bmp).height == 16);

    // A big-endian TIFF whose first directory gives 70,000 x 5 as LONG and SHORT.
    std::vector<unsigned char> tiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 2,
                                       1, 0, 0, 4, 0, 0, 0, 1, 0, 1, 0x11, 0x70,
                                       1, 1, 0, 3, 0, 0, 0, 1, 0, 5, 0, 0};
    CHECK(header(tiff).format == ImageFormat::Tiff);
    CHECK(header(tiff).width == 70000);
    CHECK(header(tiff).height == 5);
    CHECK_FALSE(imageHeaderAcceptable(tiff.data(), tiff.size()));

    std::vector<unsigned char> ico = {0, 0, 1, 0, 1, 0};
    CHECK(header(ico).format == ImageFormat::Ico);
}

TEST_CASE("not images, absurd sizes and cut headers") {
    std::string html = "<!DOCTYPE html><html><body>502 Bad Gateway</body></html>";
    CHECK_FALSE(imageHeaderAcceptable(reinterpret_cast<const unsigned char*>(html.data()), html.size()));
    CHECK_FALSE(imageHeaderAcceptable(nullptr, 0));

    std::vector<unsigned char> wide = pngDeclaring(20000, 10), tall = pngDeclaring(10, 16385),
                               edge = pngDeclaring(16384, 16384);
    CHECK_FALSE(imageHeaderAcceptable(wide.data(), wide.size()));
    CHECK_FALSE(imageHeaderAcceptable(tall.data(), tall.size()));
    CHECK(imageHeaderAcceptable(edge.data(), edge.size()));

    // Every prefix of the real images is read without going past its end.
    for (size_t n = 0; n <= sizeof kJpeg8x6; ++n) header(bytesOf(kJpeg8x6, n));
    for (size_t n = 0; n <= sizeof kPng6x4; ++n) header(bytesOf(kPng6x4, n));
    std::vector<unsigned char> badTiff = {'I', 'I', '*', 0, 0xFF, 0xFF, 0xFF, 0x7F};
    CHECK(header(badTiff).width == 0);
    std::vector<unsigned char> jpegLoop = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00};  // a segment of length 0
    CHECK(header(jpegLoop).format == ImageFormat::Jpeg);
}
