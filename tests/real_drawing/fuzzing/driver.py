"""The fuzzer: its state, the checks made after every operation, the random
choices of arguments, and the run."""

from __future__ import annotations

import collections
import math
import random
import sys
import time
import warnings

from fuzzing.blitting import Blits
from fuzzing.hazards import Hazards
from fuzzing.model import OPAQUE, PLAIN, TINTS, TOLERANCE, TRANSLUCENT, Divergence, composite
from fuzzing.operations import Operations
from fuzzing.raylib_calls import RaylibCalls
from fuzzing.scenes import Scenes
from fuzzing.scopes import DrawState, ScopeOps

# What a step does, (operation, weight); inside a frame only the first ones.
OPS_IN_FRAME = [
    ("create", 6),
    ("cell", 3),
    ("kill", 2),
    ("enter", 5),
    ("exit", 5),
    ("blend", 4),
    ("clear", 5),
    ("blit", 12),
    ("fast_blit", 8),
    ("blits", 5),
    ("blit_region", 4),
    ("fast_blit_region", 3),
    ("nine_slice", 2),
    ("rectangle", 5),
    ("read", 8),
    ("texture", 2),
    # md.rl: raylib itself, inside targets and cells
    ("md_enter", 2),
    ("md_exit", 2),
    ("scissor", 4),
    ("shader", 3),
    ("camera", 3),
    ("camera_session", 1),
    ("matrix", 5),
    ("md_shape", 5),
    ("md_clear", 2),
    ("md_texture_draw", 6),
    ("md_texture", 4),
    ("md_kinds", 2),
    ("page", 3),
    ("hazard", 1),
    # retained scenes showing the targets and cells
    ("scene_compose", 4),
    ("scene_change", 3),
    ("scene_add", 2),
]
OPS = OPS_IN_FRAME + [
    ("drop", 3),
    ("copy", 3),
    ("unload_texture", 1),
    ("thread", 2),
    ("frame", 2),
    ("blit_texture", 5),
    ("fast_blit_texture", 4),
    ("scene_new", 1),
    ("scene_remove", 1),
    ("scene_drop", 1),
    ("scene_kill", 1),
    ("scene_invalidate", 1),
    ("scene_query", 1),
]

# Faults of the product this fuzzer found that are not fixed yet: a run steers
# around each, so that it can find others, unless asked to run into it
# (fuzz_real.py --known NAME). An entry goes once its fault is fixed.
KNOWN_FAULTS: dict[str, str] = {}


class Fuzzer(Operations, Blits, ScopeOps, RaylibCalls, Hazards, Scenes):
    """One seed's run: the real stack, and the model of every target's pixels."""

    OPS_IN_FRAME = OPS_IN_FRAME

    def __init__(self, seed, strict=False, trail=None, known=()):
        import kelo_ui.window as window_module
        from fuzzing import replay
        from kelo_ui.atlas import Atlas
        from kelo_ui.core import modules as md
        from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
        from kelo_ui.fast.klvector2.klvector2 import KlVector2
        from kelo_ui.fast.raylib import kelo_raylib
        from kelo_ui.presentation.nine_slice import blit_nine_slice
        from kelo_ui.presentation.pixels import read_rgba
        from kelo_ui.scene import Scene

        self.replay = replay
        self.wm, self.md, self.KlRenderTexture, self.KlVector2 = window_module, md, KlRenderTexture, KlVector2
        self.kelo_raylib, self.read_rgba, self.context = kelo_raylib, read_rgba, window_module.context
        self.Atlas, self.nine_slice, self.Scene = Atlas, blit_nine_slice, Scene
        self.atlas = None  # the cells' atlas, made anew for most windows
        self.seed = seed
        self.rng = random.Random(seed)
        self.strict = strict
        self.steering = set(KNOWN_FAULTS) - set(known)  # known faults steered around
        self.trail = open(trail, "w") if trail else None  # every operation as it starts: for a crash or a hang
        self.step = 0
        self.log = []
        self.handles = {}  # name -> Handle
        self.surfaces = []  # every surface of the open window
        self.scopes = []  # the texture-mode scope stack (Scope)
        self.blends = []  # the blend-mode scope stack
        self.window_state = DrawState()  # what md.rl began on the window, outside every target's scope
        self.shaders = []  # md.rl's shaders of the open window (Shader)
        self.page_models = {}  # Page -> Surface: what the page holds outside its live cells
        self.material = None  # raylib's default material, for set_material_texture
        self.scenes = []  # SceneModel, each holding its Scene
        self.loose_items = []  # ItemModel removed from their scenes, still held
        self.window = None
        self.in_frame = False
        self.counter = 0
        self.indent = ""  # inside a frame
        self.stats = collections.Counter()
        self.unraisable = []
        sys.unraisablehook = lambda report: self.unraisable.append(
            f"{report.exc_type.__name__}: {report.exc_value} ({report.err_msg})"
        )

    def say(self, line):
        self.log.append(self.indent + line)
        if self.trail:
            self.trail.write(self.indent + line + "\n")
            self.trail.flush()

    def name(self, prefix):
        self.counter += 1
        return f"{prefix}{self.counter}"

    def rts(self, live=None):
        return [
            h
            for h in self.handles.values()
            if h.surface.kind == "rt" and (live is None or (h.loaded and h.surface.dead is None) == live)
        ]

    def textures(self, live=None):
        return [
            h
            for h in self.handles.values()
            if h.surface.kind == "tex" and (live is None or (h.surface.dead is None) == live)
        ]

    def kill_surface(self, surface, reason):
        if surface.dead is None:
            surface.dead = reason
            for scope in self.scopes:  # its scopes are left empty, beginning nothing
                if scope.surface is surface:
                    scope.state = DrawState()
            if surface.area is not None:
                self.cell_gone(surface)
            self.source_died(surface)

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
            parts = match if isinstance(match, tuple) else (match,)  # every part, in its message
            said = all(not part or part in got[1] for part in parts)
            if not issubclass(got[0], error) or not said or (notes and got[2] != notes):
                raise Divergence(
                    f"expected {expected} ({match!r}, notes {notes}), got {got[0].__name__}: {got[1]} (notes {got[2]})"
                )
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
        if scopes != self.open_count():
            own = [self.window_state.own()] + [s.state.own() for s in self.scopes if s.surface.dead is None]
            raise Divergence(
                f"{scopes} scopes are open, expected {self.open_count()}: {len(self.scopes)} texture modes, "
                f"{len(self.blends)} blend modes, and begun in the window's level and each live target's "
                f"scope: {own}"
            )
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
                surface.pending = False
                self.kill_surface(surface, "it was released once nothing referred to it")
        # The atlas's pages are the window's too: as many as the packer needs.
        expected = sum(s.dead is None for s in self.surfaces) + (len(self.atlas.pages) if self.atlas else 0)
        if self.context.live != expected:
            raise Divergence(f"the window holds {self.context.live} live GPU objects, expected {expected}")

    def color(self, bad=False):
        r = self.rng.random()
        if bad:
            return self.rng.choice(
                [
                    ((1, 2, 3), ValueError, "4 items"),
                    ((256, 0, 0, 255), ValueError, "0..255"),
                    ((0, -1, 0, 255), ValueError, "0..255"),
                    ([255, 0, 0, 255], TypeError, ""),
                ]
            )
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
        if r < 0.15:
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
        return self.rng.choice(
            [
                ((1, 2, 3), ValueError, "must be"),
                ((1,), ValueError, "must be"),
                ((1, 2, 3, 4, 5), ValueError, "must be"),
                ([1, 2], TypeError, ""),
            ]
        )

    def pick(self, handles):
        return self.rng.choice(handles) if handles else None

    def source(self, exclude):
        """A render target to draw from, mostly a live one other than `exclude` (a surface)."""
        live = [h for h in self.rts(live=True) if h.surface is not exclude]
        dead = [h for h in self.rts(live=False)]
        if dead and (not live or self.rng.random() < 0.08):
            return self.pick(dead)
        return self.pick(live)

    def place(self, dst, src, dest, flip, tint, mode, image=False, look=PLAIN):
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
        composite(dst, surface, upright, x, y, w, h, tint, mode, look)

    def mode_now(self):
        return self.blends[-1] if self.blends else 0

    def draw_model(self, dst, src, dest, flip, tint, mode, look=PLAIN):
        image = src.surface.kind == "tex"
        self.place(dst, src, dest, flip, tint, mode, image, look)

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

            def verdict(pixels):
                return (
                    "the same pixels"
                    if pixels == data
                    else "other pixels, which match the model"
                    if not self.differences(surface, pixels)
                    else "other pixels"
                )

            raise Divergence(
                self.describe(handle, wrong, data) + f"\nread again at once: {verdict(again)}; "
                f"after 50 ms: {verdict(later)}"
            )
        for i in range(len(data)):
            width = surface.hi[i] - surface.lo[i]
            self.stats["channels exact" if width == 0 else "channels near" if width <= 4 else "channels unknown"] += 1
        surface.lo = [float(v) for v in data]
        surface.hi = list(surface.lo)

    @staticmethod
    def differences(surface, data):
        return [
            i for i, value in enumerate(data) if not surface.lo[i] - TOLERANCE <= value <= surface.hi[i] + TOLERANCE
        ]

    def describe(self, handle, wrong, data):
        surface = handle.surface
        pixels = sorted({i // 4 for i in wrong})

        def expected(at):
            return (
                "("
                + ", ".join(
                    str(round(surface.lo[at + c]))
                    if surface.hi[at + c] - surface.lo[at + c] < 1
                    else f"{math.ceil(surface.lo[at + c] - TOLERANCE)}...{math.floor(surface.hi[at + c] + TOLERANCE)}"
                    for c in range(4)
                )
                + ")"
            )

        lines = [
            f"read_rgba({handle.name}): {len(pixels)} of {surface.w * surface.h} pixels differ "
            f"({surface.w}x{surface.h}, (x, y) from the top left)"
        ]
        for p in pixels[:12]:
            lines.append(
                f"  ({p % surface.w}, {p // surface.w}): expected {expected(p * 4)}, "
                f"got {tuple(data[p * 4 : p * 4 + 4])}"
            )
        if len(pixels) > 12:
            lines.append(f"  ... and {len(pixels) - 12} more")
        return "\n".join(lines)

    def read_all(self):
        """Every live target compared at once, unlogged: names the operation that diverged."""
        for handle in self.rts(live=True):
            width, height, data = self.read_rgba(handle.obj)
            self.compare(handle, width, height, data)

    def random_op(self, table):
        names, weights = zip(*table, strict=True)
        name = self.rng.choices(names, weights)[0]
        if not name.startswith("scene"):
            self.scenes_touched()
        getattr(self, "op_" + name)()

    def fuzz(self, steps):
        self.open_the_window()
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
