#include "render/image_cover.h"

#include <algorithm>

bool coverSourceWindow(uint32_t imageWidth, uint32_t imageHeight, int32_t boxWidth, int32_t boxHeight,
                       SourceWindow* out) {
    if (boxWidth <= 0 || boxHeight <= 0 || imageWidth == 0 || imageHeight == 0) return false;
    const double iw = imageWidth, ih = imageHeight;
    const double scale = std::max(boxWidth / iw, boxHeight / ih);
    const double srcW = std::min(iw, static_cast<double>(static_cast<int64_t>(boxWidth / scale)));
    const double srcH = std::min(ih, static_cast<double>(static_cast<int64_t>(boxHeight / scale)));
    out->width = static_cast<int32_t>(srcW);
    out->height = static_cast<int32_t>(srcH);
    out->x = static_cast<int32_t>((imageWidth - static_cast<uint32_t>(out->width)) / 2);
    out->y = static_cast<int32_t>((imageHeight - static_cast<uint32_t>(out->height)) / 2);
    return out->width > 0 && out->height > 0;  // a sliver of a box can round to nothing
}
