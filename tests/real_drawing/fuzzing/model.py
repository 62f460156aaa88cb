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
        self.page = self.area = None  # an atlas cell's page, and its area (x, y, w, h) there
        self.mipmapped = False  # raylib's set_texture_filter would then sample its mipmaps, made once

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


IDENTITY = (1.0, 0.0, 0.0, 1.0, 0.0, 0.0)  # (a, b, c, d, e, f): x' = a x + c y + e, y' = b x + d y + f


def compose(outer, inner):
    """The affine map that applies `inner`, then `outer`."""
    a1, b1, c1, d1, e1, f1 = outer
    a2, b2, c2, d2, e2, f2 = inner
    return (
        a1 * a2 + c1 * b2,
        b1 * a2 + d1 * b2,
        a1 * c2 + c1 * d2,
        b1 * c2 + d1 * d2,
        a1 * e2 + c1 * f2 + e1,
        b1 * e2 + d1 * f2 + f1,
    )


def translation(x, y):
    return (1.0, 0.0, 0.0, 1.0, float(x), float(y))


def scaling(x, y):
    return (float(x), 0.0, 0.0, float(y), 0.0, 0.0)


def rotation(degrees):
    """A turn by `degrees` (clockwise as drawn, y pointing down), exact for quarter turns."""
    quarter = degrees / 90
    if quarter == int(quarter):
        cos, sin = [(1, 0), (0, 1), (-1, 0), (0, -1)][int(quarter) % 4]
    else:
        cos, sin = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return (float(cos), float(sin), float(-sin), float(cos), 0.0, 0.0)


class Look:
    """What a scope draws with, as the model needs it: its clip (x0, y0, x1, y1)
    in the target's pixels or None, its shader ("magenta", "gbra" or None),
    rlgl's transform of its vertices, and whether a 3D mode makes its drawing
    unknown."""

    def __init__(self, clip=None, shader=None, matrix=IDENTITY, unknown=False):
        self.clip, self.shader, self.matrix, self.unknown = clip, shader, matrix, unknown


PLAIN = Look()


class Window:
    """The part of a surface's picture a quad samples, in its pixels (rows top-down), mirrored or not."""

    def __init__(self, surface, x, y, w, h, mirror_x=False, mirror_y=False):
        self.surface, self.x, self.y, self.w, self.h = surface, x, y, w, h
        self.mirror_x, self.mirror_y = mirror_x, mirror_y


def sample(local, length, n, start, mirrored, size):
    """The texels (modulo `size`: textures repeat) that a local coordinate of
    a side of `length` samples from a window of `n` texels at `start`."""
    t = local / length * n
    at = start + (n - t if mirrored else t)
    k = round(at)
    if abs(at - k) < EDGE:  # on a boundary: either texel
        return ((k - 1) % size, k % size)
    return (math.floor(at) % size,)


def draw_quad(dst, matrix, w, h, window, tint, mode, look=PLAIN):
    """raylib's textured quad: the local rectangle [0, w) x [0, h), mapped into
    dst by `matrix`, showing `window`, tinted, blended in `mode`, as `look` says."""
    if w <= 0 or h <= 0:
        return
    x0, y0, x1, y1 = look.clip if look.clip is not None else (0, 0, dst.w, dst.h)
    x0, y0, x1, y1 = max(0, x0), max(0, y0), min(dst.w, x1), min(dst.h, y1)
    if look.unknown:  # a 3D camera: whatever lies in the clip may change
        for j in range(y0, y1):
            at = (j * dst.w + x0) * 4
            dst.lo[at : at + (x1 - x0) * 4] = [0.0] * ((x1 - x0) * 4)
            dst.hi[at : at + (x1 - x0) * 4] = [255.0] * ((x1 - x0) * 4)
        return
    a, b, c, d, e, f = matrix
    det = a * d - b * c
    if det <= 0:  # mirrored quads face away and are culled; flat ones cover nothing
        return
    # A pixel centre's distance to an edge is its local distance times these.
    across_u, across_v = det / math.hypot(c, d), det / math.hypot(a, b)
    tint = tint or (255, 255, 255, 255)
    exact_factors = all(t in (0, 255) for t in tint)
    src = window.surface
    lo, hi = list(dst.lo), list(dst.hi)
    for j in range(y0, y1):
        cy = j + 0.5 - f
        for i in range(x0, x1):
            cx = i + 0.5 - e
            u, v = (d * cx - c * cy) / det, (a * cy - b * cx) / det
            near_u = min(abs(u), abs(u - w)) * across_u < EDGE
            near_v = min(abs(v), abs(v - h)) * across_v < EDGE
            if not (near_u or 0 <= u < w) or not (near_v or 0 <= v < h):
                continue
            at = (j * dst.w + i) * 4
            before = [(dst.lo[at + k], dst.hi[at + k]) for k in range(4)]
            # Each possible texel, and the pixel as it was when it may be left out.
            outcomes = [before] if (near_u or near_v) else []
            columns = sample(u, w, window.w, window.x, window.mirror_x, src.w)
            for ty in sample(v, h, window.h, window.y, window.mirror_y, src.h):
                for tx in columns:
                    st = (ty * src.w + tx) * 4
                    outcomes.append(
                        blend_pixel(
                            mode, src.lo[st : st + 4], src.hi[st : st + 4], before, tint, exact_factors, look.shader
                        )
                    )
            for k in range(4):
                lo[at + k] = min(o[k][0] for o in outcomes)
                hi[at + k] = max(o[k][1] for o in outcomes)
    dst.lo, dst.hi = lo, hi


def composite(dst, src, upright, x, y, w, h, tint, mode, look=PLAIN):
    """Draw `src`'s picture (mirrored unless `upright`) into dst's rectangle (x, y, w, h)."""
    window = Window(src, 0, 0, src.w, src.h, mirror_y=not upright)
    draw_quad(dst, compose(look.matrix, translation(x, y)), w, h, window, tint, mode, look)


def blend_pixel(mode, s_lo, s_hi, d, tint, exact_factors, shader=None):
    s = [(s_lo[c] * tint[c] / 255, s_hi[c] * tint[c] / 255) for c in range(4)]
    if shader == "magenta":  # whatever is drawn, opaque magenta
        s, exact_factors = [(255.0, 255.0), (0.0, 0.0), (255.0, 255.0), (255.0, 255.0)], True
    elif shader == "gbra":  # the tinted texel, its colour channels turned
        s = [s[1], s[2], s[0], s[3]]
    a0, a1 = s[3]
    exact = exact_factors and a0 == a1 and a0 in (0, 255)
    if mode == 2:
        exact = exact and all(s[c][0] == s[c][1] and s[c][0] in (0, 255) for c in range(3))
    slack = 0.0 if exact else SLACK
    return [blend_channel(mode, s[c][0], s[c][1], a0, a1, d[c][0], d[c][1], slack) for c in range(4)]


def fill_rect(dst, x, y, w, h, color, mode, look=PLAIN):
    """raylib's draw_rectangle: the colour blended into [x, x+w) x [y, y+h). A
    negative size mirrors the quad, which then faces away unless the
    transform mirrors it back."""
    solid = Surface("", "tex", 1, 1)
    solid.fill(color)
    place = compose(look.matrix, compose(translation(x, y), scaling(-1 if w < 0 else 1, -1 if h < 0 else 1)))
    draw_quad(dst, place, abs(w), abs(h), Window(solid, 0, 0, 1, 1), None, mode, look)


def fill_clip(dst, color, clip):
    """A clear: every pixel within `clip` (all when None) set to `color`, unblended."""
    x0, y0, x1, y1 = clip if clip is not None else (0, 0, dst.w, dst.h)
    x0, y0, x1, y1 = max(0, x0), max(0, y0), min(dst.w, x1), min(dst.h, y1)
    values = [float(c) for c in color]
    for j in range(y0, y1):
        for i in range(x0, x1):
            at = (j * dst.w + i) * 4
            dst.lo[at : at + 4] = values
            dst.hi[at : at + 4] = values
