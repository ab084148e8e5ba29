#include "render/paint_window_win.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <optional>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "core/window_title.h"
#include "render/action_bar_win.h"
#include "render/canvas_win.h"
#include "render/cards_win.h"
#include "render/draw_win.h"
#include "render/images_win.h"
#include "steam/steam_stats.h"

namespace gp = Gdiplus::DllExports;

namespace {

// An off-screen picture of the client's size, made anew when the size changes.
bool fitsClient(const std::unique_ptr<Canvas>& c) {
    return c && c->ok() && c->width() == gLayout.clientWidth && c->height() == gLayout.clientHeight;
}

// What is derived from the pictures alone, scaled once per size: GDI+
// under Wine takes tens of milliseconds for a bicubic draw of a large
// picture, and a 1:1 copy a few.
struct PaintCache {
    // Base colour, background picture and tint at the client size, and on
    // them the frames of the four cards: shadows, bodies, sheens, borders,
    // and the banner. All depend only on size, DPI and the pictures.
    std::unique_ptr<Canvas> backdrop;
    const void* backdropImage = nullptr;
    int32_t backdropDpi = 0;
    uint32_t backdropBannerCopy = 0;
    bool backdropFrames = false;
    uint32_t bannerCopies = 0;  // raised whenever the banner copy is made anew
    // The pictures were last scaled with the nearest-neighbour filter: three
    // times cheaper than bicubic under Wine, for a first frame that shows
    // soon. They are scaled again properly right after (refinePictures).
    bool rough = false;
    ImageHandle banner;  // the banner cover-scaled to its card
    bool bannerOpaque = false;  // no alpha: it hides whatever lies under it
    int32_t bannerWidth = 0, bannerHeight = 0;
    const void* bannerSource = nullptr;
    uint32_t bannerSerial = 0;
    std::unique_ptr<Canvas> backBuffer;  // the last picture shown, for partial repaints
};

PaintCache gCache;

bool intersects(const Rect& a, const Rect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

Rect grown(const Rect& r, int32_t by) { return Rect{r.left - by, r.top - by, r.right + by, r.bottom + by}; }

bool gFramesInBackdrop = true;

void paintFrames(Gdiplus::GpGraphics* g, bool rough);

void roughen(Gdiplus::GpGraphics* g, bool rough) {
    if (rough && g) gp::GdipSetInterpolationMode(g, Gdiplus::InterpolationModeNearestNeighbor);
}

void fillPlain(HDC dc, int32_t w, int32_t h, COLORREF colour) {
    HBRUSH brush = ::CreateSolidBrush(colour);
    const RECT all{0, 0, w, h};
    if (brush) ::FillRect(dc, &all, brush);
    if (brush) ::DeleteObject(brush);
}

void paintBackdrop(int32_t w, int32_t h, bool rough) {
    gCache.backdrop = std::make_unique<Canvas>(w, h);
    GraphicsHandle g = createPaintGraphics(gCache.backdrop->dc());
    roughen(g.get(), rough);
    fillRect(g.get(), 0, 0, w, h, 0xFF16202C);
    if (!g) fillPlain(gCache.backdrop->dc(), w, h, 0x2C2016);  // the base colour, so the texts stay readable
    {
        LockHolder hold(gImageLock);
        drawImageCover(g.get(), gState.backgroundImage, 0, 0, w, h);
        gCache.backdropImage = gState.backgroundImage.get();
    }
    // The picture stays clear at the top and is mostly covered at the bottom.
    fillRectVertical(g.get(), 0, 0, w, h, -1, h + 1, 0x460E1620, 0xB4101822);
    gCache.backdropDpi = gDisplay.dpi;
    gCache.backdropBannerCopy = gCache.bannerCopies;
    gCache.backdropFrames = gFramesInBackdrop;
    gCache.rough = gCache.rough || rough;
    if (gFramesInBackdrop) paintFrames(g.get(), rough);
}

void ensureBannerCopy(bool rough);

// With `rough`, pictures that must be made anew are made with the cheap filter.
void ensureBackdrop(bool rough) {
    ensureBannerCopy(rough);
    bool stale;
    {
        LockHolder hold(gImageLock);
        stale = gCache.backdropImage != gState.backgroundImage.get();
    }
    stale = stale || !fitsClient(gCache.backdrop) || gCache.backdropDpi != gDisplay.dpi ||
            gCache.backdropBannerCopy != gCache.bannerCopies || gCache.backdropFrames != gFramesInBackdrop;
    if (stale) paintBackdrop(gLayout.clientWidth, gLayout.clientHeight, rough);
}

// A copy of the banner already cropped and scaled to the card, drawn 1:1.
void ensureBannerCopy(bool rough) {
    const Rect& r = gLayout.bannerRect;
    LockHolder hold(gImageLock);
    if (gCache.banner && gCache.bannerWidth == r.width() && gCache.bannerHeight == r.height() &&
        gCache.bannerSource == gState.bannerImage.get() && gCache.bannerSerial == gState.bannerSerial)
        return;
    gCache.banner.reset();
    gCache.bannerOpaque = false;
    gCache.rough = gCache.rough || rough;
    ++gCache.bannerCopies;
    gCache.bannerWidth = r.width();
    gCache.bannerHeight = r.height();
    gCache.bannerSource = gState.bannerImage.get();
    gCache.bannerSerial = gState.bannerSerial;
    if (!gState.bannerImage || r.width() <= 0 || r.height() <= 0) return;
    Gdiplus::GpBitmap* copy = nullptr;
    if (gp::GdipCreateBitmapFromScan0(r.width(), r.height(), 0, PixelFormat32bppPARGB, nullptr, &copy) != Gdiplus::Ok)
        return;
    gCache.banner.reset(copy);
    Gdiplus::GpGraphics* raw = nullptr;
    gp::GdipGetImageGraphicsContext(copy, &raw);
    GraphicsHandle g(raw);
    if (!g) return;
    gp::GdipSetSmoothingMode(raw, Gdiplus::SmoothingModeAntiAlias);
    gp::GdipSetPixelOffsetMode(raw, Gdiplus::PixelOffsetModeHalf);
    gp::GdipSetInterpolationMode(raw, Gdiplus::InterpolationModeHighQualityBicubic);
    roughen(raw, rough);
    drawImageCover(raw, gState.bannerImage, 0, 0, r.width(), r.height());
    Gdiplus::PixelFormat format = 0;
    gp::GdipGetImagePixelFormat(gState.bannerImage.get(), &format);
    gCache.bannerOpaque = (format & PixelFormatAlpha) == 0;
}

// The left or right end of a shadow layer, cut straight down where its
// corner arcs meet its top and bottom edges: the same arcs as the whole layer.
PathHandle layerEnd(const RoundedBox& layer, bool left) {
    Gdiplus::GpPath* raw = nullptr;
    if (gp::GdipCreatePath(Gdiplus::FillModeAlternate, &raw) != Gdiplus::Ok) return {};
    PathHandle path(raw);
    const int32_t d = 2 * layer.radius, bottom = layer.y + layer.h - d - 1;
    if (left) {
        gp::GdipAddPathArcI(raw, layer.x, layer.y, d, d, 180.0f, 90.0f);
        gp::GdipAddPathArcI(raw, layer.x, bottom, d, d, 90.0f, 90.0f);
    } else {
        const int32_t x = layer.x + layer.w - d - 1;
        gp::GdipAddPathArcI(raw, x, layer.y, d, d, 270.0f, 90.0f);
        gp::GdipAddPathArcI(raw, x, bottom, d, d, 0.0f, 90.0f);
    }
    gp::GdipClosePathFigure(raw);
    return path;
}

// One shadow layer around an opaque banner: its two ends, and the bands of
// it that show above and below the banner. The middle is hidden, so it is
// not filled.
void fillLayerAroundBanner(Gdiplus::GpGraphics* g, const RoundedBox& layer, const Rect& banner, Argb colour) {
    const int32_t cutLeft = layer.x + layer.radius, cutRight = layer.x + layer.w - 1 - layer.radius;
    const int32_t hiddenTop = banner.top + 2, hiddenBottom = banner.bottom - 2, layerBottom = layer.y + layer.h - 1;
    fillPath(g, layerEnd(layer, true), colour);
    fillPath(g, layerEnd(layer, false), colour);
    if (layer.y < hiddenTop) fillRect(g, cutLeft, layer.y, cutRight - cutLeft, hiddenTop - layer.y, colour);
    if (hiddenBottom < layerBottom) fillRect(g, cutLeft, hiddenBottom, cutRight - cutLeft, layerBottom - hiddenBottom, colour);
}

void paintBannerShadow(Gdiplus::GpGraphics* g, const Rect& r, int32_t radius) {
    const int32_t l = r.left, t = r.top, w = r.width(), h = r.height();
    for (int32_t k = 6; k >= 1; --k) {
        const RoundedBox layer{l - scaled(k), t - scaled(k) + scaled(6), w + scaled(2 * k), h + scaled(2 * k),
                               scaled(k) + radius};
        // An opaque banner hides the layer between its rounded ends, from
        // 2 px inside its top to 2 px inside its bottom.
        const bool hidden = gCache.banner && gCache.bannerOpaque && layer.radius >= 2 &&
                            layer.x + layer.radius >= l + radius &&
                            layer.x + layer.w - 1 - layer.radius <= r.right - radius && h > 4;
        if (hidden) fillLayerAroundBanner(g, layer, r, 0x10000000);
        else fillRoundRect(g, layer, 0x10000000);
    }
}

void paintBannerCard(Gdiplus::GpGraphics* g, bool shadow = true) {
    const Rect& r = gLayout.bannerRect;
    const int32_t l = r.left, t = r.top, w = r.width(), h = r.height(), radius = scaled(16);
    if (shadow) paintBannerShadow(g, r, radius);
    Gdiplus::GraphicsState saved = 0;
    gp::GdipSaveGraphics(g, &saved);
    PathHandle clip = roundRectPath(l, t, w, h, radius);
    if (clip) gp::GdipSetClipPath(g, clip.get(), Gdiplus::CombineModeIntersect);
    if (gCache.banner)
        gp::GdipDrawImageRectRectI(g, gCache.banner.get(), l, t, w, h, 0, 0, w, h, Gdiplus::UnitPixel, nullptr,
                                   nullptr, nullptr);
    const int32_t shade = scaled(60);
    fillRectVertical(g, l, r.bottom - shade, w, shade, r.bottom - shade - 1, r.bottom + 1, 0x00000000, 0x5A000000);
    gp::GdipRestoreGraphics(g, saved);
    strokeRoundRect(g, {l, t, w, h, radius}, 0x46FFFFFF);
}

void paintTitlePill(HDC dc, Gdiplus::GpGraphics* g) {
    const Rect& r = gLayout.titleRect;
    const int32_t h = r.height(), logo = h - scaled(8);
    const int32_t width = logo + scaled(12) + textWidth(dc, gDisplay.fontTitle.get(), kWindowTitle) + scaled(18);
    drawPill(g, r.left, r.top, width, h, h / 2, 0x9618222E, 0x3CFFFFFF);
    {
        LockHolder hold(gImageLock);
        if (gState.logoImage)  // always from the 128 x 128 source square
            gp::GdipDrawImageRectRectI(g, gState.logoImage.get(), r.left + scaled(6), r.top + scaled(4), logo, logo, 0,
                                       0, 128, 128, Gdiplus::UnitPixel, nullptr, nullptr, nullptr);
    }
    const int32_t textLeft = r.left + logo + scaled(12);
    drawTextBox(dc, gDisplay.fontTitle.get(), 0xFFFFFF, textLeft, r.top, r.left + width + scaled(12) - scaled(16) - textLeft,
                h, kWindowTitle, DT_SINGLELINE | DT_VCENTER);
}

// The menu button looks pressed while held and while its menu shows.
Argb windowButtonFill(int32_t item) {
    const bool close = item == CloseButton;
    if (item == MenuButton && (gUi.menuOpen || (gUi.pressedItem == item && gUi.hoverItem == item))) return 0x8CFFFFFF;
    if (gUi.hoverItem != item) return 0x8C18222E;
    return close ? 0xEBE82834 : 0x5AFFFFFF;
}

void paintWindowButton(Gdiplus::GpGraphics* g, int32_t item) {
    const Rect& r = item == CloseButton ? gLayout.closeButtonRect
                    : item == MenuButton ? gLayout.menuButtonRect
                                         : gLayout.minimizeButtonRect;
    const Argb fill = windowButtonFill(item);
    fillRoundRect(g, {r.left, r.top, r.width(), r.height(), scaled(8)}, fill);
    strokeRoundRect(g, {r.left, r.top, r.width(), r.height(), scaled(8)}, 0x32FFFFFF);
    Gdiplus::GpPen* raw = nullptr;
    gp::GdipCreatePen1(0xF5FFFFFF, scaled(2) * 0.75f, Gdiplus::UnitPixel, &raw);
    PenHandle pen(raw);
    if (!pen) return;
    const int32_t cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2, d = scaled(5);
    if (item == MenuButton) {
        for (int32_t y : {cy - scaled(4), cy, cy + scaled(4)}) gp::GdipDrawLineI(g, pen.get(), cx - d, y, cx + d, y);
        return;
    }
    if (item == MinimizeButton) {
        gp::GdipDrawLineI(g, pen.get(), cx - d, cy, cx + d, cy);
        return;
    }
    gp::GdipDrawLineI(g, pen.get(), cx - d, cy - d, cx + d, cy + d);
    gp::GdipDrawLineI(g, pen.get(), cx - d, cy + d, cx + d, cy - d);
}

bool cardShown(const Rect& card) { return card.height() > scaled(70); }  // a card this low is left out

// The parts of the picture that change only with size, DPI and pictures,
// in the order the layers stack: nothing drawn later reaches under them.
// A rough frame leaves out the soft shadows, the dearest part under Wine.
void paintFrames(Gdiplus::GpGraphics* g, bool rough) {
    paintBannerCard(g, !rough);
    drawCard(g, gLayout.actionBarRect, scaled(14), !rough);
    if (cardShown(gLayout.notesRect)) drawCard(g, gLayout.notesRect, scaled(14), !rough);
    if (cardShown(gLayout.serverRect)) drawCard(g, gLayout.serverRect, scaled(14), !rough);
}

void paintLayers(HDC dc, Gdiplus::GpGraphics* g, const Rect& region) {
    const Rect titleStrip{0, 0, gLayout.clientWidth, gLayout.titleBarHeight};
    const int32_t shadow = scaled(12);  // the reach of every card's shadow or halo
    const bool live = !gFramesInBackdrop;
    if (live && intersects(region, grown(gLayout.bannerRect, shadow))) paintBannerCard(g);
    if (intersects(region, titleStrip)) {
        paintTitlePill(dc, g);
        for (int32_t item : {MenuButton, MinimizeButton, CloseButton}) paintWindowButton(g, item);
    }
    if (intersects(region, grown(gLayout.actionBarRect, shadow))) {
        if (live) drawCard(g, gLayout.actionBarRect, scaled(14));
        paintActionBar(dc, g);
    }
    if (cardShown(gLayout.notesRect) && intersects(region, grown(gLayout.notesRect, shadow))) {
        if (live) drawCard(g, gLayout.notesRect, scaled(14));
        paintNotesCard(dc, g);
    }
    if (cardShown(gLayout.serverRect) && intersects(region, grown(gLayout.serverRect, shadow))) {
        if (live) drawCard(g, gLayout.serverRect, scaled(14));
        paintServerCard(dc, g);
    }
}

}  // namespace

namespace {

void paintSceneWith(HDC dc, const Rect& region, bool rough) {
    const Rect client{0, 0, gLayout.clientWidth, gLayout.clientHeight};
    const Rect r{std::max(region.left, 0), std::max(region.top, 0), std::min(region.right, client.right),
                 std::min(region.bottom, client.bottom)};
    if (r.width() <= 0 || r.height() <= 0) return;
    ensureBackdrop(rough);
    ::BitBlt(dc, r.left, r.top, r.width(), r.height(), gCache.backdrop->dc(), r.left, r.top, SRCCOPY);
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    ::SetBkMode(dc, TRANSPARENT);
    {
        GraphicsHandle g = createPaintGraphics(dc);
        const bool whole = r.left == 0 && r.top == 0 && r.right == client.right && r.bottom == client.bottom;
        std::optional<PaintArea> area;
        if (!whole) area.emplace(r);
        if (g) gp::GdipSetClipRectI(g.get(), r.left, r.top, r.width(), r.height(), Gdiplus::CombineModeReplace);
        // Without GDI+ the shapes and pictures are left out, never the texts.
        paintLayers(dc, g.get(), r);
    }
    ::RestoreDC(dc, saved);
}

}  // namespace

void paintScene(HDC dc, const Rect& region) { paintSceneWith(dc, region, false); }

void paintWindow(HWND window) {
    PAINTSTRUCT ps;
    HDC screen = ::BeginPaint(window, &ps);
    Rect region{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom};
    if (!fitsClient(gCache.backBuffer)) {
        gCache.backBuffer = std::make_unique<Canvas>(gLayout.clientWidth, gLayout.clientHeight);
        region = Rect{0, 0, gLayout.clientWidth, gLayout.clientHeight};  // nothing to keep from before
    }
    const Canvas& back = *gCache.backBuffer;
    if (back.ok()) {
        paintSceneWith(back.dc(), region, true);
        // Only what was repainted goes to the screen: under Wine every pixel
        // copied is a pixel sent to the X server.
        ::BitBlt(screen, region.left, region.top, region.width(), region.height(), back.dc(), region.left,
                 region.top, SRCCOPY);
    }
    ::EndPaint(window, &ps);
}

bool paintNow(HWND window, const Rect& region) {
    if (!fitsClient(gCache.backBuffer) || !gCache.backBuffer->ok()) return false;
    const Canvas& back = *gCache.backBuffer;
    paintSceneWith(back.dc(), region, true);
    HDC screen = ::GetDC(window);
    if (!screen) return false;
    ::BitBlt(screen, region.left, region.top, region.width(), region.height(), back.dc(), region.left, region.top,
             SRCCOPY);
    ::ReleaseDC(window, screen);
    return true;
}

PaintInputs capturePaintInputs() {
    PaintInputs in;
    in.valid = true;
    // Field by field: the record's padding bytes are not its value.
    const SteamStats stats = steamStatsSnapshot();
    auto add = [&in](const void* p, size_t n) { in.steam.append(static_cast<const char*>(p), n); };
    add(&stats.valid, sizeof stats.valid);
    add(&stats.playtimeMinutes, sizeof stats.playtimeMinutes);
    add(&stats.lastPlayed, sizeof stats.lastPlayed);
    add(stats.personaName, std::wcslen(stats.personaName) * sizeof(wchar_t) + sizeof(wchar_t));
    add(stats.avatarPath, std::wcslen(stats.avatarPath) * sizeof(wchar_t));
    {
        LockHolder hold(gStateLock);
        in.phase = gState.phase;
        in.status = gState.statusText;
        in.bytesDone = gState.bytesDone;
        in.bytesTotal = gState.bytesTotal;
    }
    in.gameInstalled = gState.gameInstalled;
    in.serverOnline = gState.serverOnline;
    in.lobbies = gState.lobbiesOpen;
    in.players = gState.playersInMatches;
    in.serverVersion = gState.serverVersion;
    in.downloadSpeed = gState.downloadSpeed;
    LockHolder hold(gImageLock);
    in.bannerSerial = gState.bannerSerial;
    in.banner = reinterpret_cast<uintptr_t>(gState.bannerImage.get());
    in.avatar = reinterpret_cast<uintptr_t>(gState.avatarImage.get());
    in.background = reinterpret_cast<uintptr_t>(gState.backgroundImage.get());
    in.logo = reinterpret_cast<uintptr_t>(gState.logoImage.get());
    return in;
}

void setCardFramesCached(bool cached) { gFramesInBackdrop = cached; }

bool picturesRough() { return gCache.rough; }

void refinePictures() {
    if (!gCache.rough) return;
    gCache.rough = false;
    gCache.banner.reset();  // made anew below, properly filtered
    gCache.bannerSource = nullptr;
    gCache.backdrop.reset();
    ensureBackdrop(false);
}

void releasePaintCache() {
    gCache.backBuffer.reset();
    gCache.backdrop.reset();
    gCache.backdropImage = nullptr;
    gCache.banner.reset();
    gCache.bannerSource = nullptr;
    gCache.rough = false;
}
