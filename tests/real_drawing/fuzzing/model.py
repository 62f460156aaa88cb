"""The fuzzer's model of the pixels: per target and texture, per pixel and
channel, the interval its value must lie in, and the compositor that moves
those intervals as the real stack draws."""

from __future__ import annotations

import math

# llvmpipe blends in 8 bits: a blended channel lies within 1.6 of the exact
# value (measured over each mode and random tints). An exact operation (a
# clear, or only 0/255 factors) is compared exactly; one blend within +-2.
SLACK = 1.75
TOLERANCE = 0.25
EDGE = 0.01  # a pixel centre this close to an edge or texel boundary may fall either way

OPAQUE = [
    (255, 0, 0, 255),
    (0, 255, 0, 255),
    (0, 0, 255, 255),
    (255, 255, 255, 255),
    (0, 0, 0, 255),
    (200, 120, 40, 255),
    (17, 99, 230, 255),
]
TRANSLUCENT = [(0, 0, 0, 0), (255, 0, 0, 128), (40, 200, 90, 77), (250, 250, 250, 3), (90, 30, 160, 200)]
TINTS = [
    (255, 0, 255, 255),
    (0, 255, 255, 255),
    (255, 255, 255, 0),
    (128, 200, 64, 255),
    (255, 255, 255, 128),
    (30, 60, 90, 120),
]


class Divergence(Exception):
    """The real stack did something else than the model says."""


class Surface:
    """One GPU object: a render texture (kind "rt") or a texture made from an image ("tex").

    `lo`/`hi` bound each channel of each pixel, row 0 being y = 0 as drawn
    for a render texture and the image's first row for a texture."""

    def __init__(self, name, kind, w, h):
        self.name, self.kind, self.w, self.h = name, kind, w, h
        self.lo = [0.0] * (w * h * 4)
        self.hi = [255.0] * (w * h * 4)
        self.dead = None  # why it died
        self.pending = False  # unreachable, released at the window's next call

    def fill(self, color):
        self.lo = [float(c) for c in color] * (self.w * self.h)
        self.hi = list(self.lo)

    def part(self, x, y, w, h):
        """The surface holding exactly its area (x, y, w, h), whole pixels."""
        part = Surface(self.name, self.kind, w, h)
        part.lo, part.hi = [], []
        for row in range(y, y + h):
            at = (row * self.w + x) * 4
            part.lo += self.lo[at : at + w * 4]
            part.hi += self.hi[at : at + w * 4]
        return part


class Handle:
    """A name the driver holds: a KlRenderTexture, or a Texture."""

    def __init__(self, name, obj, surface, sw, sh, loaded=True):
        self.name, self.obj, self.surface = name, obj, surface
        self.sw, self.sh = sw, sh  # the size the target was made with (fractional ones too)
        self.loaded = loaded


def blend_channel(mode, s0, s1, a0, a1, d0, d1, slack):
    """The interval of a blended channel: source [s0, s1] with alpha [a0, a1]
    (both after the tint) over destination [d0, d1]. Every mode but
    subtraction rises with the source and the destination, and is linear in
    the alpha: its bounds lie at the corners."""
    if mode >= 6:  # the custom modes with raylib's default factors: zero and zero
        return 0.0, 0.0
    if mode == 3:
        lo, hi = s0 + d0, s1 + d1
    elif mode == 4:
        lo, hi = s0 - d1, s1 - d0
    else:
        f = BLENDS[mode]
        lo = min(f(s0, a0, d0), f(s0, a1, d0))
        hi = max(f(s1, a0, d1), f(s1, a1, d1))
    return max(0.0, min(255.0, lo) - slack), min(255.0, max(0.0, hi) + slack)


BLENDS = {
    0: lambda s, a, d: s * a / 255 + d * (1 - a / 255),  # alpha
    1: lambda s, a, d: s * a / 255 + d,  # additive
    2: lambda s, a, d: s * d / 255 + d * (1 - a / 255),  # multiplied
    5: lambda s, a, d: s + d * (1 - a / 255),  # alpha premultiplied
}


def axis(n_dst, start, length, n_src):
    """Per destination pixel along one axis: None (not covered) or (texels
    it may sample, whether it may be left uncovered)."""
    out = []
    for i in range(n_dst):
        c = i + 0.5
        near = abs(c - start) < EDGE or abs(c - (start + length)) < EDGE
        if not near and not start <= c < start + length:
            out.append(None)
            continue
        u = (c - start) / length * n_src
        k = round(u)
        # On a boundary either texel; raylib's textures repeat, so at an outer
        # edge the texel of the other edge may show.
        texels = {(k - 1) % n_src, k % n_src} if abs(u - k) < EDGE else {math.floor(u) % n_src}
        out.append((tuple(texels), near))
    return out


def composite(dst, src, upright, x, y, w, h, tint, mode):
    """Draw `src`'s picture (mirrored unless `upright`) into dst's rectangle (x, y, w, h)."""
    if w <= 0 or h <= 0:
        return
    tint = tint or (255, 255, 255, 255)
    exact_factors = all(t in (0, 255) for t in tint)
    columns = axis(dst.w, x, w, src.w)
    rows = axis(dst.h, y, h, src.h)
    lo, hi = list(dst.lo), list(dst.hi)
    for j, row in enumerate(rows):
        if row is None:
            continue
        for i, column in enumerate(columns):
            if column is None:
                continue
            at = (j * dst.w + i) * 4
            d = [(dst.lo[at + c], dst.hi[at + c]) for c in range(4)]
            # Each possible texel, and the pixel as it was when it may be left out.
            outcomes = [d] if (row[1] or column[1]) else []
            for ty in row[0]:
                py = ty if upright else src.h - 1 - ty
                for tx in column[0]:
                    st = (py * src.w + tx) * 4
                    outcomes.append(blend_pixel(mode, src.lo[st : st + 4], src.hi[st : st + 4], d, tint, exact_factors))
            for c in range(4):
                lo[at + c] = min(o[c][0] for o in outcomes)
                hi[at + c] = max(o[c][1] for o in outcomes)
    dst.lo, dst.hi = lo, hi


def blend_pixel(mode, s_lo, s_hi, d, tint, exact_factors):
    a0, a1 = s_lo[3] * tint[3] / 255, s_hi[3] * tint[3] / 255
    exact = exact_factors and a0 == a1 and a0 in (0, 255)
    if mode == 2:
        exact = exact and all(s_lo[c] == s_hi[c] and s_lo[c] in (0, 255) for c in range(3))
    slack = 0.0 if exact else SLACK
    return [
        blend_channel(mode, s_lo[c] * tint[c] / 255, s_hi[c] * tint[c] / 255, a0, a1, d[c][0], d[c][1], slack)
        for c in range(4)
    ]


def fill_rect(dst, x, y, w, h, color, mode):
    """raylib's draw_rectangle: the colour blended into [x, x+w) x [y, y+h)."""
    solid = Surface("", "tex", 1, 1)
    solid.fill(color)
    composite(dst, solid, True, x, y, w, h, None, mode)
