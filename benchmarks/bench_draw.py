"""Cost of a blit drawn for real, on the native backend and on the Python
backend, against raylib's binding called from Python.

Run with `make bench-draw`. One process, one headless window (a private Xvfb
when there is no display), one run. An 8x8 render target is drawn into a
256x256 one, 1000 blits a frame; each row is timed over several frames,
taken in turn with the other rows, and its best frame is reported:

- submit: ns a blit for the 1000 calls, which fill raylib's vertex batch
  (for `blit`, which begins and ends its own scopes, the batch is drawn at
  every blit: its figure includes that);
- flush: ns a blit for ending the frame's texture mode (drawing the batch)
  and waiting for the rasteriser (glFinish).

Timings never go into the tests.
"""

import ctypes
import gc
import timeit

import pyray
import raylib

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.window import make_backend, open_window

BLITS = 1000
FRAMES = 25
WHITE = (255, 255, 255, 255)


def gl_finish():
    """glFinish of the GL library raylib draws with, or None."""
    for name in ("libGL.so.1", "libGL.so"):
        try:
            return ctypes.CDLL(name).glFinish
        except (OSError, AttributeError):
            pass
    return None


class Row:
    def __init__(self, label, backend, statement, scoped=False):
        self.label = label
        self.backend = backend      # "native", "python", or None when no backend is involved
        self.statement = statement
        self.scoped = scoped        # opens its own texture mode
        self.submit = self.flush = float("inf")


def main():
    finish = gl_finish()
    with open_window(64, 64, "kelo_ui bench", hidden=True) as window:
        backends = {"native": make_backend("native"), "python": make_backend("python")}
        src = KlRenderTexture(KlVector2(8, 8))
        src.clear((200, 100, 50, 255))
        dst = KlRenderTexture(KlVector2(256, 256))
        dst.clear((0, 0, 0, 255))
        tex = src.texture
        ffi = raylib.ffi
        namespace = {
            "dst": dst, "src": src, "tex": tex, "pos": (10, 20), "rect": (10, 20, 16, 16),
            "source": (0, 0, 8, -8), "white": WHITE, "pyray": pyray, "rl": raylib.rl,
            # Prebuilt structs for the raw cffi call.
            "c_tex": ffi.new("Texture *", (tex.id, tex.width, tex.height, tex.mipmaps, tex.format))[0],
            "c_source": ffi.new("Rectangle *", (0, 0, 8, -8))[0],
            "c_pos": ffi.new("Vector2 *", (10, 20))[0],
            "c_white": ffi.new("Color *", WHITE)[0],
        }
        rows = [
            Row("(the loop alone)", None, "pass"),
            Row("dst.fast_blit(src, pos)", "native", "dst.fast_blit(src, pos)"),
            Row("dst.fast_blit(src, rect)", "native", "dst.fast_blit(src, rect)"),
            Row("dst.fast_blit_texture(tex, pos)", "native", "dst.fast_blit_texture(tex, pos)"),
            Row("dst.blit(src, pos)", "native", "dst.blit(src, pos)", scoped=True),
            Row("dst.fast_blit(src, pos)", "python", "dst.fast_blit(src, pos)"),
            Row("dst.fast_blit(src, rect)", "python", "dst.fast_blit(src, rect)"),
            Row("dst.fast_blit_texture(tex, pos)", "python", "dst.fast_blit_texture(tex, pos)"),
            Row("dst.blit(src, pos)", "python", "dst.blit(src, pos)", scoped=True),
            Row("pyray.draw_texture_rec, tuples", None, "pyray.draw_texture_rec(tex, source, pos, white)"),
            Row("raw cffi DrawTextureRec, prebuilt structs", None, "rl.DrawTextureRec(c_tex, c_source, c_pos, c_white)"),
        ]
        timers = {row: timeit.Timer(row.statement, globals=namespace) for row in rows}
        gc.collect()
        for _ in range(FRAMES):
            for row in rows:
                if row.backend is not None:
                    window.use_backend(backends[row.backend])
                if not row.scoped:
                    pyray.begin_texture_mode(dst.render_texture)
                submit = timers[row].timeit(BLITS)
                started = timeit.default_timer()
                if not row.scoped:
                    pyray.end_texture_mode()
                if finish is not None:
                    finish()
                flush = timeit.default_timer() - started
                row.submit = min(row.submit, submit / BLITS * 1e9)
                row.flush = min(row.flush, flush / BLITS * 1e9)
        report(rows, finish is not None)


def report(rows, finished):
    by_name = {(row.label, row.backend): row for row in rows}
    raw = by_name["raw cffi DrawTextureRec, prebuilt structs", None].submit
    wrapped = by_name["pyray.draw_texture_rec, tuples", None].submit
    flush_note = "flush" if finished else "flush*"
    print(f"{BLITS} blits a frame (8x8 into 256x256), best of {FRAMES} frames; ns per blit")
    print()
    print(f"| call | backend | submit | {flush_note} | submit / raw cffi | pyray / submit |")
    print("| --- | --- | ---: | ---: | ---: | ---: |")
    for row in rows:
        print(f"| `{row.label}` | {row.backend or '-'} | {row.submit:.0f} | {row.flush:.0f} | "
              f"{row.submit / raw:.2f} | {wrapped / row.submit:.1f} |")
    if not finished:
        print("\n* no glFinish found: the flush column is ending texture mode only")
    native = by_name["dst.fast_blit(src, pos)", "native"].submit
    print()
    print(f"fast_blit (position, native backend): {native:.0f} ns; "
          f"at most raw cffi ({raw:.0f} ns): {'met' if native <= raw else 'missed'}; "
          f"{wrapped / native:.1f}x less than pyray.draw_texture_rec ({wrapped:.0f} ns), "
          f"at least 4x: {'met' if wrapped >= 4 * native else 'missed'}")


if __name__ == "__main__":
    main()
