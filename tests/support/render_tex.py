"""Shared helpers of the KlRenderTexture tests: a recording raylib binding
installed as the module global `md`, targets made without it, and leak checks."""

import gc
import sys
import tracemalloc

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2


class FakeTexture:
    def __init__(self, width, height):
        self.width = width
        self.height = height


class FakeRenderTexture:
    """What the raylib binding's load_render_texture returns."""

    def __init__(self, width, height, number=0):
        self.texture = FakeTexture(width, height)
        self.id = 100 + number
        self.depth = ("depth", number)

    def __repr__(self):
        return f"FakeRenderTexture({self.texture.width}, {self.texture.height}, id={self.id})"


class RecordingRaylib:
    """A raylib binding that records every call as (name, *args).

    `fail[name] = exception` makes that member raise; `window_ready` is what
    is_window_ready() returns.
    """

    class BlendMode:
        BLEND_ALPHA = 0

    def __init__(self):
        self.calls = []
        self.fail = {}
        self.window_ready = True
        self.loaded = []

    def _record(self, name, *args):
        self.calls.append((name, *args))
        if name in self.fail:
            raise self.fail[name]

    def load_render_texture(self, width, height):
        self._record("load_render_texture", width, height)
        texture = FakeRenderTexture(width, height, len(self.loaded))
        self.loaded.append(texture)
        return texture

    def unload_render_texture(self, render_texture):
        self._record("unload_render_texture", render_texture)

    def is_window_ready(self):
        self._record("is_window_ready")
        return self.window_ready


def _involved(function):
    """The objects a leak check watches by default: what the function's
    closure, defaults and bound object hold."""
    found = []
    for cell in getattr(function, "__closure__", None) or ():
        try:
            found.append(cell.cell_contents)
        except ValueError:  # an empty cell
            pass
    found.extend(getattr(function, "__defaults__", None) or ())
    if hasattr(function, "__self__"):
        found.append(function.__self__)
    return found


def _traced_blocks():
    """Memory blocks allocated since tracing started and still alive, not
    counting tracemalloc's own."""
    snapshot = tracemalloc.take_snapshot().filter_traces([tracemalloc.Filter(False, tracemalloc.__file__)])
    return len(snapshot.traces)


def leaks(function, runs=10_000, objects=()):
    """What `runs` more calls of `function` leave behind, once it is warm, per
    100 calls.

    Watches the reference counts of the objects involved (`objects`, and
    what the function's closure, defaults and bound object hold) and the
    number of memory blocks that tracemalloc sees still allocated; returns
    the largest change. The calls are made in two equal halves and each
    measure is the smaller change of the two, so a one-off shift (a cache
    filled) does not count. A reference or an allocation leaked on every
    call reads as 100 or more (a reference released once too often, too),
    while the interpreter's own slow drift (a few blocks per thousand calls)
    reads as 0 to 2. Both measures work whatever allocator the interpreter
    uses (sys.getallocatedblocks() reads 0 under PYTHONMALLOC=malloc, as in
    the sanitizer run).
    """
    watched = [*objects, *_involved(function)]
    half = max(1, runs // 2)
    was_tracing = tracemalloc.is_tracing()
    if not was_tracing:
        tracemalloc.start()
    try:
        for _ in range(max(300, runs // 10)):
            function()
        readings = []
        for batch in (0, half, half):
            for _ in range(batch):
                function()
            gc.collect()
            readings.append((_traced_blocks(), [sys.getrefcount(item) for item in watched]))
    finally:
        if not was_tracing:
            tracemalloc.stop()
    (blocks0, counts0), (blocks1, counts1), (blocks2, counts2) = readings
    changes = [min(blocks1 - blocks0, blocks2 - blocks1)]
    changes += [min(abs(b - a), abs(c - b)) for a, b, c in zip(counts0, counts1, counts2, strict=True)]
    return max(changes) * 100 // half


def sized_target(width=800.0, height=600.0, cls=KlRenderTexture):
    """A target holding only a size: no render texture, not loaded."""
    rt = cls.__new__(cls)
    rt.size = KlVector2(width, height)
    return rt


def loaded_target(width=8, height=8, cls=KlRenderTexture):
    """A loaded target around a FakeRenderTexture, made without the binding."""
    rt = cls.__new__(cls)
    rt.render_texture = FakeRenderTexture(width, height)
    rt.size = KlVector2(float(width), float(height))
    rt.loaded = True
    return rt


class Overrides(KlRenderTexture):
    """Python overrides of the size queries: a width, a height that is no
    number, and no rectangle."""

    def get_width(self):
        return 3

    def get_height(self):
        return "tall"

    def get_rect(self):
        return None
