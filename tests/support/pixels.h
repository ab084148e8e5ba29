// Comparing pictures painted into the off-screen canvas.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "render/layout.h"
#include "render/canvas_win.h"

namespace pixels {

inline int channel(uint32_t rgb, int shift) { return static_cast<int>((rgb >> shift) & 0xFF); }

// Within `tolerance` levels of `rgb` in every channel.
inline bool closeTo(uint32_t pixel, uint32_t rgb, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(channel(pixel, shift) - channel(rgb, shift)) > tolerance) return false;
    return true;
}

// The smallest box holding every pixel that is not `background`.
inline Rect inkBox(const Canvas& c, uint32_t background) {
    Rect box{c.width(), c.height(), 0, 0};
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.pixel(x, y) != background) {
                if (x < box.left) box.left = x;
                if (y < box.top) box.top = y;
                if (x + 1 > box.right) box.right = x + 1;
                if (y + 1 > box.bottom) box.bottom = y + 1;
            }
    return box;
}

inline bool samePixels(const Canvas& a, const Canvas& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) return false;
    return true;
}

}  // namespace pixels
