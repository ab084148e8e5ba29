#include "render/cards_win.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cwchar>

#include "render/display_win.h"
#include "core/launcher_state.h"
#include "render/draw_win.h"
#include "render/formatting.h"
#include "render/patch_notes.h"

namespace gp = Gdiplus::DllExports;

namespace {

constexpr Argb kCardDivider = 0x1EFFFFFF;
constexpr Rgb kOnline = 0x66D65C, kConnecting = 0xB0BCCA, kOffline = 0xF05C5C;

void drawCardDivider(Gdiplus::GpGraphics* g, const Rect& r) {
    fillRect(g, r.left + scaled(20), r.top + scaled(48), r.width() - scaled(40), 1, kCardDivider);
}

// One paragraph: measured with the same font, width and flags as it is drawn.
int32_t layoutParagraph(HDC dc, Gdiplus::GpGraphics* g, const NoteLine& line, bool heading, int32_t x, int32_t y,
                        int32_t width, bool measureOnly) {
    const int32_t indent = line.bullet ? scaled(22) : 0;
    HGDIOBJ previous = ::SelectObject(dc, heading ? gDisplay.fontHeading.get() : gDisplay.fontBody.get());
    RECT box{x + indent, y, x + width, y + 10000};
    const int length = static_cast<int>(line.length);
    ::DrawTextW(dc, line.text, length, &box, DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK);
    const int32_t height = box.bottom - y;
    if (!measureOnly) {
        if (line.bullet) fillEllipse(g, x + scaled(5), y + height / 2 - scaled(4), scaled(8), scaled(8), 0xFF54B2FF);
        RECT draw{x + indent, y, x + width, y + height};
        ::SetTextColor(dc, heading ? RGB(0xFF, 0xFF, 0xFF) : RGB(0xF0, 0xF4, 0xF8));
        ::DrawTextW(dc, line.text, length, &draw, DT_NOPREFIX | DT_WORDBREAK);
    }
    ::SelectObject(dc, previous);
    return height;
}

void paintVersionPill(HDC dc, Gdiplus::GpGraphics* g, const Rect& r) {
    const int32_t version = gState.serverVersion;
    if (version == 0) return;
    wchar_t text[32];
    std::swprintf(text, 32, L"VERSION %d", static_cast<int>(version));
    const int32_t width = textWidth(dc, gDisplay.fontLabel.get(), text) + scaled(22);
    const int32_t left = r.right - width - scaled(22), top = r.top + scaled(12);
    drawPill(g, left, top, width, scaled(24), scaled(12), 0x3C54B2FF, 0x5A54B2FF);
    drawTextBox(dc, gDisplay.fontLabel.get(), 0xAAD6FF, left, top, width, scaled(24), text,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void paintServerState(HDC dc, Gdiplus::GpGraphics* g, const Rect& r) {
    const int32_t phase = gState.phase;
    const bool online = gState.serverOnline == 1 && phase != ServerError;
    const Rgb colour = online ? kOnline : phase == Connecting ? kConnecting : kOffline;
    drawCardHeader(dc, g, r, L"SERVER", colour);
    const wchar_t* text = online ? L"ONLINE" : phase == Connecting ? L"CONNECTING" : L"OFFLINE";
    const int32_t width = textWidth(dc, gDisplay.fontLabel.get(), text) + scaled(36);
    const int32_t left = r.right - width - scaled(22), top = r.top + scaled(12);
    if (online) drawPill(g, left, top, width, scaled(24), scaled(12), 0x3766D65C, 0x6E66D65C);
    else drawPill(g, left, top, width, scaled(24), scaled(12), 0x37F05C5C, 0x6EF05C5C);
    fillEllipse(g, left + scaled(12), r.top + scaled(20), scaled(8), scaled(8), 0xFF000000 | colour);
    drawTextBox(dc, gDisplay.fontLabel.get(), colour, left + scaled(25), top, r.right - scaled(22) - left - scaled(25),
                scaled(24), text, DT_VCENTER | DT_SINGLELINE);
}

void paintTile(HDC dc, Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t width, int32_t value,
               const wchar_t* label, Argb accent) {
    const int32_t height = scaled(74);
    fillRoundRectVertical(g, {x, y, width, height, scaled(12)}, y - 1, y + height + 1, 0xFF344459, 0xFF2A384A);
    strokeRoundRect(g, {x, y, width, height, scaled(12)}, 0x28FFFFFF);
    fillRect(g, x + scaled(14), y + scaled(14), scaled(18), scaled(3), accent);
    const std::wstring number = formatCount(value);
    const int32_t textWidth = width - scaled(20);
    drawTextBox(dc, gDisplay.fontNumber.get(), 0xFFFFFF, x + scaled(14), y + scaled(16), textWidth, scaled(36), number.c_str(),
                DT_SINGLELINE);
    drawTextBox(dc, gDisplay.fontLabel.get(), 0x96A8BE, x + scaled(14), y + scaled(52), textWidth, scaled(18), label,
                DT_SINGLELINE);
}

}  // namespace

int32_t layoutPatchNotes(HDC dc, Gdiplus::GpGraphics* g, int32_t x, int32_t y, int32_t width, bool measureOnly) {
    LockHolder hold(gStateLock);  // the worker may free the notes as soon as it is free
    const bool haveNotes = gState.patchNotes && !gState.patchNotes->empty();
    const wchar_t* text = haveNotes ? gState.patchNotes->c_str() : kNoNotes;
    const size_t size = haveNotes ? gState.patchNotes->size() : std::wcslen(kNoNotes);
    const int32_t start = y;
    bool heading = true;
    size_t pos = 0;
    NoteLine line;
    while (nextNoteLine(text, size, &pos, &line)) {
        if (line.blank) {
            y += scaled(10);
            continue;
        }
        y += layoutParagraph(dc, g, line, heading, x, y, width, measureOnly) + (heading ? scaled(12) : scaled(6));
        heading = false;
    }
    return y - start;
}

void paintNotesCard(HDC dc, Gdiplus::GpGraphics* g) {
    const Rect& r = gLayout.notesRect;
    drawCardHeader(dc, g, r, L"PATCH NOTES", 0x54B2FF);
    paintVersionPill(dc, g, r);
    drawCardDivider(g, r);
    const int32_t x = r.left + scaled(22), y = r.top + scaled(60);
    const int32_t width = r.width() - scaled(52), view = r.height() - scaled(72);
    const int32_t total = layoutPatchNotes(dc, g, x, 0, width, true);
    gUi.notesContentHeight = total;
    gUi.notesScroll = clampNotesScroll(gUi.notesScroll, total, view);

    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, x, y, x + width, y + view);
    Gdiplus::GraphicsState state = 0;
    gp::GdipSaveGraphics(g, &state);
    gp::GdipSetClipRectI(g, x, y, width, view, Gdiplus::CombineModeIntersect);
    layoutPatchNotes(dc, g, x, y - gUi.notesScroll, width, false);
    gp::GdipRestoreGraphics(g, state);
    ::RestoreDC(dc, saved);

    ScrollThumb thumb;
    if (notesScrollThumb(view, total, gUi.notesScroll, scaled(30), &thumb))
        fillRoundRect(g, {r.right - scaled(12), y + thumb.top, scaled(4), thumb.height, scaled(2)}, 0x5AFFFFFF);
}

void paintServerCard(HDC dc, Gdiplus::GpGraphics* g) {
    const Rect& r = gLayout.serverRect;
    paintServerState(dc, g, r);
    drawCardDivider(g, r);
    const int32_t tileWidth = (r.width() - scaled(40) - scaled(10)) / 2;
    const int32_t top = r.top + scaled(62);
    const int32_t left = r.left + scaled(20);
    paintTile(dc, g, left, top, tileWidth, gState.lobbiesOpen, L"LOBBIES OPEN", 0xFF54B2FF);
    paintTile(dc, g, left + scaled(10) + tileWidth, top, tileWidth, gState.playersInMatches, L"IN MATCHES", 0xFF6EE260);
    const Rect text = serverStatusBox(gLayout, gDisplay.dpi);
    LockHolder hold(gStateLock);
    drawTextBox(dc, gDisplay.fontSmall.get(), 0xB0BCCA, text.left, text.top, text.width(), text.height(),
                gState.statusText, DT_WORDBREAK);
}
