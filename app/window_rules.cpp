#include "app/window_rules.h"

#include <algorithm>

FrameHit frameHitTest(const WindowLayout& layout, int32_t x, int32_t y, int32_t dpi) {
    const int32_t e = scaledAt(6, dpi), w = layout.clientWidth, h = layout.clientHeight;
    const bool left = x < e, right = x >= w - e, top = y < e, bottom = y >= h - e;
    if (top && left) return FrameHit::TopLeft;
    if (top && right) return FrameHit::TopRight;
    if (bottom && left) return FrameHit::BottomLeft;
    if (bottom && right) return FrameHit::BottomRight;
    if (top) return FrameHit::Top;
    if (bottom) return FrameHit::Bottom;
    if (left) return FrameHit::Left;
    if (right) return FrameHit::Right;
    if (y < layout.titleBarHeight && hitTestItem(layout, x, y) == None) return FrameHit::Caption;
    if (layout.bannerRect.contains(x, y)) return FrameHit::Caption;
    return FrameHit::Client;
}

WindowPlacement initialPlacement(int32_t dpi, const Rect& workArea) {
    WindowPlacement p;
    p.width = std::min(scaledAt(1040, dpi), workArea.width());
    p.height = std::min(scaledAt(640, dpi), workArea.height());
    p.x = workArea.left + (workArea.width() - p.width) / 2;
    p.y = workArea.top + (workArea.height() - p.height) / 2;
    return p;
}

int32_t wheelScrolled(int32_t scroll, int32_t delta, int32_t dpi) {
    const int64_t step = static_cast<int64_t>(delta) * scaledAt(60, dpi) / -120;  // truncated toward zero
    const int64_t next = static_cast<int64_t>(scroll) + step;
    // The next paint clamps; here only the range of the field is kept.
    return static_cast<int32_t>(std::clamp<int64_t>(next, INT32_MIN, INT32_MAX));
}

double smoothedSpeed(double previous, int64_t delta, bool downloading) {
    if (!downloading || delta < 0) return 0.0;
    if (previous == 0.0) return static_cast<double>(delta);
    return 0.3 * static_cast<double>(delta) + 0.7 * previous;
}

float advancedSpinner(float angle) {
    float next = angle + 9.0f;
    return next >= 360.0f ? next - 360.0f : next;
}

Rect spinnerArea(const WindowLayout& layout, int32_t dpi) {
    const Rect& b = layout.mainButtonRect;
    const int32_t grow = scaledAt(12, dpi);
    return Rect{b.left - grow, b.top - grow, b.right + grow, b.bottom + grow};
}

Rect spinnerTickArea(const WindowLayout& layout, const UiState& ui, int32_t dpi) {
    const Rect box{ui.spinnerBox[0], ui.spinnerBox[1], ui.spinnerBox[2], ui.spinnerBox[3]};
    return box.width() > 0 && box.height() > 0 ? box : spinnerArea(layout, dpi);
}
