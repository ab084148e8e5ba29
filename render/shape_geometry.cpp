#include "render/shape_geometry.h"

#include <algorithm>

namespace {

// Inside the continuous shape (pixel i covers i .. i + 1).
bool contains(const RoundedBox& s, double px, double py) {
    const double c = (s.radius >= 2 ? 2 * s.radius : 2) / 2.0;
    const double left = s.x, top = s.y, right = s.x + s.w - 1.0, bottom = s.y + s.h - 1.0;
    if (px < left || px > right || py < top || py > bottom) return false;
    const double nx = std::clamp(px, left + c, std::max(left + c, right - c));
    const double ny = std::clamp(py, top + c, std::max(top + c, bottom - c));
    return (px - nx) * (px - nx) + (py - ny) * (py - ny) <= c * c;
}

}  // namespace

bool roundedBoxMisses(const RoundedBox& shape, const Rect& area) {
    // One pixel of slack on every side for anti-aliasing.
    return area.right <= shape.x - 1 || area.left >= shape.x + shape.w + 1 || area.bottom <= shape.y - 1 ||
           area.top >= shape.y + shape.h + 1;
}

bool roundedBoxCovers(const RoundedBox& shape, const Rect& area) {
    if (area.width() <= 0 || area.height() <= 0) return false;
    // The corners of the area grown by one pixel: a convex shape holding
    // them holds the whole area, away from any anti-aliased edge.
    const double l = area.left - 1.0, t = area.top - 1.0, r = area.right + 1.0, b = area.bottom + 1.0;
    return contains(shape, l, t) && contains(shape, r, t) && contains(shape, l, b) && contains(shape, r, b);
}

RoundedBox insetRoundedBox(const RoundedBox& shape, int32_t inset) {
    RoundedBox s = shape;
    s.x += inset;
    s.y += inset;
    s.w -= 2 * inset;
    s.h -= 2 * inset;
    s.radius = std::max(0, s.radius - inset);
    return s;
}
