// Where everything sits in the window: one set of rectangles that painting
// and input share, computed from the client size and the DPI.
// Pure: no <windows.h>.
#pragma once

#include <cstdint>

#include "render/ui_state.h"

// Half-open: left <= x < right, top <= y < bottom.
struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct WindowLayout {
    int32_t clientWidth = 0, clientHeight = 0;
    int32_t margin = 0;
    int32_t titleBarHeight = 0;  // everything above it is caption
    Rect bannerRect;
    Rect actionBarRect;
    Rect mainButtonRect;
    Rect menuButtonRect;  // left of minimise, its size
    Rect minimizeButtonRect;
    Rect closeButtonRect;
    Rect titleRect;  // painting uses its left, top and bottom; the pill fits its content
    Rect notesRect;
    Rect serverRect;
};

// n px at 96 DPI scaled to `dpi`, rounded to nearest with halves away from
// zero: exactly what MulDiv(n, dpi, 96) gives.
int32_t scaledAt(int32_t n, int32_t dpi);

// The whole layout for a client area of `width` x `height` at `dpi`.
WindowLayout layoutForClient(int32_t width, int32_t height, int32_t dpi);

// Where the action bar shows a download: the status line, the rate, the
// track and the amount, from `left` to `right`, rows measured from `top`.
struct ProgressBox {
    int32_t left = 0, top = 0, right = 0;
};
ProgressBox progressBox(const WindowLayout& layout, int32_t dpi);
// Everything the progress draws, with a pixel of slack for text.
Rect progressArea(const WindowLayout& layout, int32_t dpi);

// The server card's status text box.
Rect serverStatusBox(const WindowLayout& layout, int32_t dpi);

// The clickable item at (x, y), or None.
HitItem hitTestItem(const WindowLayout& layout, int32_t x, int32_t y);
