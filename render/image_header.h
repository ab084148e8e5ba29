// What an image body claims to be, read from its header before any decoder
// sees it: Wine's decoder crashes on bytes that are not an image at all, and
// any decoder would allocate whatever a header declares. Pure: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ImageFormat { None, Png, Jpeg, Gif, Bmp, Tiff, Ico };

struct ImageHeader {
    ImageFormat format = ImageFormat::None;
    uint32_t width = 0;  // 0 when the header does not say (yet)
    uint32_t height = 0;
};

constexpr uint32_t kMaxImageSide = 16384;

ImageHeader readImageHeader(const unsigned char* data, size_t size);

// A known format whose declared sides, when given, are 1 to 16,384 pixels.
bool imageHeaderAcceptable(const unsigned char* data, size_t size);
