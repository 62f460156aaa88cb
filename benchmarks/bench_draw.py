"""Cost of a blit drawn for real, through the window context, against raylib's
binding called from Python and against raylib itself called from C.

Run with `make bench-draw`: it prints the tables and rewrites their section
of docs/performance.md (`--markdown PATH` for another file, `--no-markdown`
to print only). One process, one headless window (a private Xvfb
when there is no display). An 8x8 render target is drawn into a 256x256 one,
1000 blits a frame. Every row draws inside `with dst:`, entered and left
outside the timing, so that raylib draws its batch outside it; the rows are
taken in turn, frame by frame, and each run keeps a row's best frame:

- submit: ns a blit for the calls, which fill raylib's vertex batch;
- flush: ns a blit for leaving the scope (raylib draws its batch) and
  waiting for the rasteriser (glFinish).

The ratios are to raw cffi `DrawTextureRec` with prebuilt structs, the
fastest blit a Python programmer can write; "raylib from C" is the floor of
every blit that goes through `DrawTextureRec`. Each figure is the median of
the runs, with the spread (lowest to highest) of the ratio. Timings never go
into the tests.
"""

import ctypes
import gc
import pathlib
import statistics
import timeit

import pyray
import raylib

import performance_report as performance
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from kelo_ui.window import open_window

BLITS = 1000
FRAMES = 15
RUNS = 3
WHITE = (255, 255, 255, 255)
RAW = "raw cffi DrawTextureRec, prebuilt structs"
RAW_PRO = "raw cffi DrawTexturePro, prebuilt structs"
PYRAY = "pyray.draw_texture_rec, tuples"
SECTION = "bench-draw"


def gl_library():
    """The GL library raylib draws with, or None."""
    for name in ("libGL.so.1", "libGL.so"):
        try:
            return ctypes.CDLL(name)
        except OSError:
            pass
    return None


def gl_finish():
    """glFinish of the GL library raylib draws with, or None."""
    return getattr(gl_library(), "glFinish", None)


def gl_renderer():
    """The GL renderer's name (the window must be open), or "unknown"."""
    get_string = getattr(gl_library(), "glGetString", None)
    if get_string is None:
        return "unknown"
    get_string.restype = ctypes.c_char_p
    name = get_string(0x1F01)  # GL_RENDERER
    return name.decode(errors="replace") if name else "unknown"


class Row:
    """One way of making BLITS blits: `statement` run `number` times, with the
    names of `setup` bound as locals."""

    def __init__(self, label, backend, statement, number=BLITS, setup="", scope=True):
        self.label = label
        self.backend = backend  # "native", or None when the toolkit is not involved
        self.statement = statement
        self.number = number
        self.setup = setup
        self.scope = scope  # drawn inside `with dst:` (False: the row begins its own scopes)
        self.submit = []  # per run: ns a blit, best frame
        self.flush = []
        self.best_submit = self.best_flush = float("inf")

    def ratios(self, rows):
        return [mine / raw for mine, raw in zip(self.submit, rows[RAW].submit, strict=True)]


def local(*names, **renamed):
    """A timer's setup that binds the namespace's `names` (and `renamed`,
    local name: expression) as locals of the timed loop."""
    bound = [f"{name} = _g[{name!r}]" for name in names] + [f"{name} = {value}" for name, value in renamed.items()]
    return "_g = globals(); " + "; ".join(bound)


LOCALS = local("dst", "src", "pos", "rect", "tex", "items", "area")


def make_rows():
    rows = [
        Row(
            "raylib DrawTextureRec from C",
            None,
            "floor(address, texture_bytes, 1000)",
            number=1,
            setup=local("floor", "address", "texture_bytes"),
        ),
        Row(
            RAW,
            None,
            "draw(c_tex, c_source, c_pos, c_white)",
            setup=local("c_tex", "c_source", "c_pos", "c_white", draw="_g['rl'].DrawTextureRec"),
        ),
        Row(
            PYRAY,
            None,
            "draw(tex, source, pos, white)",
            setup=local("tex", "source", "pos", "white", draw="_g['pyray'].draw_texture_rec"),
        ),
        Row(
            RAW_PRO,
            None,
            "draw(c_tex, c_part, c_part_dest, c_origin, 0.0, c_white)",
            setup=local("c_tex", "c_part", "c_part_dest", "c_origin", "c_white", draw="_g['rl'].DrawTexturePro"),
        ),
    ]
    for backend in ("native",):
        rows += [
            Row("dst.fast_blit(src, pos)", backend, "dst.fast_blit(src, pos)", setup=LOCALS),
            Row("dst.fast_blit(src, rect)", backend, "dst.fast_blit(src, rect)", setup=LOCALS),
            Row("dst.blit(src, pos) inside with dst", backend, "dst.blit(src, pos)", setup=LOCALS),
            Row("dst.fast_blits(items), per item", backend, "dst.fast_blits(items)", number=1, setup=LOCALS),
            Row("dst.blits(items), per item", backend, "dst.blits(items)", number=1, setup=LOCALS),
            Row("dst.fast_blit_texture(tex, pos)", backend, "dst.fast_blit_texture(tex, pos)", setup=LOCALS),
            Row("dst.fast_blit_region(src, area, pos)", backend, "dst.fast_blit_region(src, area, pos)", setup=LOCALS),
        ]
    rows.append(Row("dst.blit(src, pos) outside any scope", "native", "dst.blit(src, pos)", setup=LOCALS, scope=False))
    return {(row.label, row.backend): row for row in rows} | {row.label: row for row in rows if not row.backend}


def measure(window, rows, runs, frames):
    finish = gl_finish()
    src = KlRenderTexture(KlVector2(8, 8))
    src.clear((200, 100, 50, 255))
    dst = KlRenderTexture(KlVector2(256, 256))
    dst.clear((0, 0, 0, 255))
    tex = src.texture
    ffi = raylib.ffi
    namespace = {
        "dst": dst,
        "src": src,
        "tex": tex,
        "pos": (10, 20),
        "rect": (10, 20, 16, 16),
        "items": [(src, (10, 20))] * BLITS,
        "source": (0, 0, 8, -8),
        "white": WHITE,
        "pyray": pyray,
        "area": (1, 2, 4, 4),
        "rl": raylib.rl,
        "floor": kl_probe.draw_texture_rec_floor,
        "address": int(ffi.cast("uintptr_t", ffi.addressof(raylib.rl, "DrawTextureRec"))),
        "texture_bytes": bytes(ffi.buffer(ffi.new("Texture *", tex))),
        # Prebuilt structs for the raw cffi call.
        "c_tex": ffi.new("Texture *", (tex.id, tex.width, tex.height, tex.mipmaps, tex.format))[0],
        "c_source": ffi.new("Rectangle *", (0, 0, 8, -8))[0],
        "c_pos": ffi.new("Vector2 *", (10, 20))[0],
        "c_white": ffi.new("Color *", WHITE)[0],
        # The part (1, 2, 4, 4) of the picture, as DrawTexturePro takes it.
        "c_part": ffi.new("Rectangle *", (1, 2, 4, -4))[0],
        "c_part_dest": ffi.new("Rectangle *", (10, 20, 4, 4))[0],
        "c_origin": ffi.new("Vector2 *", (0, 0))[0],
    }
    unique = list(dict.fromkeys(rows.values()))
    timers = {row: timeit.Timer(row.statement, setup=row.setup, globals=namespace) for row in unique}
    for _ in range(runs):
        for row in unique:
            row.best_submit = row.best_flush = float("inf")
        gc.collect()
        for _ in range(frames):
            for row in unique:
                if row.scope:
                    dst.__enter__()
                submit = timers[row].timeit(row.number)
                started = timeit.default_timer()
                if row.scope:
                    dst.__exit__(None, None, None)
                if finish is not None:
                    finish()
                flush = timeit.default_timer() - started
                row.best_submit = min(row.best_submit, submit / BLITS * 1e9)
                row.best_flush = min(row.best_flush, flush / BLITS * 1e9)
        for row in unique:
            row.submit.append(row.best_submit)
            row.flush.append(row.best_flush)


def spread(values):
    return f"{performance.number(min(values))}-{performance.number(max(values))}"


# (row, backend, what it is measured against, its bound): every target.
TARGETS = [
    ("dst.fast_blit(src, pos)", "native", RAW, 0.70),
    ("dst.fast_blit(src, pos)", "native", PYRAY, 0.25),
    ("dst.blit(src, pos) inside with dst", "native", ("dst.fast_blit(src, pos)", "native"), 2.0),
    ("dst.fast_blits(items), per item", "native", RAW, 0.60),
    ("dst.blits(items), per item", "native", RAW, 0.65),
    ("dst.fast_blit_region(src, area, pos)", "native", RAW_PRO, 0.75),
]


def report(rows, runs, frames, renderer):
    lines = [
        performance.measured_on(f"raylib {raylib.__version__}", f"GL renderer {renderer}"),
        "",
        f"{BLITS} blits a frame (8x8 into 256x256), best frame of {frames} in each of {runs} runs; "
        "ns per blit, the median of the runs.",
        "",
        "| call | backend | submit | flush | × raw cffi | spread |",
        "| --- | --- | ---: | ---: | ---: | ---: |",
    ]
    for row in dict.fromkeys(rows.values()):
        ratios = row.ratios(rows)
        lines.append(
            f"| `{row.label}` | {row.backend or '-'} | {performance.number(statistics.median(row.submit))} | "
            f"{performance.number(statistics.median(row.flush))} | {performance.number(statistics.median(ratios))} | "
            f"{spread(ratios)} |"
        )
    return "\n".join([*lines, "", targets(rows)])


def targets(rows):
    """The targets, met or missed: the table the README shows too."""
    lines = ["| target | median | spread | |", "| --- | ---: | ---: | --- |"]
    for label, backend, against, bound in TARGETS:
        mine = rows[label, backend].submit
        other = rows[against].submit
        ratios = [m / o for m, o in zip(mine, other, strict=True)]
        name = against if isinstance(against, str) else against[0]
        verdict = "met" if statistics.median(ratios) <= bound else "missed"
        lines.append(
            f"| `{label}` ≤ {bound:.2f}x {name} | {performance.number(statistics.median(ratios))} | "
            f"{spread(ratios)} | {verdict} |"
        )
    return "\n".join(lines)


def main():
    options = performance.options(
        __doc__.splitlines()[0],
        SECTION,
        (("--runs",), {"type": int, "default": RUNS}),
        (("--frames",), {"type": int, "default": FRAMES}),
    )
    with open_window(64, 64, "kelo_ui bench", hidden=True) as window:
        rows = make_rows()
        measure(window, rows, options.runs, options.frames)
        text = report(rows, options.runs, options.frames, gl_renderer())
    script = pathlib.Path(__file__).name
    performance.publish(text, options.markdown, SECTION, script)
    if options.markdown is not None:
        performance.publish(targets(rows), performance.README, f"{SECTION}-targets", script, quiet=True)


if __name__ == "__main__":
    main()
