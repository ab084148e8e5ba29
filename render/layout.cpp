#include "render/layout.h"

#include <algorithm>

int32_t scaledAt(int32_t n, int32_t dpi) {
    int64_t product = static_cast<int64_t>(n) * dpi;
    int64_t half = product >= 0 ? 48 : -48;
    return static_cast<int32_t>((product + half) / 96);
}

namespace {

Rect makeRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    Rect r;
    r.left = left;
    r.top = top;
    r.right = right;
    r.bottom = bottom;
    return r;
}

// The banner is 3.8 times as wide as high, leaves the bottom cards at least
// 178 px, and stays between 170 and 380 px; the floor wins.
int32_t bannerHeight(int32_t w, int32_t h, int32_t m, int32_t t, int32_t dpi) {
    auto s = [dpi](int32_t n) { return scaledAt(n, dpi); };
    int32_t byWidth = (10 * (w - 2 * m)) / 38;
    int32_t byHeight = h - (t + s(12) + s(84) + s(12) + s(178) + m);
    int32_t height = std::min(byWidth, byHeight);
    if (height > s(380)) height = s(380);
    if (height < s(170)) height = s(170);
    return height;
}

}  // namespace

WindowLayout layoutForClient(int32_t width, int32_t height, int32_t dpi) {
    auto s = [dpi](int32_t n) { return scaledAt(n, dpi); };
    WindowLayout l;
    l.clientWidth = width;
    l.clientHeight = height;
    const int32_t w = width, h = height;
    const int32_t m = l.margin = s(16);
    const int32_t t = l.titleBarHeight = s(46);
    l.bannerRect = makeRect(m, t, w - m, t + bannerHeight(w, h, m, t, dpi));
    const int32_t b = l.bannerRect.bottom;
    l.actionBarRect = makeRect(m, b + s(12), w - m, b + s(12) + s(84));
    const int32_t al = l.actionBarRect.left, at = l.actionBarRect.top;
    l.mainButtonRect = makeRect(al + s(18), at + s(18), al + s(18) + s(196), at + s(18) + s(48));
    l.closeButtonRect = makeRect(w - s(44), s(9), w - s(10), s(37));
    l.minimizeButtonRect = makeRect(w - s(82), s(9), w - s(48), s(37));
    l.menuButtonRect = makeRect(w - s(120), s(9), w - s(86), s(37));
    l.titleRect = makeRect(m, s(9), m + s(250), s(37));
    const int32_t k = l.actionBarRect.bottom + s(12);
    l.notesRect = makeRect(m, k, w - m - s(12) - s(330), h - m);
    l.serverRect = makeRect(w - m - s(330), k, w - m, h - m);
    return l;
}

ProgressBox progressBox(const WindowLayout& layout, int32_t dpi) {
    const Rect& a = layout.actionBarRect;
    ProgressBox box;
    box.left = layout.mainButtonRect.right + scaledAt(30, dpi);
    box.top = a.top - scaledAt(8, dpi);
    box.right = a.right - scaledAt(270, dpi);
    return box;
}

Rect progressArea(const WindowLayout& layout, int32_t dpi) {
    const ProgressBox box = progressBox(layout, dpi);
    const int32_t slack = scaledAt(2, dpi);
    return makeRect(box.left - slack, box.top + scaledAt(22, dpi) - slack, box.right + slack,
                    box.top + scaledAt(90, dpi) + slack);
}

Rect serverStatusBox(const WindowLayout& layout, int32_t dpi) {
    const Rect& r = layout.serverRect;
    const int32_t top = r.top + scaledAt(62, dpi) + scaledAt(74, dpi) + scaledAt(16, dpi);
    return makeRect(r.left + scaledAt(22, dpi), top, r.right - scaledAt(22, dpi), r.bottom - scaledAt(14, dpi));
}

HitItem hitTestItem(const WindowLayout& layout, int32_t x, int32_t y) {
    if (layout.mainButtonRect.contains(x, y)) return MainButton;
    if (layout.minimizeButtonRect.contains(x, y)) return MinimizeButton;
    if (layout.closeButtonRect.contains(x, y)) return CloseButton;
    if (layout.menuButtonRect.contains(x, y)) return MenuButton;
    return None;
}
