// Owners for GDI objects, memory DCs and the GDI+ objects of the flat
// interface. GDI+ types are only declared here, so the launcher state can
// hold images without pulling in GDI+.
#pragma once

#include <windows.h>

#include "core/owned_handle.h"

namespace Gdiplus {
class GpImage;
class GpGraphics;
class GpPath;
class GpBrush;
class GpPen;
}  // namespace Gdiplus

void closeGdipImage(Gdiplus::GpImage* image);
void closeGdipGraphics(Gdiplus::GpGraphics* graphics);
void closeGdipPath(Gdiplus::GpPath* path);
void closeGdipBrush(Gdiplus::GpBrush* brush);
void closeGdipPen(Gdiplus::GpPen* pen);

using ImageHandle = Owned<NullableTraits<Gdiplus::GpImage*, closeGdipImage>>;
using GraphicsHandle = Owned<NullableTraits<Gdiplus::GpGraphics*, closeGdipGraphics>>;
using PathHandle = Owned<NullableTraits<Gdiplus::GpPath*, closeGdipPath>>;
using BrushHandle = Owned<NullableTraits<Gdiplus::GpBrush*, closeGdipBrush>>;
using PenHandle = Owned<NullableTraits<Gdiplus::GpPen*, closeGdipPen>>;

template <typename T>
void deleteGdiObject(T object) {
    ::DeleteObject(object);
}
inline void deleteMemoryDc(HDC dc) { ::DeleteDC(dc); }

// Fonts, bitmaps, regions: anything DeleteObject frees. Select it out of
// every DC before the owner lets go.
template <typename T>
using GdiObject = Owned<NullableTraits<T, deleteGdiObject<T>>>;
using MemoryDc = Owned<NullableTraits<HDC, deleteMemoryDc>>;
