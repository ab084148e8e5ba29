// An off-screen 32-bit picture to paint into: the render harness of the
// tests and the screenshot tools. Paint into dc() with GDI and GDI+, read
// pixels back, or save the whole picture as a PNG.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/graphics_handles_win.h"

class Canvas {
public:
    Canvas(int32_t width, int32_t height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool ok() const { return pixels_ != nullptr; }
    HDC dc() const { return dc_.get(); }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

    // 0xRRGGBB of one pixel; 0 outside the picture.
    uint32_t pixel(int32_t x, int32_t y) const;
    void fill(uint32_t rgb);
    bool savePng(const wchar_t* path) const;

private:
    int32_t width_, height_;
    MemoryDc dc_;
    GdiObject<HBITMAP> bitmap_;
    HGDIOBJ previous_ = nullptr;
    uint32_t* pixels_ = nullptr;  // top-down rows, 0xXXRRGGBB
};
