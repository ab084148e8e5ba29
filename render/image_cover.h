// Which part of an image fills a box when it is scaled to cover it: the
// aspect ratio is kept and the overflow cropped equally on both sides.
// Pure: no <windows.h>.
#pragma once

#include <cstdint>

struct SourceWindow {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// False when there is nothing to draw: an empty image or an empty box.
bool coverSourceWindow(uint32_t imageWidth, uint32_t imageHeight, int32_t boxWidth, int32_t boxHeight,
                       SourceWindow* out);
