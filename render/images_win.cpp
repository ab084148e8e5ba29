#include "render/images_win.h"

#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include "core/launcher_state.h"
#include "render/image_header.h"
#include "resources/resource_ids.h"

namespace gp = Gdiplus::DllExports;

void startGdiplus() {
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug hook, background thread on
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
}

ImageHandle decodeImage(const char* data, size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (!data || size == 0 || size > UINT_MAX || !imageHeaderAcceptable(bytes, size)) return {};
    IStream* stream = ::SHCreateMemStream(bytes, static_cast<UINT>(size));
    if (!stream) return {};
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromStream(stream, &bitmap) != Gdiplus::Ok) bitmap = nullptr;
    stream->Release();  // the bitmap keeps its own reference
    return ImageHandle(bitmap);
}

bool imageSize(const ImageHandle& image, unsigned* width, unsigned* height) {
    UINT w = 0, h = 0;
    if (!image || gp::GdipGetImageWidth(image.get(), &w) != Gdiplus::Ok ||
        gp::GdipGetImageHeight(image.get(), &h) != Gdiplus::Ok)
        return false;
    *width = w;
    *height = h;
    return true;
}

ImageHandle decodeBuiltInImage(int resourceId) {
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes) return {};
    return decodeImage(static_cast<const char*>(bytes), ::SizeofResource(nullptr, found));
}

void loadBuiltInImages() {
    gState.backgroundImage = decodeBuiltInImage(IDR_BACKGROUND);
    gState.logoImage = decodeBuiltInImage(IDR_LOGO);
    if (!gState.bannerImage) gState.bannerImage = decodeBuiltInImage(IDR_DEFAULT_BANNER);
}
