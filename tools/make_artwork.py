#!/usr/bin/python3
"""Makes Tervalon's artwork: the key art banner, the window backdrop, the
emblem and the program icon, written to resources/.

    /usr/bin/python3 tools/make_artwork.py [--out DIR] [--preview DIR]

--preview also writes PNGs to look at: the banner as the window crops it
at its smallest and widest, and every icon size on dark and light.

Needs Debian's python3-pil and python3-numpy (apt-get install python3-pil
python3-numpy). Deterministic: a fixed seed, no fonts, no input files. The
results are committed, so a build never runs this.
"""

import argparse
import io
import os
import struct

import numpy as np
from PIL import Image, ImageDraw, ImageFilter

BANNER_W, BANNER_H = 3400, 1000
CX = BANNER_W // 2          # the focal point stays central: every crop keeps it
SUN_Y = 600
HORIZON_Y = 660
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 128, 256)


# ---- noise and colour helpers -------------------------------------------

def fractal_line(rng, width, octaves):
    """1-D fractal noise in about -1..1: octaves of (cells, weight)."""
    out = np.zeros(width)
    for cells, weight in octaves:
        knots = rng.uniform(-1, 1, cells + 3)
        xs = np.linspace(0, cells, width)
        i = np.floor(xs).astype(int)
        f = xs - i
        f = f * f * (3 - 2 * f)
        out += weight * (knots[i] * (1 - f) + knots[i + 1] * f)
    return out


def fractal_field(rng, width, height, octaves):
    """2-D value noise in 0..1, smooth, from upscaled random grids."""
    out = np.zeros((height, width))
    total = 0.0
    for cells_x, cells_y, weight in octaves:
        grid = rng.uniform(0, 1, (cells_y, cells_x)).astype(np.float32)
        img = Image.fromarray(grid, mode="F").resize((width, height), Image.BICUBIC)
        out += weight * np.asarray(img)
        total += weight
    return np.clip(out / total, 0, 1)


def ramp(t, stops):
    """Colour at t (array) along a list of (position, (r, g, b))."""
    t = np.clip(t, 0, 1)
    pos = np.array([p for p, _ in stops])
    out = np.empty(t.shape + (3,))
    for c in range(3):
        out[..., c] = np.interp(t, pos, [col[c] for _, col in stops])
    return out


def smoothstep(a, b, x):
    t = np.clip((x - a) / (b - a), 0, 1)
    return t * t * (3 - 2 * t)


def hexrgb(value):
    return ((value >> 16) & 255) / 255.0, ((value >> 8) & 255) / 255.0, (value & 255) / 255.0


def to_image(rgb):
    return Image.fromarray((np.clip(rgb, 0, 1) * 255 + 0.5).astype(np.uint8), "RGB")


def mask_from_polygons(width, height, polygons, scale=4):
    """Anti-aliased coverage (0..1) of polygons given in output pixels.
    Each item is (points, fill) with fill 255 to add and 0 to cut."""
    big = Image.new("L", (width * scale, height * scale), 0)
    draw = ImageDraw.Draw(big)
    for points, fill in polygons:
        draw.polygon([(x * scale, y * scale) for x, y in points], fill=fill)
    small = big.resize((width, height), Image.LANCZOS)
    return np.asarray(small).astype(np.float64) / 255.0


# ---- the title: TERVALON in hand-drawn capitals -------------------------

def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


# Capitals on a 100-unit cap height, 18-unit strokes, with clipped corners
# that give the name its cut-stone look. Each glyph: width, [(poly, fill)].
GLYPHS = {
    "T": (84, [(rect(0, 0, 84, 18), 255), (rect(33, 0, 51, 100), 255)]),
    "E": (70, [(rect(0, 0, 18, 100), 255), (rect(0, 0, 70, 18), 255),
               (rect(0, 41, 58, 59), 255), (rect(0, 82, 70, 100), 255)]),
    "R": (76, [([(0, 0), (58, 0), (74, 16), (74, 42), (58, 58), (0, 58)], 255),
               ([(18, 18), (50, 18), (56, 24), (56, 34), (50, 40), (18, 40)], 0),
               (rect(0, 0, 18, 100), 255),
               ([(36, 52), (56, 52), (76, 100), (56, 100)], 255)]),
    "V": (84, [([(0, 0), (20, 0), (42, 76), (64, 0), (84, 0), (52, 100), (32, 100)], 255)]),
    "A": (84, [([(32, 0), (52, 0), (84, 100), (64, 100), (42, 26), (20, 100), (0, 100)], 255),
               (rect(26, 64, 58, 80), 255)]),
    "L": (64, [(rect(0, 0, 18, 100), 255), (rect(0, 82, 64, 100), 255)]),
    "O": (84, [([(20, 0), (64, 0), (84, 20), (84, 80), (64, 100), (20, 100), (0, 80), (0, 20)], 255),
               ([(27, 18), (57, 18), (66, 27), (66, 73), (57, 82), (27, 82), (18, 73), (18, 27)], 0)]),
    "N": (80, [(rect(0, 0, 18, 100), 255), (rect(62, 0, 80, 100), 255),
               ([(0, 0), (20, 0), (80, 100), (60, 100)], 255)]),
}


def title_polygons(text, cap_height, tracking, centre_x, top):
    unit = cap_height / 100.0
    widths = [GLYPHS[c][0] for c in text]
    total = (sum(widths) + tracking * (len(text) - 1)) * unit
    x = centre_x - total / 2
    out = []
    for c in text:
        width, parts = GLYPHS[c]
        for points, fill in parts:
            out.append(([(x + px * unit, top + py * unit) for px, py in points], fill))
        x += (width + tracking) * unit
    return out, total


def draw_title(rgb, cap_height, centre_y):
    h, w, _ = rgb.shape
    top = centre_y - cap_height / 2
    polys, _ = title_polygons("TERVALON", cap_height, 34, w / 2, top)
    cover = mask_from_polygons(w, h, polys)
    cover_img = Image.fromarray((cover * 255).astype(np.uint8), "L")
    # A soft dark halo lifts the letters off the sky, then a warm glow.
    shadow = np.asarray(cover_img.filter(ImageFilter.GaussianBlur(cap_height * 0.18))) / 255.0
    glow = np.asarray(cover_img.filter(ImageFilter.GaussianBlur(cap_height * 0.45))) / 255.0
    rgb *= 1 - 0.55 * shadow[..., None]
    rgb += 0.35 * glow[..., None] * np.array(hexrgb(0xFFB04A))
    # Gold, pale at the top and deep at the bottom, with a bright bevel line.
    ys = (np.arange(h)[:, None] - top) / cap_height
    fill = ramp(np.broadcast_to(ys, (h, w)), [(0.0, hexrgb(0xFFF6DC)), (0.45, hexrgb(0xFFD98A)),
                                              (0.55, hexrgb(0xE9A640)), (1.0, hexrgb(0xB8641E))])
    edge = np.clip(cover - np.asarray(cover_img.filter(ImageFilter.MinFilter(5))) / 255.0, 0, 1)
    fill = fill * (1 - 0.35 * edge[..., None])
    rgb[:] = rgb * (1 - cover[..., None]) + fill * cover[..., None]


# ---- the key art ----------------------------------------------------------

def sky(rng, w, h):
    ys = np.arange(h)[:, None] / h
    rgb = ramp(np.broadcast_to(ys, (h, w)), [
        (0.00, hexrgb(0x070A1E)), (0.22, hexrgb(0x141536)), (0.40, hexrgb(0x3A2152)),
        (0.52, hexrgb(0x8C3A5A)), (0.60, hexrgb(0xD86A4A)), (0.66, hexrgb(0xFFB060)),
        (0.72, hexrgb(0xFFD890)), (1.00, hexrgb(0xFFE0A0))]).copy()
    yy, xx = np.mgrid[0:h, 0:w]
    dx, dy = (xx - CX) / 1.0, (yy - SUN_Y) * 1.6
    dist = np.sqrt(dx * dx + dy * dy)
    warm = np.array(hexrgb(0xFFC070))
    rgb += warm * (0.55 * np.exp(-dist / 260) + 0.30 * np.exp(-dist / 900))[..., None]
    rgb += np.array([1.0, 0.96, 0.85]) * (np.exp(-(dist / 70) ** 2) * 1.2)[..., None]
    # Rays: the glow broken up by angle, strongest near the sun.
    angle = np.arctan2(yy - SUN_Y, xx - CX)
    rays = np.zeros_like(angle)
    for k in range(6):
        rays += rng.uniform(0.3, 1.0) * np.sin(angle * rng.integers(7, 23) + rng.uniform(0, 6.28))
    rays = np.clip(rays / 3.0, 0, 1) * np.exp(-dist / 1100) * (yy < SUN_Y + 40)
    rgb += 0.22 * rays[..., None] * warm
    # Stars where the sky is dark enough to show them.
    n = 1400
    sx = rng.integers(0, w, n)
    sy = (rng.uniform(0, 1, n) ** 1.6 * h * 0.5).astype(int)
    bright = rng.uniform(0.25, 1.0, n) * (1 - sy / (h * 0.5)) ** 1.5
    for x, y, b in zip(sx, sy, bright):
        rgb[y, x] += b * 0.9
        if b > 0.6:
            for ox, oy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                if 0 <= x + ox < w:
                    rgb[y + oy, x + ox] += b * 0.25
    # Long clouds, lit from below near the sun.
    field = fractal_field(rng, w, h, [(9, 40, 1.0), (26, 90, 0.6), (70, 200, 0.3)])
    band = smoothstep(0.30, 0.42, ys) * (1 - smoothstep(0.52, 0.62, ys))
    density = np.clip((field - 0.52) * 3.2, 0, 1) * band
    lit = np.exp(-np.abs(xx - CX) / 1300)[..., None]
    cloud = np.array(hexrgb(0x5A2E58)) * (1 - lit) + np.array(hexrgb(0xFF9C6A)) * lit
    rgb[:] = rgb * (1 - 0.75 * density[..., None]) + 0.75 * density[..., None] * cloud
    return rgb


def ridge(rng, w, base, amp, valley, octaves):
    xs = np.arange(w)
    opening = 1 - np.exp(-((xs - CX) / valley) ** 2)  # lower towards the centre
    return base - amp * (0.35 + 0.65 * opening) * (0.55 + 0.45 * fractal_line(rng, w, octaves))


def paint_layer(rgb, top, colour, fog_colour, fog_depth, rim):
    h, w, _ = rgb.shape
    yy = np.arange(h)[:, None]
    depth = yy - top[None, :]
    inside = np.clip(depth + 0.5, 0, 1)  # a soft one-pixel edge
    fog = (1 - np.exp(-np.clip(depth, 0, None) / fog_depth))[..., None]
    layer = np.array(colour) * (1 - fog) + np.array(fog_colour) * fog
    if rim > 0:
        xs = np.arange(w)
        near_sun = np.exp(-np.abs(xs - CX) / 650)[None, :]
        edge = np.exp(-np.clip(depth, 0, None) / 2.5) * near_sun * rim
        layer = layer + edge[..., None] * np.array(hexrgb(0xFFC890))
    rgb[:] = rgb * (1 - inside[..., None]) + layer * inside[..., None]


def crag_outline(rng):
    """The crag under the citadel: steep, broken flanks and a flat crown."""
    c = CX
    left = [(c - 470, 1000), (c - 330, 840), (c - 250, 770), (c - 205, 735), (c - 170, 690),
            (c - 150, 668), (c - 128, 650)]
    right = [(c + 128, 650), (c + 150, 672), (c + 178, 700), (c + 230, 742), (c + 268, 790),
             (c + 350, 850), (c + 500, 1000)]

    def roughen(points):
        out = []
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            for t in np.linspace(0, 1, 7, endpoint=False):
                jitter = rng.uniform(-9, 9) if 0 < t else 0
                out.append((x0 + (x1 - x0) * t + jitter, y0 + (y1 - y0) * t + rng.uniform(-4, 4) * (t > 0)))
        return out + [points[-1]]

    return roughen(left) + roughen(right)


def citadel_polygons(rng):
    """The citadel of Tervalon on its crag, silhouetted against the sun."""
    c = CX
    polys = [(crag_outline(rng), 255)]
    # Curtain wall and keep.
    polys.append((rect(c - 140, 600, c + 140, 656), 255))
    polys.append((rect(c - 60, 520, c + 60, 610), 255))
    # Towers: (centre offset, half width, top, spire height).
    for dx, half, top, spire in ((-125, 16, 560, 62), (125, 16, 560, 62), (-78, 14, 540, 56),
                                 (78, 14, 540, 56), (0, 22, 450, 100), (-36, 10, 486, 50), (36, 10, 486, 50)):
        polys.append((rect(c + dx - half, top, c + dx + half, 656), 255))
        polys.append(([(c + dx - half - 4, top), (c + dx, top - spire), (c + dx + half + 4, top)], 255))
    # Crenels along the wall.
    for i in range(-7, 8):
        x = c + i * 18
        polys.append((rect(x - 5, 590, x + 5, 602), 255))
    return polys


def citadel(rgb, rng):
    h, w, _ = rgb.shape
    cover = mask_from_polygons(w, h, citadel_polygons(rng))
    yy = np.arange(h)[:, None]
    body = ramp(np.broadcast_to((yy - 350) / 650.0, (h, w)),
                [(0.0, hexrgb(0x2A1A30)), (0.4, hexrgb(0x1A1226)), (1.0, hexrgb(0x0C0A16))])
    rgb[:] = rgb * (1 - cover[..., None]) + body * cover[..., None]
    # Rim light where the sun grazes the silhouette.
    img = Image.fromarray((cover * 255).astype(np.uint8), "L")
    inner = np.asarray(img.filter(ImageFilter.MinFilter(5))) / 255.0
    rim = np.clip(cover - inner, 0, 1) * np.clip((800 - yy) / 120.0, 0, 1)
    rgb += 0.9 * rim[..., None] * np.array(hexrgb(0xFFB868))
    # Lit windows.
    for _ in range(46):
        x = int(CX + rng.uniform(-130, 130))
        y = int(rng.uniform(530, 640))
        if cover[y, x] > 0.99 and cover[y - 3, x] > 0.99 and cover[y + 4, x + 2] > 0.99:
            rgb[y:y + 4, x:x + 2] = np.array(hexrgb(0xFFC25A)) * rng.uniform(0.8, 1.2)
    return cover


def key_art():
    rng = np.random.default_rng(20261207)
    w, h = BANNER_W, BANNER_H
    rgb = sky(rng, w, h)
    haze = hexrgb(0xF3A27A)
    layers = [  # base, amplitude, valley width, colour, fog depth, rim
        (HORIZON_Y, 70, 500, hexrgb(0xB86A78), 60, 0.5),
        (HORIZON_Y + 40, 120, 600, hexrgb(0x7A4466), 70, 0.45),
        (HORIZON_Y + 95, 170, 700, hexrgb(0x4A2C52), 80, 0.35),
    ]
    for base, amp, valley, colour, fog_depth, rim in layers:
        top = ridge(rng, w, base, amp, valley, [(6, 1.0), (17, 0.45), (60, 0.18), (180, 0.06)])
        fog = tuple(0.55 * a + 0.45 * b for a, b in zip(colour, haze))
        paint_layer(rgb, top, colour, fog, fog_depth, rim)
    # A band of mist over the valley floor, behind the citadel.
    yy = np.arange(h)[:, None]
    xx = np.arange(w)[None, :]
    mist = np.exp(-((yy - 790) / 55.0) ** 2) * (0.6 + 0.4 * fractal_field(rng, w, h, [(12, 6, 1.0), (40, 12, 0.5)]))
    rgb[:] = rgb * (1 - 0.55 * mist[..., None]) + 0.55 * mist[..., None] * np.array(hexrgb(0xE8A08A))
    citadel(rgb, rng)
    near = [
        (880, 190, 900, hexrgb(0x24182E), 160, 0.25),
        (985, 150, 1100, hexrgb(0x110C1A), 300, 0.15),
    ]
    for base, amp, valley, colour, fog_depth, rim in near:
        top = ridge(rng, w, base, amp, valley, [(5, 1.0), (14, 0.5), (45, 0.2), (150, 0.08)])
        paint_layer(rgb, top, colour, tuple(0.8 * c + 0.2 * hz for c, hz in zip(colour, haze)), fog_depth, rim)
    # Vignette: darker corners keep the eye on the centre.
    vig = ((xx - CX) / (w * 0.62)) ** 2 + ((yy - 560) / (h * 0.9)) ** 2
    rgb *= np.clip(1.08 - 0.55 * vig, 0.35, 1)[..., None]
    scene = rgb.copy()
    draw_title(rgb, 124, 262)
    # Fine grain, so large gradients do not band in the JPEG.
    rgb += rng.normal(0, 0.006, rgb.shape)
    return to_image(rgb), to_image(scene)


def backdrop(scene):
    """The window's backdrop: the key art without its title, squeezed to
    the window's shape, blurred and dimmed."""
    w, h = 640, 367
    small = scene.resize((w, h), Image.LANCZOS).filter(ImageFilter.GaussianBlur(16))
    soft = np.asarray(small).astype(np.float64) / 255.0
    cool = np.array(hexrgb(0x1A2A44))
    rgb = soft * 0.42 + cool * 0.18
    ys = np.arange(h)[:, None, None] / h
    rgb *= 1.0 - 0.45 * ys  # darker towards the bottom, where the cards sit
    rng = np.random.default_rng(367)
    rgb += rng.normal(0, 0.004, rgb.shape)
    return to_image(rgb)


# ---- the emblem and the icon -------------------------------------------

def emblem(size):
    """Tervalon's emblem at `size` px: a gold-rimmed diamond holding the T
    of the citadel before a setting sun. From 24 px down the picture drops
    to rim, field and a heavier T, so it still reads at 16 px."""
    s = 8  # supersampling
    n = size * s
    c = n / 2
    small = size <= 24
    r = c - n * (0.015 if small else 0.03)
    inner = r * (0.78 if small else 0.80)

    def diamond(radius, dy=0.0):
        return [(c, c - radius + dy), (c + radius, c + dy), (c, c + radius + dy), (c - radius, c + dy)]

    def cover(polys):
        img = Image.new("L", (n, n), 0)
        draw = ImageDraw.Draw(img)
        for points in polys:
            draw.polygon(points, fill=255)
        return np.asarray(img).astype(np.float64) / 255.0

    yy, xx = np.mgrid[0:n, 0:n]
    v = (yy - (c - r)) / (2 * r)  # 0 at the top corner, 1 at the bottom
    rgba = np.zeros((n, n, 4))

    def lay(mask, colour):
        a = mask[..., None]
        rgba[..., :3] = rgba[..., :3] * (1 - a) + colour * a
        rgba[..., 3] = rgba[..., 3] * (1 - mask) + mask

    lay(cover([diamond(r)]), np.array(hexrgb(0x6E3A12)))
    gold = ramp(v, [(0.0, hexrgb(0xFFE6A8)), (0.5, hexrgb(0xE9AE52)), (1.0, hexrgb(0xA8601E))])
    lay(cover([diamond(r * 0.94)]), gold)
    field_mask = cover([diamond(inner)])
    if small:
        lay(field_mask, np.array(hexrgb(0x1A1834)))
    else:
        fv = (yy - (c - inner)) / (2 * inner)
        field = ramp(fv, [(0.0, hexrgb(0x12122C)), (0.45, hexrgb(0x2E1E46)), (0.70, hexrgb(0x8A3A50)),
                          (0.86, hexrgb(0xE8844A)), (1.0, hexrgb(0xFFC070))])
        sun_y = c + inner * 0.20
        dist = np.sqrt((xx - c) ** 2 + (yy - sun_y) ** 2) / inner
        field += (np.exp(-(dist / 0.22) ** 2) * 0.9 + np.exp(-dist / 0.35) * 0.35)[..., None] * \
            np.array(hexrgb(0xFFD08A))
        lay(field_mask, np.clip(field, 0, 1))
        # The crag, dark against the sun, cut to the field.
        crag = [(c - inner * 0.95, c + inner * 0.62), (c - inner * 0.42, c + inner * 0.34),
                (c - inner * 0.20, c + inner * 0.26), (c + inner * 0.20, c + inner * 0.26),
                (c + inner * 0.45, c + inner * 0.36), (c + inner * 0.95, c + inner * 0.62), (c, c + inner * 1.2)]
        lay(cover([crag]) * field_mask, np.array(hexrgb(0x140E22)))
    # The T, cut in gold.
    stroke = inner * (0.34 if small else 0.21)
    half_bar = inner * (0.56 if small else 0.50)
    bar_y = c - inner * (0.44 if small else 0.48)
    stem_bottom = c + inner * (0.66 if small else 0.60)
    t_polys = [[(c - half_bar, bar_y), (c + half_bar, bar_y), (c + half_bar, bar_y + stroke),
                (c - half_bar, bar_y + stroke)],
               [(c - stroke / 2, bar_y), (c + stroke / 2, bar_y), (c + stroke / 2, stem_bottom),
                (c, stem_bottom + stroke * 0.5), (c - stroke / 2, stem_bottom)]]
    t_mask = cover(t_polys)
    if not small:  # a dark edge lifts the T off the sunlit field
        halo = np.asarray(Image.fromarray((t_mask * 255).astype(np.uint8), "L")
                          .filter(ImageFilter.MaxFilter(2 * (s // 2) + 1))).astype(np.float64) / 255.0
        lay(halo * field_mask, np.array(hexrgb(0x120C1C)))
    t_gold = ramp(v, [(0.0, hexrgb(0xFFF4D6)), (0.5, hexrgb(0xFFD88C)), (1.0, hexrgb(0xE0A04C))])
    lay(t_mask, t_gold)
    if not small:  # the shaded right side of the stem
        shade = cover([[(c + stroke * 0.05, bar_y + stroke), (c + stroke / 2, bar_y + stroke),
                        (c + stroke / 2, stem_bottom), (c, stem_bottom + stroke * 0.5)]])
        lay(shade, np.array(hexrgb(0xC8842E)))
    big = Image.fromarray((np.clip(rgba, 0, 1) * 255 + 0.5).astype(np.uint8), "RGBA")
    return big.resize((size, size), Image.LANCZOS)


def stand_in_avatar(size=184):
    """A made-up player's avatar for the screenshot gallery: a hooded figure
    on a teal field. Not part of the program."""
    s = 4
    n = size * s
    img = Image.new("RGB", (n, n))
    yy, xx = np.mgrid[0:n, 0:n] / n
    field = ramp(yy, [(0.0, hexrgb(0x2E8C8A)), (1.0, hexrgb(0x123A4A))])
    field += (np.exp(-(((xx - 0.7) ** 2 + (yy - 0.25) ** 2) / 0.05)) * 0.25)[..., None]
    img = to_image(field)
    d = ImageDraw.Draw(img)
    d.ellipse([n * 0.18, n * 0.62, n * 0.82, n * 1.3], fill=(24, 26, 40))        # shoulders
    d.ellipse([n * 0.32, n * 0.24, n * 0.68, n * 0.66], fill=(24, 26, 40))       # hood
    d.ellipse([n * 0.39, n * 0.36, n * 0.61, n * 0.6], fill=(222, 170, 130))     # face
    d.polygon([(n * 0.5, n * 0.66), (n * 0.44, n * 0.9), (n * 0.56, n * 0.9)], fill=(236, 176, 84))  # clasp
    return img.resize((size, size), Image.LANCZOS)


def png_bytes(image):
    buf = io.BytesIO()
    image.save(buf, "PNG", optimize=True)
    return buf.getvalue()


def write_icon(path, images):
    """An .ico whose every image is a 32-bit PNG."""
    blobs = [png_bytes(img) for img in images]
    offset = 6 + 16 * len(blobs)
    out = struct.pack("<HHH", 0, 1, len(blobs))
    for img, blob in zip(images, blobs):
        side = img.size[0] if img.size[0] < 256 else 0
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def cover_crop(image, width, height):
    """The banner as the window shows it: scaled to cover, overflow cut."""
    scale = max(width / image.width, height / image.height)
    src_w, src_h = min(image.width, int(width / scale)), min(image.height, int(height / scale))
    left, top = (image.width - src_w) // 2, (image.height - src_h) // 2
    return image.crop((left, top, left + src_w, top + src_h)).resize((width, height), Image.BICUBIC)


def write_previews(folder, banner, icons):
    os.makedirs(folder, exist_ok=True)
    for width, height in ((868, 212), (1008, 265), (1888, 380)):  # banner cards at 96 DPI
        cover_crop(banner, width, height).save(os.path.join(folder, f"banner-{width}x{height}.png"))
    for name, colour in (("dark", (30, 34, 42, 255)), ("light", (236, 236, 236, 255))):
        sheet = Image.new("RGBA", (sum(ICON_SIZES) + 10 * len(ICON_SIZES) + 10, 276 + 100), colour)
        x = zoomed_x = 10
        for icon in icons:
            sheet.alpha_composite(icon, (x, 10))
            x += icon.width + 10
            if icon.width <= 40:  # small sizes again at 4x, pixel for pixel
                sheet.alpha_composite(icon.resize((icon.width * 4, icon.height * 4), Image.NEAREST),
                                      (zoomed_x, 366 - icon.height * 4))
                zoomed_x += icon.width * 4 + 10
        sheet.save(os.path.join(folder, f"icons-{name}.png"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "..", "resources"))
    parser.add_argument("--preview", help="also write PNGs to look at into this folder")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    banner, scene = key_art()
    banner.save(os.path.join(args.out, "default_banner.jpg"), "JPEG", quality=88, optimize=True,
                progressive=False, subsampling=0)
    backdrop(scene).save(os.path.join(args.out, "background.jpg"), "JPEG", quality=90, optimize=True,
                          progressive=False)
    icons = [emblem(size) for size in ICON_SIZES]
    logo = icons[ICON_SIZES.index(128)]
    with open(os.path.join(args.out, "logo.png"), "wb") as f:
        f.write(png_bytes(logo))
    write_icon(os.path.join(args.out, "tervalon.ico"), icons)
    stand_in_avatar().save(os.path.join(os.path.dirname(__file__), "gallery_avatar.png"), optimize=True)
    if args.preview:
        write_previews(args.preview, banner, icons)


if __name__ == "__main__":
    main()
