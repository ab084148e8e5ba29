#include "core/graphics_handles_win.h"

#include <objidl.h>
#include <gdiplus.h>

namespace gp = Gdiplus::DllExports;

void closeGdipImage(Gdiplus::GpImage* image) { gp::GdipDisposeImage(image); }
void closeGdipGraphics(Gdiplus::GpGraphics* graphics) { gp::GdipDeleteGraphics(graphics); }
void closeGdipPath(Gdiplus::GpPath* path) { gp::GdipDeletePath(path); }
void closeGdipBrush(Gdiplus::GpBrush* brush) { gp::GdipDeleteBrush(brush); }
void closeGdipPen(Gdiplus::GpPen* pen) { gp::GdipDeletePen(pen); }
