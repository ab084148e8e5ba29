#include "render/canvas_win.h"

#include <objidl.h>
#include <gdiplus.h>

namespace gp = Gdiplus::DllExports;

namespace {
// The PNG encoder of GDI+ (image/png).
const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
}  // namespace

Canvas::Canvas(int32_t width, int32_t height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_.reset(::CreateCompatibleDC(nullptr));
    void* bits = nullptr;
    bitmap_.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc_ || !bitmap_ || !bits) return;
    previous_ = ::SelectObject(dc_.get(), bitmap_.get());
    ::SetBkMode(dc_.get(), TRANSPARENT);
    pixels_ = static_cast<uint32_t*>(bits);
}

Canvas::~Canvas() {
    if (previous_) ::SelectObject(dc_.get(), previous_);  // the bitmap must be out before it is deleted
}

uint32_t Canvas::pixel(int32_t x, int32_t y) const {
    if (!pixels_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    ::GdiFlush();
    return pixels_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF;
}

void Canvas::fill(uint32_t rgb) {
    if (!pixels_) return;
    ::GdiFlush();
    for (size_t i = 0; i < static_cast<size_t>(width_) * height_; ++i) pixels_[i] = rgb;
}

bool Canvas::savePng(const wchar_t* path) const {
    if (!pixels_) return false;
    ::GdiFlush();
    Gdiplus::GpBitmap* bitmap = nullptr;
    // 32bppRGB: GDI leaves the fourth byte undefined, so it is not alpha.
    if (gp::GdipCreateBitmapFromScan0(width_, height_, width_ * 4, PixelFormat32bppRGB,
                                      reinterpret_cast<BYTE*>(pixels_), &bitmap) != Gdiplus::Ok)
        return false;
    ImageHandle owner(bitmap);
    return gp::GdipSaveImageToFile(owner.get(), path, &kPngEncoder, nullptr) == Gdiplus::Ok;
}
