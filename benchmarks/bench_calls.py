"""Cost of the hot KlRenderTexture calls, as ratios against native floors and
against the same calls written in pure Python.

Run with `make bench`: it prints the table and rewrites its section of
docs/performance.md (`--markdown PATH` for another file, `--no-markdown` to
print only). Every figure comes from one process and one run: each
call is timed over many iterations (best of several repeats) and divided by
the floor named in its row, a native call of the same shape that does as
little as possible. `kelo_raylib.backend` is None, so only the calls'
own work is measured. Timings never go into the tests.
"""

import pathlib
import sys
import timeit
import types

import performance_report as performance
from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.color import Color

NUMBER = 200_000
REPEAT = 7
KEPT_CALLS = 100_000
SECTION = "bench-calls"


class Texture:
    def __init__(self, width, height):
        self.width = width
        self.height = height


class RenderTexture:
    """Stands in for the binding's render texture: only `texture` is read."""

    def __init__(self, width, height):
        self.texture = Texture(width, height)


class Binding:
    """A raylib binding that loads cheap stand-ins and has no window."""

    class BlendMode:
        BLEND_ALPHA = 0

    def load_render_texture(self, width, height):
        return RenderTexture(width, height)

    def unload_render_texture(self, render_texture):
        pass

    def is_window_ready(self):
        return False


class PyRenderTexture:
    """The reference: the same calls, in the same order and with the same
    checks, as a Python toolkit would make them through kelo_raylib."""

    def __init__(self, size):
        self.size = size
        self.render_texture = kl_render_tex.md.rl.load_render_texture(int(size.x), int(size.y))
        self.loaded = True

    @property
    def width(self):
        return self.size.x

    @property
    def height(self):
        return self.size.y

    def _fast_blit(self, kl_texture, dest, flip, color):
        h = kl_texture.height
        if flip:
            h = -h
        if dest is None:
            raise TypeError("object of type 'NoneType' has no len()")
        dest_len = len(dest)
        if dest_len == 2:
            kelo_raylib.c_draw_texture_vec(kl_texture.render_texture.texture, dest, color, flip)
        elif dest_len == 4:
            texture = kl_texture.render_texture.texture
            kelo_raylib.c_draw_texture_rec(texture, (0, 0, kl_texture.width, h), dest, color)
        else:
            raise ValueError(f"Invalid dest argument - {dest}, must be (x, y) or (x, y, width, height)")

    def fast_blit(self, kl_texture, dest, flip=True, color=Color.White):
        flip = 1 if flip else 0
        if kl_texture is not None and not isinstance(kl_texture, PyRenderTexture):
            raise TypeError("kl_texture")
        if dest is not None and type(dest) is not tuple:
            raise TypeError("dest")
        if color is not None and type(color) is not tuple:
            raise TypeError("color")
        self._fast_blit(kl_texture, dest, flip, color)

    def blit(self, kl_texture, dest, blend_mode=0, flip=True, color=Color.White):
        blend_mode = int(blend_mode)
        flip = 1 if flip else 0
        if not isinstance(kl_texture, PyRenderTexture):
            raise TypeError("kl_texture")
        if dest is None:
            raise TypeError("dest")
        if color is not None and type(color) is not tuple:
            raise TypeError("color")
        assert self.loaded, "Render texture not loaded"
        kelo_raylib.begin_blend_mode(blend_mode)
        kelo_raylib.begin_texture_mode(self.render_texture)
        if type(dest) is not tuple:
            raise TypeError("Expected tuple")
        self._fast_blit(kl_texture, dest, flip, color)
        kelo_raylib.end_texture_mode()
        kelo_raylib.end_blend_mode()

    def fast_blit_texture(self, texture, dest, flip=True, color=Color.White):
        flip = bool(flip)
        if color is not None and type(color) is not tuple:
            raise TypeError("color")
        if dest is not None and type(dest) is not tuple:
            raise TypeError("Expected tuple")
        kl_render_tex.kelo_state.window.display.fast_blit_pro(texture, dest, flip, color)

    def copy(self, flip=True):
        flip = bool(flip)
        assert self.loaded, "Render texture not loaded"
        new = PyRenderTexture(self.size)
        new.blit(self, (0, 0), kl_render_tex.md.rl.BlendMode.BLEND_ALPHA, flip)
        return new


def best_ns(statements, namespace):
    """Best time per call of each statement, in ns. The statements are timed
    in turn, round after round, so that all of them see the same machine."""
    timers = {s: timeit.Timer(s, globals=namespace) for s in statements}
    best = dict.fromkeys(statements, float("inf"))
    for _ in range(REPEAT):
        for statement, timer in timers.items():
            best[statement] = min(best[statement], timer.timeit(NUMBER) / NUMBER * 1e9)
    return best


def allocated_blocks(statement, namespace, calls=KEPT_CALLS):
    """Blocks still allocated after `calls` calls (0 when nothing is kept)."""
    code = compile(f"for _ in range({calls}):\n    {statement}", "<bench>", "exec")
    exec(code, namespace)  # warm up free lists and caches
    before = sys.getallocatedblocks()
    exec(code, namespace)
    return sys.getallocatedblocks() - before


def main():
    options = performance.options(__doc__.splitlines()[0], SECTION)
    kelo_raylib.backend = None
    kl_render_tex.md = types.SimpleNamespace(rl=Binding())
    size = KlVector2(800.0, 600.0)
    rt = KlRenderTexture(size)
    src = KlRenderTexture(KlVector2(64.0, 32.0))
    py_dst = PyRenderTexture(size)
    py_src = PyRenderTexture(KlVector2(64.0, 32.0))
    namespace = {
        "rt": rt,
        "dst": rt,
        "src": src,
        "py_dst": py_dst,
        "py_src": py_src,
        "tex": src.render_texture.texture,
        "pos": (10, 20),
        "rect": (10, 20, 128, 64),
        "floor": kl_probe.Floor(800.0),
        "KlRenderTexture": KlRenderTexture,
        "kelo_raylib": kelo_raylib,
    }

    floor_statements = {
        "value": "floor.get_value()",
        # One native call that makes one backend call: the drawing call that
        # fast_clear and fast_blit end in, made straight from Python.
        "draw": "kelo_raylib.c_clear_background(None)",
    }
    # (statement, floor, pure-Python reference)
    rows = [
        ("rt.get_width()", "value", None),
        ("rt.get_height()", "value", None),
        ("KlRenderTexture.get_width(rt)", "value", None),
        ("rt.fast_clear(None)", "draw", None),
        ("dst.fast_blit(src, pos)", "draw", "py_dst.fast_blit(py_src, pos)"),
        ("dst.fast_blit(src, rect)", "draw", "py_dst.fast_blit(py_src, rect)"),
        ("dst.blit(src, pos)", "draw", "py_dst.blit(py_src, pos)"),
        ("dst.fast_blit_texture(tex, pos)", "draw", "py_dst.fast_blit_texture(tex, pos)"),
        ("src.copy()", "draw", "py_src.copy()"),
    ]
    statements = [*floor_statements.values(), *(r[0] for r in rows), *(r[2] for r in rows if r[2])]
    ns = best_ns(statements, namespace)
    floors = {name: ns[statement] for name, statement in floor_statements.items()}

    lines = [
        performance.measured_on(),
        "",
        f"ns per call, the best of {REPEAT} repeats of {NUMBER:,} calls; kept: memory blocks still allocated "
        f"after {KEPT_CALLS:,} more calls.",
        "",
        "| call | ns | floor | × floor | pure Python ns | speed-up | kept |",
        "| --- | ---: | --- | ---: | ---: | ---: | ---: |",
    ]
    for name, statement in floor_statements.items():
        kept = allocated_blocks(statement, namespace)
        lines.append(f"| `{statement}` | {performance.number(ns[statement])} | {name} (itself) | | | | {kept} |")
    for statement, floor_name, reference in rows:
        cost = ns[statement]
        kept = allocated_blocks(statement, namespace)
        python = performance.number(ns[reference]) if reference else ""
        speed_up = f"{performance.number(ns[reference] / cost)}x" if reference else ""
        ratio = performance.number(cost / floors[floor_name])
        lines.append(
            f"| `{statement}` | {performance.number(cost)} | {floor_name} | {ratio} | {python} | {speed_up} | {kept} |"
        )
    text = "\n".join(lines)
    performance.publish(text, options.markdown, SECTION, pathlib.Path(__file__).name)


if __name__ == "__main__":
    main()
