#include "render/draw_win.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cwchar>

#include "render/display_win.h"
#include "render/image_cover.h"
#include "render/images_win.h"

namespace gp = Gdiplus::DllExports;

namespace {

// The area being repainted, when it is not the whole picture.
bool gHasPaintArea = false;
Rect gPaintArea;

BrushHandle solidBrush(Argb colour) {
    Gdiplus::GpSolidFill* brush = nullptr;
    gp::GdipCreateSolidFill(colour, &brush);
    return BrushHandle(brush);
}

BrushHandle verticalGradient(int32_t x, int32_t lineTop, int32_t lineBottom, Argb top, Argb bottom) {
    Gdiplus::GpPoint from(x, lineTop), to(x, lineBottom);
    Gdiplus::GpLineGradient* gradient = nullptr;
    gp::GdipCreateLineBrushI(&from, &to, top, bottom, Gdiplus::WrapModeTile, &gradient);
    return BrushHandle(gradient);
}

// Fills `shape` with `brush`, or only the paint area where the shape covers it.
void fillShape(Gdiplus::GpGraphics* g, const RoundedBox& shape, const BrushHandle& brush) {
    if (!brush) return;
    if (gHasPaintArea) {
        if (roundedBoxMisses(shape, gPaintArea)) return;
        if (roundedBoxCovers(shape, gPaintArea)) {
            gp::GdipFillRectangleI(g, brush.get(), gPaintArea.left, gPaintArea.top, gPaintArea.width(),
                                   gPaintArea.height());
            return;
        }
    }
    PathHandle path = roundRectPath(shape.x, shape.y, shape.w, shape.h, shape.radius);
    if (path) gp::GdipFillPath(g, brush.get(), path.get());
}

COLORREF textColour(Rgb rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

}  // namespace

bool gRefusePaintGraphics = false;

GraphicsHandle createPaintGraphics(HDC dc) {
    Gdiplus::GpGraphics* g = nullptr;
    if (gRefusePaintGraphics || gp::GdipCreateFromHDC(dc, &g) != Gdiplus::Ok) return {};
    gp::GdipSetSmoothingMode(g, Gdiplus::SmoothingModeAntiAlias);
    gp::GdipSetPixelOffsetMode(g, Gdiplus::PixelOffsetModeHalf);
    gp::GdipSetInterpolationMode(g, Gdiplus::InterpolationModeHighQualityBicubic);
    return GraphicsHandle(g);
}

PathHandle roundRectPath(int32_t x, int32_t y, int32_t w, int32_t h, int32_t radius) {
    Gdiplus::GpPath* path = nullptr;
    if (gp::GdipCreatePath(Gdiplus::FillModeAlternate, &path) != Gdiplus::Ok) return {};
    const int32_t d = radius >= 2 ? 2 * radius : 2;
    // The right and bottom edges run through x + w - 1 and y + h - 1.
    gp::GdipAddPathArcI(path, x, y, d, d, 180.0f, 90.0f);
    gp::GdipAddPathArcI(path, x + w - d - 1, y, d, d, 270.0f, 90.0f);
    gp::GdipAddPathArcI(path, x + w - d - 1, y + h - d - 1, d, d, 0.0f, 90.0f);
    gp::GdipAddPathArcI(path, x, y + h - d - 1, d, d, 90.0f, 90.0f);
    gp::GdipClosePathFigure(path);
    return PathHandle(path);
}

void drawImageCover(Gdiplus::GpGraphics* g, const ImageHandle& image, int32_t x, int32_t y, int32_t w, int32_t h) {
    unsigned iw = 0, ih = 0;
    SourceWindow src;
    if (!imageSize(image, &iw, &ih) || !coverSourceWindow(iw, ih, w, h, &src)) return;
    gp::GdipDrawImageRectRectI(g, image.get(), x, y, w, h, src.x, src.y, src.width, src.height, Gdiplus::UnitPixel,
                               nullptr, nullptr, nullptr);
}

int drawTextBox(HDC dc, HFONT font, Rgb colour, int32_t x, int32_t y, int32_t w, int32_t h, const wchar_t* text,
                UINT flags) {
    HGDIOBJ previous = ::SelectObject(dc, font);
    ::SetTextColor(dc, textColour(colour));
    RECT box{x, y, x + w, y + h};
    int height = ::DrawTextW(dc, text, -1, &box, flags | DT_NOPREFIX);
    ::SelectObject(dc, previous);  // the font may be recreated before the next paint
    return height;
}

void drawCard(Gdiplus::GpGraphics* g, const Rect& rect, int32_t radius, bool shadow) {
    const int32_t l = rect.left, t = rect.top, w = rect.width(), h = rect.height();
    // Four overlapping layers: darker towards the card, shifted down.
    for (int32_t k = 4; shadow && k >= 1; --k)
        fillRoundRect(g, {l - scaled(k), t - scaled(k) + scaled(4), w + scaled(2 * k), h + scaled(2 * k), scaled(k) + radius},
                      0x0E000000);
    fillRoundRectVertical(g, {l, t, w, h, radius}, t - 1, t + h + 1, 0xE2283648, 0xEA1E2938);
    const int32_t sheen = scaled(44);
    fillRoundRectVertical(g, {l, t, w, sheen, radius}, t - 1, t + sheen + 1, 0x1AFFFFFF, 0x00FFFFFF);
    strokeRoundRect(g, {l, t, w, h, radius}, 0x30FFFFFF);
}

void drawCardHeader(HDC dc, Gdiplus::GpGraphics* g, const Rect& rect, const wchar_t* text, Rgb accent) {
    fillRect(g, rect.left + scaled(20), rect.top + scaled(17), scaled(4), scaled(14), 0xFF000000 | accent);
    drawTextBox(dc, gDisplay.fontLabel.get(), 0xDEE8F4, rect.left + scaled(31), rect.top + scaled(14), scaled(220),
                scaled(20), text, DT_SINGLELINE | DT_VCENTER);
}

void fillPath(Gdiplus::GpGraphics* g, const PathHandle& path, Argb colour) {
    BrushHandle brush = solidBrush(colour);
    if (path && brush) gp::GdipFillPath(g, brush.get(), path.get());
}

void fillPathVertical(Gdiplus::GpGraphics* g, const PathHandle& path, int32_t x, int32_t lineTop,
                      int32_t lineBottom, Argb top, Argb bottom) {
    BrushHandle brush = verticalGradient(x, lineTop, lineBottom, top, bottom);
    if (path && brush) gp::GdipFillPath(g, brush.get(), path.get());
}

void strokePath(Gdiplus::GpGraphics* g, const PathHandle& path, Argb colour, float width) {
    Gdiplus::GpPen* raw = nullptr;
    gp::GdipCreatePen1(colour, width, Gdiplus::UnitPixel, &raw);
    PenHandle pen(raw);
    if (path && pen) gp::GdipDrawPath(g, pen.get(), path.get());
}

void fillRect(Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t w, int32_t h, Argb colour) {
    BrushHandle brush = solidBrush(colour);
    if (brush) gp::GdipFillRectangleI(g, brush.get(), x, y, w, h);
}

void fillRectVertical(Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t w, int32_t h, int32_t lineTop,
                      int32_t lineBottom, Argb top, Argb bottom) {
    BrushHandle brush = verticalGradient(x, lineTop, lineBottom, top, bottom);
    if (brush) gp::GdipFillRectangleI(g, brush.get(), x, y, w, h);
}

PathHandle ellipsePath(int32_t x, int32_t y, int32_t w, int32_t h) {
    Gdiplus::GpPath* path = nullptr;
    if (gp::GdipCreatePath(Gdiplus::FillModeAlternate, &path) != Gdiplus::Ok) return {};
    gp::GdipAddPathEllipseI(path, x, y, w, h);
    return PathHandle(path);
}

void fillEllipse(Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t w, int32_t h, Argb colour) {
    BrushHandle brush = solidBrush(colour);
    if (brush) gp::GdipFillEllipseI(g, brush.get(), x, y, w, h);
}

void drawPill(Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t w, int32_t h, int32_t radius, Argb fill,
              Argb outline) {
    fillRoundRect(g, {x, y, w, h, radius}, fill);
    strokeRoundRect(g, {x, y, w, h, radius}, outline);
}

PaintArea::PaintArea(const Rect& area) : previous_(gPaintArea), hadPrevious_(gHasPaintArea) {
    gPaintArea = area;
    gHasPaintArea = true;
}

PaintArea::~PaintArea() {
    gPaintArea = previous_;
    gHasPaintArea = hadPrevious_;
}

void fillRoundRect(Gdiplus::GpGraphics* g, const RoundedBox& shape, Argb colour) {
    fillShape(g, shape, solidBrush(colour));
}

void fillRoundRectVertical(Gdiplus::GpGraphics* g, const RoundedBox& shape, int32_t lineTop, int32_t lineBottom,
                           Argb top, Argb bottom) {
    fillShape(g, shape, verticalGradient(shape.x, lineTop, lineBottom, top, bottom));
}

void strokeRoundRect(Gdiplus::GpGraphics* g, const RoundedBox& shape, Argb colour) {
    // A hairline touches pixels only near the outline.
    if (gHasPaintArea && (roundedBoxMisses(insetRoundedBox(shape, -2), gPaintArea) ||
                          roundedBoxCovers(insetRoundedBox(shape, 2), gPaintArea)))
        return;
    strokePath(g, roundRectPath(shape.x, shape.y, shape.w, shape.h, shape.radius), colour);
}

int32_t textWidth(HDC dc, HFONT font, const wchar_t* text) {
    HGDIOBJ previous = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text, static_cast<int>(std::wcslen(text)), &size);
    ::SelectObject(dc, previous);
    return size.cx;
}
