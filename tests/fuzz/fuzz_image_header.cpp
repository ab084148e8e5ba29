// The check that stands before GDI+ decodes a banner or avatar: the
// server's bytes and the Steam avatar cache.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "render/image_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImageHeader header = readImageHeader(data, size);
    if (imageHeaderAcceptable(data, size) &&
        (header.format == ImageFormat::None || header.width > kMaxImageSide || header.height > kMaxImageSide))
        std::abort();
    return 0;
}
