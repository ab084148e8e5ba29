#include "render/action_bar_win.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <string>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "render/draw_win.h"
#include "render/formatting.h"
#include "steam/steam_stats.h"

namespace gp = Gdiplus::DllExports;

namespace {

constexpr UINT kLine = DT_SINGLELINE;
constexpr Rgb kBrightText = 0xF0F4F8;
constexpr Rgb kDimText = 0xB0BCCA;
constexpr Rgb kLabelText = 0x96A8BE;
constexpr Argb kDivider = 0x28FFFFFF;
constexpr int32_t kRateGap = 10;  // px at 96 DPI between the rate and the divider

struct ButtonLook {
    Argb top, bottom;
    Argb glow;  // 0: no halo
};

ButtonLook buttonLook(int32_t phase) {
    const bool hovered = gUi.hoverItem == MainButton;
    const bool pressed = hovered && gUi.pressedItem == MainButton;  // a press without hover looks plain
    const PhaseInfo& info = phaseInfo(phase);
    if (info.busy) return {0xFF2E80D6, 0xFF1C5CAA, 0x3C328CFF};
    if (phase == Ready) {
        if (pressed) return {0xFF46AA3C, 0xFF2C842E, 0x6E5ADC50};
        if (hovered) return {0xFF84EC6A, 0xFF4ABE46, 0x6E5ADC50};
        return {0xFF6EDC5A, 0xFF38A83A, 0x465ADC50};
    }
    if (info.clickable) {
        if (pressed) return {0xFF1E78D2, 0xFF125CB4, 0x6E3296FF};
        if (hovered) return {0xFF64C0FF, 0xFF2C92F5, 0x6E3296FF};
        return {0xFF48ACFF, 0xFF1C7CE6, 0x463296FF};
    }
    return {0xFF3E4856, 0xFF303844, 0};
}

// Four layers, outermost first, 8 px beyond the button and 3 px down.
void drawGlow(Gdiplus::GpGraphics* g, const Rect& b, Argb glow) {
    const int32_t ks[] = {8, 6, 4, 2}, qs[] = {5, 4, 3, 2}, radii[] = {18, 16, 14, 12};
    for (int i = 0; i < 4; ++i) {
        const int32_t k = ks[i];
        const Argb alpha = ((glow >> 24) / qs[i]) << 24;
        fillRoundRect(g,
                      {b.left - scaled(k), b.top - scaled(k) + scaled(3), b.width() + scaled(2 * k),
                       b.height() + scaled(2 * k), scaled(radii[i])},
                      alpha | (glow & 0xFFFFFF));
    }
}

void fillPolygon(Gdiplus::GpGraphics* g, const Gdiplus::GpPointF* points, int count, Argb colour) {
    Gdiplus::GpSolidFill* raw = nullptr;
    gp::GdipCreateSolidFill(colour, &raw);
    BrushHandle brush(raw);
    if (brush) gp::GdipFillPolygon(g, brush.get(), points, count, Gdiplus::FillModeAlternate);
}

// An arc with an arrowhead at its end, turned by `angle` degrees.
void drawSpinner(Gdiplus::GpGraphics* g, float cx, float cy, float radius, float angle, Argb colour) {
    Gdiplus::GpPen* raw = nullptr;
    gp::GdipCreatePen1(colour, 0.3f * radius, Gdiplus::UnitPixel, &raw);
    PenHandle pen(raw);
    if (pen) {
        gp::GdipSetPenStartCap(pen.get(), Gdiplus::LineCapRound);
        gp::GdipSetPenEndCap(pen.get(), Gdiplus::LineCapFlat);
        gp::GdipDrawArc(g, pen.get(), cx - radius, cy - radius, 2 * radius, 2 * radius, angle + 40.0f, 270.0f);
    }
    const double theta = (angle + 40.0 + 270.0) * 3.14159265358979323846 / 180.0;
    const float c = static_cast<float>(std::cos(theta)), s = static_cast<float>(std::sin(theta));
    const float ex = cx + radius * c, ey = cy + radius * s;  // the arc's end
    const float tx = -s, ty = c;                             // along the arc
    const float back = 0.093f * radius, wide = 0.48f * radius, tip = 0.62f * radius;
    const Gdiplus::GpPointF head[] = {
        {ex + tip * tx, ey + tip * ty},
        {ex + wide * c - back * tx, ey + wide * s - back * ty},
        {ex - wide * c - back * tx, ey - wide * s - back * ty},
    };
    fillPolygon(g, head, 3, colour);
}

void paintButton(HDC dc, Gdiplus::GpGraphics* g, int32_t phase, bool installed) {
    const Rect& b = gLayout.mainButtonRect;
    const int32_t l = b.left, t = b.top, w = b.width(), h = b.height();
    const ButtonLook look = buttonLook(phase);
    if (look.glow) drawGlow(g, b, look.glow);
    fillRoundRectVertical(g, {l, t, w, h, scaled(10)}, t - 1, b.bottom + 1, look.top, look.bottom);
    fillRoundRectVertical(g, {l + 1, t + 1, w - 2, h / 2, scaled(10)}, t, t + h / 2 + 2, 0x3CFFFFFF, 0x00FFFFFF);
    strokeRoundRect(g, {l, t, w, h, scaled(10)}, 0x46FFFFFF);
    if (gUi.keyboardCues && gUi.focused && phaseInfo(phase).clickable)  // keyboard focus, inside the glow
        strokePath(g, roundRectPath(l - scaled(4), t - scaled(4), w + scaled(8), h + scaled(8), scaled(14)), 0xE6FFFFFF,
                   static_cast<float>(scaled(2)));

    const wchar_t* label = mainButtonLabel(phase, installed);
    HFONT font = std::wcslen(label) >= 9 ? gDisplay.fontButtonSmall.get() : gDisplay.fontButtonLarge.get();
    const bool bright = phaseBright(phase);
    const Rgb labelColour = bright ? 0xFFFFFF : 0xAAB2BE;
    const PhaseInfo& info = phaseInfo(phase);
    std::fill(gUi.spinnerBox, gUi.spinnerBox + 4, 0);
    if (info.icon == ButtonIcon::None) {
        drawTextBox(dc, font, labelColour, l, t, w, h, label, DT_CENTER | DT_VCENTER | kLine);
        return;
    }
    const int32_t x = textWidth(dc, font, label);
    const int32_t icon = info.icon == ButtonIcon::Play ? scaled(16) : info.icon == ButtonIcon::Bars ? scaled(18) : scaled(20);
    const int32_t gap = info.icon == ButtonIcon::Spinner ? scaled(10) : scaled(12);
    const int32_t x0 = l + (w - x - gap - icon) / 2;
    const int32_t cy = t + h / 2;
    if (info.icon == ButtonIcon::Play) {
        const Gdiplus::GpPointF triangle[] = {{float(x0), float(cy - scaled(10))},
                                              {float(x0), float(cy + scaled(10))},
                                              {float(x0 + icon), float(cy)}};
        fillPolygon(g, triangle, 3, 0xFFFFFFFF);
    } else if (info.icon == ButtonIcon::Bars) {
        fillRect(g, x0, cy - scaled(9), scaled(6), scaled(18), 0xFFFFFFFF);
        fillRect(g, x0 + scaled(11), cy - scaled(9), scaled(6), scaled(18), 0xFFFFFFFF);
    } else {
        const float angle = info.spins ? gUi.spinnerAngle : 0.0f;
        const float cx = x0 + icon / 2.0f, cy2 = t + h / 2.0f, radius = static_cast<float>(scaled(8));
        drawSpinner(g, cx, cy2, radius, angle, bright ? 0xFFFFFFFF : 0xFFAFB9C6);
        // The arrowhead reaches 1.48 radii out; a little more for smoothing.
        const int32_t reach = static_cast<int32_t>(std::ceil(1.6f * radius)) + 2;
        const int32_t box[4] = {static_cast<int32_t>(cx) - reach, static_cast<int32_t>(cy2) - reach,
                                static_cast<int32_t>(cx) + reach + 1, static_cast<int32_t>(cy2) + reach + 1};
        std::copy(box, box + 4, gUi.spinnerBox);
    }
    const int32_t textLeft = x0 + icon + gap;
    drawTextBox(dc, font, labelColour, textLeft, t, x + scaled(4), h, label, DT_VCENTER | kLine);
}

void drawDivider(Gdiplus::GpGraphics* g, int32_t x, int32_t top) { fillRect(g, x, top, 1, scaled(48), kDivider); }

void strokeLine(Gdiplus::GpGraphics* g, Gdiplus::GpPen* pen, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    gp::GdipDrawLineI(g, pen, x1, y1, x2, y2);
}

void drawStatIcons(Gdiplus::GpGraphics* g, int32_t x1, int32_t x2, int32_t yi) {
    Gdiplus::GpPen* raw = nullptr;
    gp::GdipCreatePen1(0xFF96A8BE, static_cast<float>(scaled(2)), Gdiplus::UnitPixel, &raw);
    PenHandle pen(raw);
    if (!pen) return;
    // Calendar
    PathHandle page = roundRectPath(x1, yi + scaled(3), scaled(26), scaled(23), scaled(4));
    if (page) gp::GdipDrawPath(g, pen.get(), page.get());
    strokeLine(g, pen.get(), x1, yi + scaled(11), x1 + scaled(26), yi + scaled(11));
    strokeLine(g, pen.get(), x1 + scaled(7), yi, x1 + scaled(7), yi + scaled(6));
    strokeLine(g, pen.get(), x1 + scaled(19), yi, x1 + scaled(19), yi + scaled(6));
    // Clock
    gp::GdipDrawEllipseI(g, pen.get(), x2, yi, scaled(26), scaled(26));
    strokeLine(g, pen.get(), x2 + scaled(13), yi + scaled(7), x2 + scaled(13), yi + scaled(13));
    strokeLine(g, pen.get(), x2 + scaled(13), yi + scaled(13), x2 + scaled(18), yi + scaled(16));
}

void paintStatistics(HDC dc, Gdiplus::GpGraphics* g, const SteamStats& stats, int32_t u, int32_t y0) {
    const Rect& a = gLayout.actionBarRect;
    const int32_t x1 = u, x2 = u + scaled(40) + scaled(160);
    drawDivider(g, x1 - scaled(15), a.top + scaled(18));
    drawDivider(g, x2 - scaled(15), a.top + scaled(18));
    drawStatIcons(g, x1, x2, y0 + scaled(36));
    HFONT label = gDisplay.fontLabel.get(), value = gDisplay.fontValue.get();
    drawTextBox(dc, label, kLabelText, x1 + scaled(40), y0 + scaled(28), scaled(160), scaled(18), L"LAST PLAYED", kLine);
    drawTextBox(dc, label, kLabelText, x2 + scaled(40), y0 + scaled(28), scaled(200), scaled(18), L"PLAY TIME", kLine);
    const std::wstring last = formatLastPlayed(stats.valid, stats.lastPlayed, ::_time64(nullptr));
    const std::wstring played = formatPlayTime(stats.valid, stats.playtimeMinutes);
    drawTextBox(dc, value, kBrightText, x1 + scaled(40), y0 + scaled(48), scaled(160), scaled(28), last.c_str(), kLine);
    drawTextBox(dc, value, kBrightText, x2 + scaled(40), y0 + scaled(48), scaled(220), scaled(28), played.c_str(),
                kLine);
}

void paintProgress(HDC dc, Gdiplus::GpGraphics* g, int32_t phase, int32_t u, int32_t y0, int32_t right) {
    const int32_t width = right - u;
    const int64_t done = gState.bytesDone, total = gState.bytesTotal;
    HFONT small = gDisplay.fontSmall.get();
    // Time left counts what still comes over the network: a copy from the
    // installed file takes next to nothing.
    const int64_t fromNetwork = total - done - gState.copyBytesLeft;
    const std::wstring rate = phase == Downloading ? formatTransferRate(gState.downloadSpeed, fromNetwork) : L"";
    // The status line shares its row with the rate: a long file name ends
    // in an ellipsis before the rate instead of running into it.
    const int32_t rateRoom = rate.empty() ? 0 : textWidth(dc, small, rate.c_str()) + scaled(16 + kRateGap);
    drawTextBox(dc, gDisplay.fontSubtitle.get(), kBrightText, u, y0 + scaled(22), width - rateRoom, scaled(24),
                gState.statusText, DT_END_ELLIPSIS | kLine);
    // Right-aligned, but ending short of the identity block's divider at `right`.
    drawTextBox(dc, small, kDimText, u, y0 + scaled(25), width - scaled(kRateGap), scaled(20), rate.c_str(),
                DT_RIGHT | kLine);
    const int32_t trackTop = y0 + scaled(54);
    fillRoundRect(g, {u, trackTop, width, scaled(10), scaled(5)}, 0xFF324052);
    const double fraction = progressFraction(done, total);
    const int32_t fill = progressFillWidth(width, fraction, scaled(10));
    if (fill > 0) {
        fillRoundRectVertical(g, {u, trackTop, fill, scaled(10), scaled(5)}, trackTop - 1, trackTop + scaled(10) + 1,
                              0xFF6EC8FF, 0xFF2482EC);
        fillRoundRect(g, {u, y0 + scaled(52), fill, scaled(14), scaled(7)}, 0x1E54B2FF);
    }
    const std::wstring amount = formatAmount(done, total);
    drawTextBox(dc, small, kDimText, u, y0 + scaled(70), width, scaled(20), amount.c_str(), kLine);
}

void paintIdentity(HDC dc, Gdiplus::GpGraphics* g, const SteamStats& stats, int32_t phase) {
    const Rect& a = gLayout.actionBarRect;
    const int32_t x = a.right - scaled(250), y = a.top + scaled(19), d = scaled(46);
    drawDivider(g, x - scaled(20), a.top + scaled(18));
    if (!stats.valid) {
        drawTextBox(dc, gDisplay.fontSubtitle.get(), kDimText, x, y + scaled(2), scaled(250), scaled(24),
                    L"Steam not found", kLine);
        drawTextBox(dc, gDisplay.fontSmall.get(), kDimText, x, y + scaled(28), scaled(250), scaled(20),
                    L"Open Steam to see your stats", kLine);
        return;
    }
    fillPathVertical(g, ellipsePath(x - scaled(3), y - scaled(3), d + scaled(6), d + scaled(6)), x, y, y + d,
                     0xFF82EC6C, 0xFF32A848);
    fillEllipse(g, x - scaled(1), y - scaled(1), d + scaled(2), d + scaled(2), 0xFF222E3E);
    {
        Gdiplus::GraphicsState saved = 0;
        gp::GdipSaveGraphics(g, &saved);
        PathHandle disc = ellipsePath(x, y, d, d);
        if (disc) gp::GdipSetClipPath(g, disc.get(), Gdiplus::CombineModeIntersect);
        fillEllipse(g, x, y, d, d, 0xFF343E4C);
        {
            LockHolder hold(gImageLock);
            drawImageCover(g, gState.avatarImage, x, y, d, d);
        }
        gp::GdipRestoreGraphics(g, saved);
    }
    const int32_t text = x + d + scaled(14);
    drawTextBox(dc, gDisplay.fontSubtitle.get(), 0xFFFFFF, text, y + scaled(2), scaled(200), scaled(24),
                stats.personaName, DT_END_ELLIPSIS | kLine);
    fillEllipse(g, x + d + scaled(15), y + scaled(33), scaled(8), scaled(8), 0xFF6EE260);
    drawTextBox(dc, gDisplay.fontSmall.get(), 0x66D65C, x + d + scaled(29), y + scaled(27), scaled(190), scaled(20),
                phase == Running ? L"In game" : L"Connected with Steam", kLine);
}

}  // namespace

void paintActionBar(HDC dc, Gdiplus::GpGraphics* g) {
    // Taken first: the snapshot takes stateLock itself.
    const SteamStats stats = steamStatsSnapshot();
    const ProgressBox box = progressBox(gLayout, gDisplay.dpi);
    const int32_t u = box.left, y0 = box.top, right = box.right;
    int32_t phase;
    {
        // One moment for the phase, the status text and the counters.
        LockHolder hold(gStateLock);
        phase = gState.phase;
        paintButton(dc, g, phase, gState.gameInstalled != 0);
        if (phase == Downloading || (phase == UpdateReady && gState.bytesDone > 0))
            paintProgress(dc, g, phase, u, y0, right);
        else
            paintStatistics(dc, g, stats, u, y0);
    }
    paintIdentity(dc, g, stats, phase);
}
