"""A seeded random driver of the real drawing stack, checked against a model of its pixels.

    python tests/real_drawing/fuzz_real.py --seed 7 --steps 2000     # one seed, in this process
    python tests/real_drawing/fuzz_real.py --seconds 60              # seed after seed, each in a child
    python tests/real_drawing/fuzz_real.py --seconds 60 --avoid clear-in-scope,fractional

Real windows (a private Xvfb with Mesa's llvmpipe: DISPLAY is dropped), real
render targets, textures made from images, scopes, blend modes, frames,
other threads, windows closed and opened again. Every render target and
texture has a model: per pixel and channel the interval its value must lie
in, computed by the model's own compositor. Pixels that no exact rule
predicts (a new target before its first clear, texel or edge boundaries
under a pixel centre) get wide intervals, and every read_rgba narrows them
again to what was read. After every operation the backend's open scopes and
current target must be the model's, and every `loaded` flag as expected.

What the model says (the formulas measured on the real stack):
- clear and fill set every pixel of their target to the colour (None is
  (0, 0, 0, 0)), unblended, above anything drawn before; fast_clear does it
  to the current target.
- A blit draws the source's picture (row 0 is y = 0 as drawn; a texture made
  from an image is stored the right way up, so flip=False shows it so, where
  flip=True shows a render target so) at its texture's own size at (x, y),
  or scaled into (x, y, w, h), nearest texel. A target of a fractional size
  has int(w) x int(h) pixels, and only those are drawn, the rectangle scaled
  by int(w) / w. A pixel centre on an edge or a texel boundary goes either way.
- Tints multiply each channel. Then, on every channel alpha included (s the
  tinted source, a its alpha / 255, d the pixel below), clamped to 0..255:
  mode 0 s*a + d*(1-a), 1 s*a + d, 2 s*d/255 + d*(1-a), 3 s + d, 4 s - d,
  5 s + d*(1-a), 6 and 7 (raylib's custom factors, zero by default) 0.
- fast_blit, fast_blit_texture, fast_blits and md.rl.draw_rectangle draw into
  the current target in the innermost blend mode; blit, blit_texture and
  blits into their own target in their own mode.
- Anything refused raises and changes nothing: no pixel, no open scope.

The first divergence ends the run: the seed, the step, the last operations
as Python and the expected against the read pixels. `--avoid` leaves out
classes of operations (see AVOIDABLE) to look past a fault already known.
"""

from __future__ import annotations

import argparse
import collections
import copy
import ctypes
import faulthandler
import gc
import math
import os
import random
import subprocess
import sys
import tempfile
import threading
import time
import warnings

# llvmpipe blends in 8 bits: a blended channel lies within 1.6 of the exact
# value (measured over each mode and random tints). An exact operation (a
# clear, or only 0/255 factors) is compared exactly; one blend within +-2.
SLACK = 1.75
TOLERANCE = 0.25
EDGE = 0.01  # a pixel centre this close to an edge or texel boundary may fall either way
WINDOW_SIZE = 64
MAX_HANDLES = 14

AVOIDABLE = {
    "clear-in-scope": "clears of the current target after drawing into it",
    "fractional": "targets of a fractional size",
    "failing-blits": "checked blits, clears, blits() and copies that fail",
    "blend-at-close": "closing the window with a blend mode open (they are ended first)",
    "stale-read": "GL is finished before each read, and a read whose re-read 50 ms later agrees is only counted",
}

OPAQUE = [(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255), (255, 255, 255, 255), (0, 0, 0, 255),
          (200, 120, 40, 255), (17, 99, 230, 255)]
TRANSLUCENT = [(0, 0, 0, 0), (255, 0, 0, 128), (40, 200, 90, 77), (250, 250, 250, 3), (90, 30, 160, 200)]
TINTS = [(255, 0, 255, 255), (0, 255, 255, 255), (255, 255, 255, 0), (128, 200, 64, 255), (255, 255, 255, 128),
         (30, 60, 90, 120)]


class Divergence(Exception):
    """The real stack did something else than the model says."""


# --- the model -----------------------------------------------------------------------------------------------

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
    0: lambda s, a, d: s * a / 255 + d * (1 - a / 255),    # alpha
    1: lambda s, a, d: s * a / 255 + d,                    # additive
    2: lambda s, a, d: s * d / 255 + d * (1 - a / 255),    # multiplied
    5: lambda s, a, d: s + d * (1 - a / 255),              # alpha premultiplied
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
                    outcomes.append(blend_pixel(mode, src.lo[st:st + 4], src.hi[st:st + 4], d, tint,
                                                exact_factors))
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
    return [blend_channel(mode, s_lo[c] * tint[c] / 255, s_hi[c] * tint[c] / 255, a0, a1, d[c][0], d[c][1], slack)
            for c in range(4)]


def fill_rect(dst, x, y, w, h, color, mode):
    """raylib's draw_rectangle: the colour blended into [x, x+w) x [y, y+h)."""
    solid = Surface("", "tex", 1, 1)
    solid.fill(color)
    composite(dst, solid, True, x, y, w, h, None, mode)


# --- the driver ------------------------------------------------------------------------------------------------

def fmt(value):
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    if isinstance(value, tuple):
        return "(" + ", ".join(fmt(v) for v in value) + ("," if len(value) == 1 else "") + ")"
    if isinstance(value, list):
        return "[" + ", ".join(fmt(v) for v in value) + "]"
    if isinstance(value, Handle):
        return value.name
    return repr(value)


def call_text(head, args=(), kwargs=None):
    parts = [fmt(a) for a in args] + [f"{k}={fmt(v)}" for k, v in (kwargs or {}).items()]
    return f"{head}({', '.join(parts)})"


def in_thread(work):
    """Run `work` on another thread; its exception as (type, message, notes), or None."""
    outcome = []

    def run():
        try:
            work()
        except BaseException as error:  # noqa: BLE001 - handed back to the window's thread
            outcome.append((type(error), str(error)))
        else:
            outcome.append(None)

    thread = threading.Thread(target=run)
    thread.start()
    thread.join(30)
    if thread.is_alive():
        raise Divergence("a call on another thread has not returned after 30 s")
    return outcome[0]


class Fuzzer:
    def __init__(self, seed, avoid=(), strict=False, trail=None):
        import kelo_ui.window as window_module
        from kelo_ui.core import modules as md
        from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
        from kelo_ui.fast.klvector2.klvector2 import KlVector2
        from kelo_ui.fast.raylib import kelo_raylib
        from kelo_ui.presentation.pixels import read_rgba

        self.wm, self.md, self.KlRenderTexture, self.KlVector2 = window_module, md, KlRenderTexture, KlVector2
        self.kelo_raylib, self.read_rgba, self.context = kelo_raylib, read_rgba, window_module.context
        self.seed = seed
        self.rng = random.Random(seed)
        self.avoid = set(avoid)
        self.strict = strict
        self.trail = open(trail, "w") if trail else None  # every operation as it starts: for a crash or a hang
        self.step = 0
        self.log = []
        self.handles = {}  # name -> Handle
        self.surfaces = []  # every surface of the open window
        self.targets = []  # the texture-mode scope stack: surfaces
        self.blends = []  # the blend-mode scope stack
        self.drawn_in_current = False  # something drawn into the current target since it became current
        self.window = None
        self.in_frame = False
        self.counter = 0
        self.indent = ""  # inside a frame
        self.stats = collections.Counter()
        self.unraisable = []
        # Past the known stale read: the GL driver finishes its drawing before each read.
        self.finish = ctypes.CDLL("libGL.so.1").glFinish if "stale-read" in self.avoid else (lambda: None)
        sys.unraisablehook = lambda report: self.unraisable.append(
            f"{report.exc_type.__name__}: {report.exc_value} ({report.err_msg})")

    # --- bookkeeping ------------------------------------------------------------------------------------------

    def say(self, line):
        self.log.append(self.indent + line)
        if self.trail:
            self.trail.write(self.indent + line + "\n")
            self.trail.flush()

    def name(self, prefix):
        self.counter += 1
        return f"{prefix}{self.counter}"

    def current(self):
        """The surface drawing goes to (the innermost live scope), or None: the window."""
        for surface in reversed(self.targets):
            if surface.dead is None:
                return surface
        return None

    def set_targets(self, targets):
        before = self.current()
        self.targets = targets
        if self.current() is not before:
            self.drawn_in_current = False

    def rts(self, live=None):
        return [h for h in self.handles.values() if h.surface.kind == "rt"
                and (live is None or (h.loaded and h.surface.dead is None) == live)]

    def textures(self, live=None):
        return [h for h in self.handles.values() if h.surface.kind == "tex"
                and (live is None or (h.surface.dead is None) == live)]

    def kill_surface(self, surface, reason):
        if surface.dead is None:
            surface.dead = reason
            if surface is self.current():
                self.drawn_in_current = False

    def run(self, line, work, error=None, match=None, notes=None, warning=None):
        """Run `work` (shown as `line`): it must raise `error` (a type or tuple)
        with `match` in its message and `notes` as its notes, or succeed; the
        only warning it may give is `warning` (a message part)."""
        self.say(line)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                result = work()
            except Exception as exc:  # noqa: BLE001 - compared with what was expected
                got = (type(exc), str(exc), getattr(exc, "__notes__", None))
                result = None
            else:
                got = None
        shown = [f"{w.category.__name__}: {w.message}" for w in caught]
        if warning is None and shown:
            raise Divergence(f"unexpected warning: {shown}")
        if warning is not None and not (len(shown) == 1 and warning in shown[0]):
            raise Divergence(f"expected one warning saying {warning!r}, got {shown}")
        if error is None and got is not None:
            raise Divergence(f"raised {got[0].__name__}: {got[1]}" + (f" (notes {got[2]})" if got[2] else ""))
        if error is not None:
            expected = getattr(error, "__name__", None) or "/".join(e.__name__ for e in error)
            if got is None:
                raise Divergence(f"expected {expected} ({match!r}), nothing was raised")
            if not issubclass(got[0], error) or (match and match not in got[1]) or (notes and got[2] != notes):
                raise Divergence(f"expected {expected} ({match!r}, notes {notes}), got {got[0].__name__}: "
                                 f"{got[1]} (notes {got[2]})")
            self.stats["refused"] += 1
            self.log[-1] += f"  # raises {got[0].__name__}"
        return result

    def check_state(self):
        """The backend's scopes and current target, and every `loaded`, are the model's."""
        if self.unraisable:
            raise Divergence(f"unraisable exception: {self.unraisable}")
        for handle in self.rts():
            if handle.obj.loaded != handle.loaded:
                raise Divergence(f"{handle.name}.loaded is {handle.obj.loaded}, expected {handle.loaded}")
        if self.window is None:
            return
        backend = self.context
        scopes = backend.open_scopes()
        if scopes != len(self.targets) + len(self.blends):
            raise Divergence(f"{scopes} scopes are open, expected {len(self.targets)} texture modes and "
                             f"{len(self.blends)} blend modes")
        expected = self.current()
        target = backend.current_target()
        if expected is None:
            if target is not None:
                raise Divergence("a target is current, expected the window")
        elif not any(target is h.obj.render_texture for h in self.rts() if h.surface is expected):
            holders = [h.name for h in self.rts() if h.surface is expected]
            raise Divergence(f"the current target is not {'/'.join(holders)}")

    def check_live(self):
        for surface in self.surfaces:
            if surface.pending:
                surface.pending, surface.dead = False, "it was released once nothing referred to it"
        expected = sum(s.dead is None for s in self.surfaces)
        if self.context.live != expected:
            raise Divergence(f"the window holds {self.context.live} live GPU objects, expected {expected}")

    # --- random choices ---------------------------------------------------------------------------------------

    def color(self, bad=False):
        r = self.rng.random()
        if bad:
            return self.rng.choice([((1, 2, 3), ValueError, "4 items"), ((256, 0, 0, 255), OverflowError, "0..255"),
                                    ((0, -1, 0, 255), OverflowError, "0..255"), ([255, 0, 0, 255], TypeError, "")])
        if r < 0.1:
            return None
        return self.rng.choice(OPAQUE if r < 0.75 else TRANSLUCENT)

    def tint(self):
        r = self.rng.random()
        return None if r < 0.3 else (255, 255, 255, 255) if r < 0.5 else self.rng.choice(TINTS)

    def size(self):
        r = self.rng.random()
        if r < 0.05:
            return self.rng.choice([0, -1, 0.5, 0.99]), self.rng.randint(1, 4)
        if r < 0.15 and "fractional" not in self.avoid:
            return round(self.rng.uniform(1, 9), 1), self.rng.choice([self.rng.randint(1, 6), 2.5, 3.9])
        return self.rng.randint(1, 12), self.rng.randint(1, 12)

    def dest(self, sw, sh):
        """A dest for a source of size sw x sh: most of them integer positions and scale factors."""
        rng = self.rng
        x, y = rng.randint(-3, 10), rng.randint(-3, 10)
        r = rng.random()
        if r < 0.45:
            return (x, y)
        if r < 0.55:
            return (x + rng.choice([0.25, 0.5, 0.75]), y + rng.choice([0, 0.5, 0.3]))
        w = sw * rng.choice([1, 1, 2, 3, 1 / 3]) if rng.random() < 0.6 else rng.randint(1, 12)
        h = sh * rng.choice([1, 1, 2, 3, 1 / 3]) if rng.random() < 0.6 else rng.randint(1, 12)
        if rng.random() < 0.1:
            w += 0.5
        return (x, y, w, h)

    def bad_dest(self):
        return self.rng.choice([((1, 2, 3), ValueError, "must be"), ((1,), ValueError, "must be"),
                                ((1, 2, 3, 4, 5), ValueError, "must be"), ([1, 2], TypeError, "")])

    def pick(self, handles):
        return self.rng.choice(handles) if handles else None

    def source(self, exclude):
        """A render target to draw from, mostly a live one other than `exclude` (a surface)."""
        live = [h for h in self.rts(live=True) if h.surface is not exclude]
        dead = [h for h in self.rts(live=False)]
        if dead and (not live or self.rng.random() < 0.08) and "failing-blits" not in self.avoid:
            return self.pick(dead)
        return self.pick(live)

    # --- placing a source ------------------------------------------------------------------------------------

    def place(self, dst, src, dest, flip, tint, mode, image=False):
        """Model a blit of handle `src` at `dest` into surface `dst`."""
        surface = src.surface
        tw, th = surface.w, surface.h
        if dest is None:
            dest = (0, 0)
        if len(dest) == 2:
            x, y, w, h = dest[0], dest[1], tw, th
        else:
            # Only the texture's own pixels are drawn: a fractional size scales them by its fraction.
            x, y, w, h = dest[0], dest[1], dest[2] * tw / src.sw, dest[3] * th / src.sh
        upright = (not flip) if image else bool(flip)
        composite(dst, surface, upright, x, y, w, h, tint, mode)

    # --- operations -------------------------------------------------------------------------------------------

    def op_create(self):
        if len(self.handles) >= MAX_HANDLES:
            return self.op_drop()
        w, h = self.size()
        name = self.name("a")
        line = f"{name} = KlRenderTexture(KlVector2({fmt(w)}, {fmt(h)}))"
        if w < 1 or h < 1:
            self.run(line, lambda: self.KlRenderTexture(self.KlVector2(w, h)), ValueError, "at least 1x1")
            return
        obj = self.run(line, lambda: self.KlRenderTexture(self.KlVector2(w, h)))
        surface = Surface(name, "rt", int(w), int(h))
        self.surfaces.append(surface)
        self.handles[name] = Handle(name, obj, surface, float(w), float(h))
        if self.rng.random() < 0.7:
            self.op_clear(self.handles[name])

    def op_texture(self):
        if len(self.handles) >= MAX_HANDLES:
            return self.op_drop()
        rl, rng = self.md.rl, self.rng
        w, h = rng.randint(1, 6), rng.randint(1, 6)
        base = rng.choice(OPAQUE + TRANSLUCENT)
        name = self.name("t")
        surface = Surface(name, "tex", w, h)
        surface.fill(base)
        self.say(f"image = md.rl.gen_image_color({w}, {h}, {fmt(base)})")
        image = rl.gen_image_color(w, h, base)
        for _ in range(rng.randint(0, 3)):
            x, y, color = rng.randrange(w), rng.randrange(h), rng.choice(OPAQUE + TRANSLUCENT)
            self.say(f"md.rl.image_draw_pixel(image, {x}, {y}, {fmt(color)})")
            rl.image_draw_pixel(image, x, y, color)  # written as it is, no blending
            at = (y * w + x) * 4
            surface.lo[at:at + 4] = surface.hi[at:at + 4] = [float(c) for c in color]
        obj = self.run(f"{name} = md.rl.load_texture_from_image(image)", lambda: rl.load_texture_from_image(image))
        self.say("md.rl.unload_image(image)")
        rl.unload_image(image)
        self.surfaces.append(surface)
        self.handles[name] = Handle(name, obj, surface, float(w), float(h))

    def op_unload_texture(self):
        handle = self.pick(self.textures())
        if handle is None:
            return self.op_texture()
        self.run(f"md.rl.unload_texture({handle.name})", lambda: self.md.rl.unload_texture(handle.obj))
        self.kill_surface(handle.surface, "it was unloaded")

    def op_kill(self):
        handle = self.pick(self.rts())
        if handle is None:
            return self.op_create()
        if not handle.loaded:  # a checked operation: a dead one is killed, one not loaded is refused
            return self.run(f"{handle.name}.kill()", handle.obj.kill, AssertionError, "not loaded")
        self.run(f"{handle.name}.kill()", handle.obj.kill)
        handle.loaded = False
        self.kill_surface(handle.surface, "it was unloaded")

    def droppable(self):
        on_stack = set(map(id, self.targets))
        return [h for h in self.handles.values() if id(h.surface) not in on_stack]

    def op_drop(self):
        handle = self.pick(self.droppable())
        if handle is None:
            return
        del self.handles[handle.name]
        surface = handle.surface
        others = [h for h in self.handles.values() if h.surface is surface]
        box = [handle.obj]
        handle.obj = None
        if self.rng.random() < 0.5:
            self.say(f"del {handle.name}")
            # On the window's thread a loaded target unloads itself, for its twins too.
            box.clear()
            if handle.loaded and surface.kind == "rt":
                self.kill_surface(surface, "it was unloaded")
            elif not others and surface.dead is None:
                surface.pending = True
        else:
            self.say(f"box = [{handle.name}]; del {handle.name}; in_thread(box.clear)")
            outcome = in_thread(box.clear)
            if outcome is not None:
                raise Divergence(f"dropping it on another thread raised {outcome[0].__name__}: {outcome[1]}")
            if not others and surface.dead is None:
                surface.pending = True  # released on the window's thread later

    def op_copy(self):
        handle = self.pick(self.rts())
        if handle is None or len(self.handles) >= MAX_HANDLES:
            return self.op_create()
        src = handle.surface
        form = self.rng.choice(["copy.copy", "copy()", "copy(True)", "copy(False)"])
        name = self.name("a")
        line = f"{name} = " + (f"copy.copy({handle.name})" if form == "copy.copy" else f"{handle.name}.{form}")
        if form == "copy.copy":
            obj = self.run(line, lambda: copy.copy(handle.obj))
            self.handles[name] = Handle(name, obj, src, handle.sw, handle.sh, handle.loaded)
            return
        flip = form != "copy(False)"
        work = (lambda: handle.obj.copy()) if form == "copy()" else (lambda: handle.obj.copy(flip))
        if not handle.loaded:
            self.run(line, work, AssertionError, "not loaded")
            return
        if src.dead is not None:
            if "failing-blits" in self.avoid:
                self.say(f"# skipped: {line}")
                return
            self.run(line, work, RuntimeError, "dead")
            return
        obj = self.run(line, work)
        surface = Surface(name, "rt", src.w, src.h)  # made, not cleared, then drawn into
        self.place(surface, handle, (0, 0), flip, None, 0)
        self.surfaces.append(surface)
        self.handles[name] = Handle(name, obj, surface, handle.sw, handle.sh)

    def op_enter(self):
        handle = self.pick(self.rts(live=True) if self.rng.random() < 0.9 else self.rts())
        if handle is None:
            return self.op_create()
        line = f"{handle.name}.__enter__()"
        if not handle.loaded:
            self.run(line, handle.obj.__enter__, AssertionError, "not loaded")
        elif handle.surface.dead is not None:
            self.run(line, handle.obj.__enter__, RuntimeError, f"is dead: {handle.surface.dead}")
        else:
            self.run(line, handle.obj.__enter__)
            self.set_targets(self.targets + [handle.surface])

    def op_exit(self):
        if self.targets:
            surface = self.targets[-1]
            handle = self.pick([h for h in self.rts() if h.surface is surface])
        else:
            handle = self.pick(self.rts())  # nothing open: harmless
            if handle is None:
                return
        self.run(f"{handle.name}.__exit__(None, None, None)", lambda: handle.obj.__exit__(None, None, None))
        self.set_targets(self.targets[:-1])

    def op_blend(self):
        kr = self.kelo_raylib
        if self.blends and self.rng.random() < 0.5 or self.rng.random() < 0.1:
            self.run("kelo_raylib.end_blend_mode()", kr.end_blend_mode)
            self.blends = self.blends[:-1]
            return
        mode = self.rng.choice([0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 5, 8, -1] if self.rng.random() < 0.95 else [8, -1])
        line = f"kelo_raylib.begin_blend_mode({mode})"
        if not 0 <= mode <= 7:
            self.run(line, lambda: kr.begin_blend_mode(mode), ValueError, "blend modes")
            return
        self.run(line, lambda: kr.begin_blend_mode(mode))
        self.blends.append(mode)

    def mode_now(self):
        return self.blends[-1] if self.blends else 0

    def op_clear(self, handle=None):
        rng = self.rng
        method = rng.choice(["clear", "fill", "fast_clear"])
        if handle is None:
            handle = self.pick(self.rts(live=True) if rng.random() < 0.9 else self.rts())
            if handle is None:
                return self.op_create()
        else:
            method = "clear"
        surface = handle.surface
        target = surface if method != "fast_clear" else self.current()
        if "clear-in-scope" in self.avoid and self.drawn_in_current and target is not None \
                and target is self.current():
            return
        bad = rng.random() < 0.05 and "failing-blits" not in self.avoid and handle.loaded and surface.dead is None
        color, error, match = self.color(bad=True) if bad else (self.color(), None, None)
        line = call_text(f"{handle.name}.{method}", [color])
        work = lambda: getattr(handle.obj, method)(color)  # noqa: E731
        if not handle.loaded:
            return self.run(line, work, AssertionError, "not loaded")
        if method != "fast_clear" and surface.dead is not None:
            if "failing-blits" in self.avoid:
                return
            return self.run(line, work, RuntimeError, f"is dead: {surface.dead}")
        if bad:
            return self.run(line, work, error, match)
        self.run(line, work)
        if target is not None:
            target.fill(color or (0, 0, 0, 0))
            if target is self.current():
                self.drawn_in_current = False

    def blit_args(self, dst_surface, texture=False, inject=True):
        """(source handle, dest, flip, tint, failure) for a blit into
        dst_surface; failure is None or (what, exception, message part).
        Bad arguments are made only when `inject`: one cause of failure at a
        time, as which is found first differs between the methods."""
        rng = self.rng
        failing = "failing-blits" not in self.avoid
        if texture and rng.random() < 0.5 and self.textures(live=True if not failing else None):
            src = self.pick(self.textures(live=True) if not failing or rng.random() < 0.95 else self.textures())
        else:
            src = self.source(dst_surface)
        if src is None:
            return None
        if texture and src.surface.kind == "rt":
            # The display draws a target's whole colour texture, whatever its size says.
            form = rng.choice(["", ".render_texture", ".texture"])
            obj = {"": src.obj, ".render_texture": src.obj.render_texture, ".texture": src.obj.texture}[form]
            shown = src.name + form
            src = Handle(shown, obj, src.surface, src.surface.w, src.surface.h)
        dest, flip, tint, failure = self.dest(src.sw, src.sh), rng.random() < 0.7, self.tint(), None
        if src.surface.dead is not None:
            failure = ("source", RuntimeError, "dead")
        elif failing and inject and rng.random() < 0.04:
            dest, error, match = self.bad_dest()
            failure = ("dest", error, match)
        elif failing and inject and rng.random() < 0.04:
            tint, error, match = self.color(bad=True)
            failure = ("color", error, match)
        return src, dest, flip, tint, failure

    def draw_model(self, dst, src, dest, flip, tint, mode):
        image = src.surface.kind == "tex"
        self.place(dst, src, dest, flip, tint, mode, image)
        if dst is self.current():
            self.drawn_in_current = True

    def op_blit(self, texture=False):
        rng = self.rng
        handle = self.pick(self.rts(live=True) if rng.random() < 0.93 else self.rts())
        if handle is None:
            return self.op_create()
        live = handle.loaded and handle.surface.dead is None
        args = self.blit_args(handle.surface, texture, inject=live)
        if args is None:
            return self.op_create()
        src, dest, flip, tint, failure = args
        failure = failure and failure[1:]
        mode = rng.choice(range(8)) if rng.random() < 0.5 else 0
        if rng.random() < 0.03 and live and failure is None:
            mode, failure = rng.choice([8, -1, 99]), (ValueError, "blend modes")
        if texture and rng.random() < 0.1 and len(dest) == 2 and (dest[0], dest[1]) == (0, 0):
            dest = None
        method = "blit_texture" if texture else "blit"
        style = rng.random()
        if style < 0.3 and mode == 0 and flip and tint == (255, 255, 255, 255):
            args, kwargs = [src.obj, dest], {}
        elif style < 0.6:
            args, kwargs = [src.obj, dest, mode, flip, tint], {}
        else:
            args, kwargs = [src.obj, dest], {"blend_mode": mode, "flip": flip, "color": tint}
        line = call_text(f"{handle.name}.{method}", [src] + args[1:], kwargs)
        work = lambda: getattr(handle.obj, method)(*args, **kwargs)  # noqa: E731
        if not handle.loaded:
            return self.run(line, work, AssertionError, "not loaded")
        if handle.surface.dead is not None:
            failure = (RuntimeError, f"is dead: {handle.surface.dead}")
        if failure is not None:
            if "failing-blits" in self.avoid:
                return
            return self.run(line, work, *failure)
        self.run(line, work)
        self.draw_model(handle.surface, src, dest, flip, tint, mode)

    def op_blit_texture(self):
        self.op_blit(texture=True)

    def op_fast_blit_texture(self):
        self.op_fast_blit(texture=True)

    def op_fast_blit(self, texture=False):
        rng = self.rng
        target = self.current()
        if target is None and not self.in_frame:
            return self.op_enter()
        handle = self.pick([h for h in self.rts(live=True) if h.surface is target] or self.rts(live=True))
        if handle is None:
            return self.op_create()
        args = self.blit_args(target, texture)
        if args is None:
            return
        src, dest, flip, tint, failure = args
        method = "fast_blit_texture" if texture else "fast_blit"
        style = rng.random()
        if style < 0.3 and flip and tint == (255, 255, 255, 255):
            args, kwargs = [src.obj, dest], {}
        elif style < 0.7:
            args, kwargs = [src.obj, dest, flip, tint], {}
        else:
            args, kwargs = [src.obj, dest], {"flip": flip, "color": tint}
        line = call_text(f"{handle.name}.{method}", [src] + args[1:], kwargs)
        if failure is not None:
            return self.run(line, lambda: getattr(handle.obj, method)(*args, **kwargs), *failure[1:])
        self.run(line, lambda: getattr(handle.obj, method)(*args, **kwargs))
        if target is not None:
            self.draw_model(target, src, dest, flip, tint, self.mode_now())

    def op_blits(self):
        rng = self.rng
        fast = rng.random() < 0.45
        target = self.current()
        if fast and target is None and not self.in_frame:
            return self.op_enter()
        handle = self.pick(self.rts(live=True) if fast or rng.random() < 0.95 else self.rts())
        if handle is None:
            return self.op_create()
        dst = target if fast else handle.surface
        items, drawn, failure = [], [], None
        for index in range(rng.randint(0, 4)):
            args = self.blit_args(dst)
            if args is None:
                break
            src, dest, flip, tint, item_failure = args
            length = 4 if item_failure and item_failure[0] == "color" else rng.choice([2, 3, 4, 4])
            item = (src, dest, flip, tint)[:length]
            flip, tint = (flip if length > 2 else True), (tint if length > 3 else (255, 255, 255, 255))
            if item_failure is None and rng.random() < 0.02 and "failing-blits" not in self.avoid:
                item, item_failure = rng.choice([([src, dest], ("item", TypeError, "tuples")),
                                                 ((src,), ("item", (TypeError, ValueError), ""))])
            items.append(item)
            if item_failure is not None:
                failure = (item_failure[1], item_failure[2],
                           [f"item {index} of {'fast_blits' if fast else 'blits'}()"])
                break
            drawn.append((src, dest, flip, tint))
        mode = rng.choice(range(8)) if rng.random() < 0.5 else 0

        def real(item):
            out = [part.obj if isinstance(part, Handle) else part for part in item]
            return out if isinstance(item, list) else tuple(out)

        real_items = [real(item) for item in items]
        shown = fmt(items)
        if fast:
            line, work = f"{handle.name}.fast_blits({shown})", lambda: handle.obj.fast_blits(iter(real_items))
        elif mode or rng.random() < 0.5:
            line, work = f"{handle.name}.blits({shown}, blend_mode={mode})", \
                lambda: handle.obj.blits(real_items, blend_mode=mode)
        else:
            line, work = f"{handle.name}.blits({shown})", lambda: handle.obj.blits(real_items)
        if not fast and not handle.loaded:
            return self.run(line, work, AssertionError, "not loaded")
        if not fast and handle.surface.dead is not None:
            if "failing-blits" in self.avoid:
                return
            return self.run(line, work, RuntimeError, f"is dead: {handle.surface.dead}")
        if failure is not None and "failing-blits" in self.avoid and not fast:
            return
        self.run(line, work, *(failure or ()))
        for src, dest, flip, tint in drawn:  # the items before a failing one stay drawn
            if dst is not None:
                self.draw_model(dst, src, dest, flip, tint, self.mode_now() if fast else mode)

    def op_rectangle(self):
        target = self.current()
        if target is None and not self.in_frame:
            return self.op_enter()
        rng = self.rng
        x, y, w, h = rng.randint(-2, 10), rng.randint(-2, 10), rng.randint(0, 8), rng.randint(0, 8)
        color = self.color() or (0, 0, 0, 0)
        self.run(call_text("md.rl.draw_rectangle", [x, y, w, h, color]),
                 lambda: self.md.rl.draw_rectangle(x, y, w, h, color))
        if target is not None:
            fill_rect(target, x, y, w, h, color, self.mode_now())
            self.drawn_in_current = True

    def op_read(self, handle=None):
        handle = handle or self.pick(self.rts(live=True) if self.rng.random() < 0.93 else self.rts())
        if handle is None:
            return self.op_create()
        line = f"read_rgba({handle.name})"
        work = lambda: self.read_rgba(handle.obj)  # noqa: E731
        if not handle.loaded:
            return self.run(line, work, ValueError, "not loaded")
        if handle.surface.dead is not None:
            return self.run(line, work, RuntimeError, f"dead: {handle.surface.dead}")
        self.finish()
        width, height, data = self.run(line, work)
        self.compare(handle, width, height, data)

    def compare(self, handle, width, height, data):
        surface = handle.surface
        self.stats["reads"] += 1
        if (width, height) != (surface.w, surface.h):
            raise Divergence(f"read_rgba({handle.name}) is {width}x{height}, expected {surface.w}x{surface.h}")
        wrong = self.differences(surface, data)
        if wrong:
            # Read again at once and after a pause: a read that only lags behind the
            # drawing agrees later.
            again = self.read_rgba(handle.obj)[2]
            time.sleep(0.05)
            later = self.read_rgba(handle.obj)[2]
            if "stale-read" in self.avoid and not self.differences(surface, later):
                self.stats["stale reads"] += 1
                data, wrong = later, []
        if wrong:
            def verdict(pixels):
                return "the same pixels" if pixels == data else \
                    "other pixels, which match the model" if not self.differences(surface, pixels) else "other pixels"
            raise Divergence(self.describe(handle, wrong, data) + f"\nread again at once: {verdict(again)}; "
                             f"after 50 ms: {verdict(later)}")
        for i, value in enumerate(data):
            width = surface.hi[i] - surface.lo[i]
            self.stats["channels exact" if width == 0 else "channels near" if width <= 4
                       else "channels unknown"] += 1
        surface.lo = [float(v) for v in data]
        surface.hi = list(surface.lo)

    @staticmethod
    def differences(surface, data):
        return [i for i, value in enumerate(data)
                if not surface.lo[i] - TOLERANCE <= value <= surface.hi[i] + TOLERANCE]

    def describe(self, handle, wrong, data):
        surface = handle.surface
        pixels = sorted({i // 4 for i in wrong})

        def expected(at):
            return "(" + ", ".join(str(round(surface.lo[at + c])) if surface.hi[at + c] - surface.lo[at + c] < 1
                                   else f"{math.ceil(surface.lo[at + c] - TOLERANCE)}..."
                                        f"{math.floor(surface.hi[at + c] + TOLERANCE)}"
                                   for c in range(4)) + ")"

        lines = [f"read_rgba({handle.name}): {len(pixels)} of {surface.w * surface.h} pixels differ "
                 f"({surface.w}x{surface.h}, (x, y) from the top left)"]
        for p in pixels[:12]:
            lines.append(f"  ({p % surface.w}, {p // surface.w}): expected {expected(p * 4)}, "
                         f"got {tuple(data[p * 4:p * 4 + 4])}")
        if len(pixels) > 12:
            lines.append(f"  ... and {len(pixels) - 12} more")
        return "\n".join(lines)

    def op_thread(self):
        """A call on another thread: refused, naming the thread, and nothing changes."""
        rng = self.rng
        handle = self.pick(self.rts(live=True))
        if handle is None:
            return self.op_create()
        obj, other = handle.obj, self.pick(self.rts(live=True))
        kr = self.kelo_raylib
        choices = {
            f"{handle.name}.clear((1, 2, 3, 255))": lambda: obj.clear((1, 2, 3, 255)),
            f"{handle.name}.blit({other.name}, (0, 0))": lambda: obj.blit(other.obj, (0, 0)),
            f"{handle.name}.kill()": obj.kill,
            f"{handle.name}.__enter__()": obj.__enter__,
            f"read_rgba({handle.name})": lambda: self.read_rgba(obj),
            "KlRenderTexture(KlVector2(2, 2))": lambda: self.KlRenderTexture(self.KlVector2(2, 2)),
            "kelo_raylib.begin_blend_mode(1)": lambda: kr.begin_blend_mode(1),
        }
        if self.current() is not None and other.surface is not self.current():
            choices[f"{handle.name}.fast_blit({other.name}, (0, 0))"] = lambda: obj.fast_blit(other.obj, (0, 0))
            choices[f"{handle.name}.fast_clear(None)"] = lambda: obj.fast_clear(None)
        line = rng.choice(sorted(choices))
        self.say(f"in_thread(lambda: {line})  # raises RuntimeError there")
        outcome = in_thread(choices[line])
        if outcome is None or outcome[0] is not RuntimeError or "thread" not in outcome[1]:
            raise Divergence(f"on another thread: expected RuntimeError naming the thread, got {outcome}")
        self.stats["refused"] += 1

    def op_frame(self):
        scopes = len(self.targets) + len(self.blends)
        window = self.window
        context = window.frame()
        warning = f"{scopes} drawing scope{'s' if scopes != 1 else ''} left open" if scopes else None
        self.run("with window.frame():", context.__enter__, warning=warning)
        self.set_targets([])
        self.blends = []
        self.check_live()
        self.in_frame, self.indent = True, "    "
        try:
            logged = len(self.log)
            for _ in range(self.rng.randint(0, 3)):
                self.step += 1
                r = self.rng.random()
                if r < 0.1:
                    self.run("window.frame().__enter__()", lambda: window.frame().__enter__(), RuntimeError,
                             "being drawn already")
                elif r < 0.3 and (handle := self.source(self.current())) is not None:
                    # What shows a target on the window: into the current target when a scope is open.
                    line = f"window.display.fast_blit_pro({handle.name}, (0, 0), True, None)"
                    work = lambda: window.display.fast_blit_pro(handle.obj, (0, 0), True, None)  # noqa: E731
                    if handle.surface.dead is not None:
                        self.run(line, work, RuntimeError, "dead")
                    else:
                        self.run(line, work)
                        if self.current() is not None:
                            whole = Handle(handle.name, None, handle.surface, handle.surface.w, handle.surface.h)
                            self.draw_model(self.current(), whole, (0, 0), True, None, self.mode_now())
                else:
                    self.random_op(OPS_IN_FRAME)
                self.check_state()
            if len(self.log) == logged:
                self.say("pass")
        finally:
            self.in_frame, self.indent = False, ""
        self.run("# the end of the frame", lambda: context.__exit__(None, None, None))

    def op_close(self):
        if "blend-at-close" in self.avoid:
            while self.blends:
                self.run("kelo_raylib.end_blend_mode()", self.kelo_raylib.end_blend_mode)
                self.blends.pop()
        self.run("close_window()", self.wm.close_window)
        self.window = None
        for surface in self.surfaces:
            surface.dead = surface.dead or "the window it was made under has closed"
        self.surfaces, self.targets, self.blends = [], [], []
        self.drawn_in_current = False

    def op_closed(self):
        """While no window is open: everything GPU is refused, kill is harmless."""
        rng = self.rng
        if rng.random() < 0.5:
            self.window = self.run("window = open_window(64, 64, hidden=True)",
                                   lambda: self.wm.open_window(WINDOW_SIZE, WINDOW_SIZE, hidden=True))
            return
        handle = self.pick(self.rts())
        r = rng.random()
        if handle is None or r < 0.25:
            self.run("KlRenderTexture(KlVector2(2, 2))", lambda: self.KlRenderTexture(self.KlVector2(2, 2)),
                     RuntimeError, "open_window")
        elif r < 0.4 and handle.loaded:
            self.run(f"{handle.name}.kill()", handle.obj.kill)
            handle.loaded = False
        elif r < 0.55:
            self.run("kelo_raylib.begin_blend_mode(1)", lambda: self.kelo_raylib.begin_blend_mode(1),
                     RuntimeError, "open_window")
        else:
            name, work = rng.choice([(f"{handle.name}.clear(None)", lambda: handle.obj.clear(None)),
                                     (f"{handle.name}.__enter__()", handle.obj.__enter__),
                                     (f"read_rgba({handle.name})", lambda: self.read_rgba(handle.obj))])
            if handle.loaded:
                self.run(name, work, RuntimeError, "open_window")
            else:
                self.run(name, work, (AssertionError, ValueError), "not loaded")

    def read_all(self):
        """Every live target compared at once, unlogged: names the operation that diverged."""
        for handle in self.rts(live=True):
            self.finish()
            width, height, data = self.read_rgba(handle.obj)
            self.compare(handle, width, height, data)

    # --- the run ---------------------------------------------------------------------------------------------

    def random_op(self, table):
        names, weights = zip(*table)
        getattr(self, "op_" + self.rng.choices(names, weights)[0])()

    def fuzz(self, steps):
        self.window = self.run("window = open_window(64, 64, hidden=True)",
                               lambda: self.wm.open_window(WINDOW_SIZE, WINDOW_SIZE, hidden=True))
        while self.step < steps:
            self.step += 1
            if self.window is None:
                self.op_closed()
            elif self.rng.random() < 0.003:
                self.op_close()
            else:
                self.random_op(OPS)
            self.check_state()
            if self.strict and self.window is not None:
                self.read_all()
        # At the end every live target is read once more.
        if self.window is not None:
            for handle in self.rts(live=True):
                self.op_read(handle)
            self.run("close_window()", self.wm.close_window)


OPS_IN_FRAME = [("create", 6), ("kill", 2), ("enter", 5), ("exit", 5), ("blend", 4), ("clear", 5),
                ("blit", 12), ("fast_blit", 8), ("blits", 5), ("rectangle", 5), ("read", 8),
                ("texture", 2)]
OPS = OPS_IN_FRAME + [("drop", 3), ("copy", 3), ("unload_texture", 1), ("thread", 2), ("frame", 2),
                      ("blit_texture", 5), ("fast_blit_texture", 4)]

PRELUDE = """\
# The operations of a fuzz_real run, as Python (names as the run gave them).
import copy, threading
from contextlib import suppress
from kelo_ui.core import modules as md
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.pixels import read_rgba
from kelo_ui.window import close_window, open_window

def in_thread(work):
    thread = threading.Thread(target=work)
    thread.start()
    thread.join()
"""


def runnable(line):
    """A logged line as a statement that runs on: a refused call is suppressed."""
    code, _, comment = line.partition("  # raises ")
    if not comment or "there" in comment:
        return line
    indent = code[:len(code) - len(code.lstrip())]
    return f"{indent}with suppress(Exception): {code.strip()}  # raises {comment}"


def run_seed(seed, steps, avoid, log_path=None, strict=False, trail=None):
    """One seed in this process; 0 when clean, 1 with a report on a divergence."""
    for name in ("DISPLAY", "XDG_RUNTIME_DIR"):  # a private Xvfb, and so llvmpipe: what the model is measured on
        os.environ.pop(name, None)
    started = time.monotonic()
    faulthandler.enable()
    fuzzer = Fuzzer(seed, avoid, strict, trail)
    try:
        fuzzer.fuzz(steps)
    except Divergence as divergence:
        print(f"fuzz-real: DIVERGENCE, seed {seed}, step {fuzzer.step}")
        print(f"  after: {fuzzer.log[-1] if fuzzer.log else '(nothing)'}")
        print(str(divergence))
        print("the last operations:")
        for line in fuzzer.log[-30:]:
            print("    " + line)
        if log_path:
            with open(log_path, "w") as file:
                file.write(PRELUDE + "\n".join(runnable(line) for line in fuzzer.log) + "\n")
            print(f"every operation, as Python: {log_path}")
        avoided = f" --avoid {','.join(sorted(avoid))}" if avoid else ""
        print(f"again: python {sys.argv[0]} --seed {seed} --steps {fuzzer.step}{avoided}")
        sys.stdout.flush()
        os._exit(1)  # the window and its objects are left as they are
    stats = fuzzer.stats
    compared = stats["channels exact"] + stats["channels near"] + stats["channels unknown"]
    print(f"fuzz-real: seed {seed} clean: {fuzzer.step} steps in {time.monotonic() - started:.1f} s, "
          f"{stats['reads']} reads, {compared} channels read ({stats['channels exact']} exact, "
          f"{stats['channels near']} within +-2, {stats['channels unknown']} unpredicted), "
          f"{stats['refused']} refusals" + (f", {stats['stale reads']} stale reads" if stats["stale reads"] else ""))
    return 0


def run_for(seconds, first_seed, steps, avoid, timeout):
    """Seed after seed, each in a child, until `seconds` have passed; the first failure ends it."""
    with tempfile.TemporaryDirectory(prefix="fuzz-real-") as folder:
        return run_children(seconds, first_seed, steps, avoid, timeout, os.path.join(folder, "trail.txt"))


def run_children(seconds, first_seed, steps, avoid, timeout, trail):
    deadline = time.monotonic() + seconds
    seed, clean = first_seed, 0
    while time.monotonic() < deadline:
        command = [sys.executable, __file__, "--seed", str(seed), "--steps", str(steps), "--trail", trail]
        if avoid:
            command += ["--avoid", ",".join(sorted(avoid))]
        again = f"python {sys.argv[0]} --seed {seed} --steps {steps}" + (f" --avoid {','.join(sorted(avoid))}"
                                                                           if avoid else "")
        try:
            result = subprocess.run(command, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            print(f"fuzz-real: seed {seed} HUNG: no end after {timeout} s; its last operations:")
            print_trail(trail)
            print(f"again: {again}")
            return 1
        if result.returncode != 0:
            print(result.stdout[-8000:], end="")
            if "DIVERGENCE" not in result.stdout:
                print(f"fuzz-real: seed {seed} CRASHED (exit {result.returncode}); its last operations:")
                print_trail(trail)
                print(result.stderr[-4000:])
                print(f"again: {again}")
            return 1
        print(result.stdout.strip().splitlines()[-1])
        sys.stdout.flush()
        clean += 1
        seed += 1
    print(f"fuzz-real: {clean} seeds clean ({first_seed}..{seed - 1}) in {seconds:g} s")
    return 0


def print_trail(path, count=30):
    try:
        with open(path) as file:
            lines = file.read().splitlines()
    except OSError:
        lines = ["(none written)"]
    for line in lines[-count:]:
        print("    " + line)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, help="the (first) seed; random by default")
    parser.add_argument("--steps", type=int, help="operations per seed (default 2000)")
    parser.add_argument("--seconds", type=float, help="run seed after seed, each in a child, for this long")
    parser.add_argument("--avoid", default="", help="classes of operations to leave out: " +
                        "; ".join(f"{k}: {v}" for k, v in AVOIDABLE.items()))
    parser.add_argument("--timeout", type=float, default=300, help="seconds a seed may take (with --seconds)")
    parser.add_argument("--log", help="on a divergence, write every operation as Python into this file")
    parser.add_argument("--trail", help=argparse.SUPPRESS)  # where a child writes each operation as it starts
    parser.add_argument("--strict", action="store_true",
                        help="read every live target after every step, naming the step that diverges (this "
                             "draws raylib's batch every step, which hides faults that need one pending)")
    options = parser.parse_args(argv)
    avoid = {a for a in options.avoid.split(",") if a}
    if avoid - AVOIDABLE.keys():
        parser.error(f"unknown classes {sorted(avoid - AVOIDABLE.keys())}; known: {sorted(AVOIDABLE)}")
    seed = options.seed if options.seed is not None else random.randrange(1 << 30)
    if options.seconds is not None:
        return run_for(options.seconds, seed, options.steps or 2000, avoid, options.timeout)
    gc.collect()
    return run_seed(seed, options.steps or 2000, avoid, options.log, options.strict, options.trail)


if __name__ == "__main__":
    sys.exit(main())
