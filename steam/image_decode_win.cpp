#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include "steam/image_header.h"
#include "steam/image_loader.h"

namespace gp = Gdiplus::DllExports;

void startGdiplus() {
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug hook, background thread on
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
}

SharedImage decodeImage(const char* data, size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (!data || size == 0 || size > UINT_MAX || !imageHeaderAcceptable(bytes, size)) return nullptr;
    IStream* stream = ::SHCreateMemStream(bytes, static_cast<UINT>(size));
    if (!stream) return nullptr;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromStream(stream, &bitmap) != Gdiplus::Ok) bitmap = nullptr;
    stream->Release();
    return bitmap;
}

void disposeImage(SharedImage image) {
    if (image) gp::GdipDisposeImage(static_cast<Gdiplus::GpImage*>(image));
}

bool imageSize(SharedImage image, unsigned* width, unsigned* height) {
    auto* img = static_cast<Gdiplus::GpImage*>(image);
    UINT w = 0, h = 0;
    if (!img || gp::GdipGetImageWidth(img, &w) != Gdiplus::Ok || gp::GdipGetImageHeight(img, &h) != Gdiplus::Ok)
        return false;
    *width = w;
    *height = h;
    return true;
}
