// The drawing operations every painter shares, and the conventions they
// follow: colours are 0xAARRGGBB for GDI+ fills and pens and 0xRRGGBB for
// text; lengths arrive already scaled. Each call creates its brushes, pens
// and paths, uses them and deletes them: nothing is cached between paints.
#pragma once

#include <windows.h>

#include <cstdint>

#include "render/layout.h"
#include "core/graphics_handles_win.h"
#include "render/shape_geometry.h"

using Argb = uint32_t;
using Rgb = uint32_t;

// A GDI+ graphics object on `dc` with the modes every paint uses:
// anti-aliasing, half-pixel offset, high-quality bicubic scaling. Empty
// when GDI+ cannot draw there; every helper below then draws nothing, and
// the texts, which plain GDI draws, still show.
GraphicsHandle createPaintGraphics(HDC dc);
// Tests: GDI+ refuses every drawing object, as on a machine where it fails.
extern bool gRefusePaintGraphics;

// A closed rounded rectangle whose outline covers exactly w x h pixels.
// A radius below 2 gives corners of diameter 2.
PathHandle roundRectPath(int32_t x, int32_t y, int32_t w, int32_t h, int32_t radius);

// Fills (x, y, w, h), keeping the aspect ratio and cropping the overflow
// equally on both sides. Nothing for no image or an empty box. Callers
// hold imageLock when the image is shared.
void drawImageCover(Gdiplus::GpGraphics* g, const ImageHandle& image, int32_t x, int32_t y, int32_t w, int32_t h);

// DrawText of the whole text in (x, y, x + w, y + h) with `flags` plus
// DT_NOPREFIX, so "&" always shows as itself. Returns the text's height.
int drawTextBox(HDC dc, HFONT font, Rgb colour, int32_t x, int32_t y, int32_t w, int32_t h, const wchar_t* text,
                UINT flags);

// The card of the action bar and the two bottom cards: shadow, body
// gradient, sheen, hairline border.
void drawCard(Gdiplus::GpGraphics* g, const Rect& rect, int32_t radius, bool shadow = true);

// Accent bar and capital label in a card's top-left corner.
void drawCardHeader(HDC dc, Gdiplus::GpGraphics* g, const Rect& rect, const wchar_t* text, Rgb accent);

// ---- the painters' conventions ---------------------------------------------

// While one lives, rounded shapes are only filled where they reach `area`:
// a shape that misses it is skipped, and one that covers it fills just the
// area, pixel for pixel as the whole shape would. The graphics object must
// be clipped to `area` as well.
class PaintArea {
public:
    explicit PaintArea(const Rect& area);
    ~PaintArea();
    PaintArea(const PaintArea&) = delete;
    PaintArea& operator=(const PaintArea&) = delete;

private:
    Rect previous_;
    bool hadPrevious_;
};

// roundRectPath filled, with a solid colour or a vertical gradient whose
// line runs from lineTop to lineBottom, or outlined with a 1.0 hairline.
void fillRoundRect(Gdiplus::GpGraphics* g, const RoundedBox& shape, Argb colour);
void fillRoundRectVertical(Gdiplus::GpGraphics* g, const RoundedBox& shape, int32_t lineTop, int32_t lineBottom,
                           Argb top, Argb bottom);
void strokeRoundRect(Gdiplus::GpGraphics* g, const RoundedBox& shape, Argb colour);

void fillPath(Gdiplus::GpGraphics* g, const PathHandle& path, Argb colour);

// A vertical linear gradient whose line runs from (x, lineTop) to
// (x, lineBottom). For a shape spanning rows top..top + h the convention is
// lineTop = top - 1 and lineBottom = top + h + 1.
void fillPathVertical(Gdiplus::GpGraphics* g, const PathHandle& path, int32_t x, int32_t lineTop,
                      int32_t lineBottom, Argb top, Argb bottom);

// Outlines are 1.0 px hairlines at every DPI; icon strokes pass their own width.
void strokePath(Gdiplus::GpGraphics* g, const PathHandle& path, Argb colour, float width = 1.0f);

// Dividers, accent bars and other plain rectangles.
void fillRect(Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t w, int32_t h, Argb colour);
// A rectangle under a vertical gradient whose line runs from lineTop to lineBottom.
void fillRectVertical(Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t w, int32_t h, int32_t lineTop,
                      int32_t lineBottom, Argb top, Argb bottom);

PathHandle ellipsePath(int32_t x, int32_t y, int32_t w, int32_t h);
void fillEllipse(Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t w, int32_t h, Argb colour);

// A translucent rounded shape with a hairline of the same hue, as two paths.
void drawPill(Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t w, int32_t h, int32_t radius, Argb fill,
              Argb outline);

// Width of `text` in `font`, in pixels.
int32_t textWidth(HDC dc, HFONT font, const wchar_t* text);
