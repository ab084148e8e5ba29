// Where a rounded rectangle's fill reaches, so that a repaint of a small
// area fills only what that area needs. Pure: no <windows.h>.
#pragma once

#include <cstdint>

#include "render/layout.h"

// The shape of roundRectPath: its outline runs through x .. x + w - 1 and
// y .. y + h - 1, with corners of diameter 2r (2 when r < 2).
struct RoundedBox {
    int32_t x = 0, y = 0, w = 0, h = 0, radius = 0;
};

// No pixel of `area` can be touched by the filled shape, even anti-aliased.
bool roundedBoxMisses(const RoundedBox& shape, const Rect& area);

// Every pixel of `area` lies wholly inside the filled shape, so filling the
// shape there is filling the area.
bool roundedBoxCovers(const RoundedBox& shape, const Rect& area);

// The shape `inset` px smaller on every side, radius included.
RoundedBox insetRoundedBox(const RoundedBox& shape, int32_t inset);
