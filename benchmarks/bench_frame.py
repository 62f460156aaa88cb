"""Whole frames: an 800x600 scene composed of N widgets of 64x24, against the
same scene written by hand without the toolkit.

Run with `make bench-frame`: it prints the table and rewrites its section of
docs/performance.md (`--markdown PATH` for another file, `--no-markdown` to
print only). One X server (a private Xvfb when there is no display) serves
every process. Each round runs the baseline's process (frame_baseline.py:
pyray draws each widget into a render texture of its own, raw cffi
DrawTextureRec with prebuilt structs composes them; it never imports
kelo_ui and keeps the C library's default heap settings), then the toolkit's
process, whose rows take turns frame by frame:

- pyray with tuples (`pyray.draw_texture_rec`), the widgets in targets;
- one target per widget, composed with `fast_blits`;
- atlas cells, composed with `fast_blits`, the heap not pinned;
- atlas cells, composed with `fast_blits`, the heap pinned (the toolkit's
  default while a window is open).

A frame is one scope on the scene with its clear and the N blits, then
glFinish, all inside the timing. Each
row's figure is the median frame of a round; the table gives the median over
the rounds and the spread of the ratio to the baseline. Every row's scene must
be byte-identical to the baseline's, or the run fails. Timings never go into
the tests.
"""

import ctypes
import hashlib
import json
import os
import pathlib
import statistics
import subprocess
import sys
import time

import frame_scene as scene
import performance_report as performance

HERE = pathlib.Path(__file__).resolve().parent
ROUNDS = 3
FRAMES = 15
SECTION = "bench-frame"
BASELINE = "baseline: pyray widgets, raw cffi DrawTextureRec"
ROWS = [
    "pyray, tuples",
    "one target per widget, fast_blits",
    "atlas cells, fast_blits, heap not pinned",
    "atlas cells, fast_blits, heap pinned",
]
# (row, count, the bound of its frame over the baseline's)
TARGETS = [(ROWS[3], 20, 0.90), (ROWS[3], 200, 0.55), (ROWS[3], 2000, 0.60)]


def toolkit_worker(frames):
    """The toolkit's process: prints {count: {row: {"ms": [...], "hash": ...}}}."""
    import pyray

    from kelo_ui.atlas import Atlas
    from kelo_ui.core import heap, modules
    from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
    from kelo_ui.fast.klvector2.klvector2 import KlVector2
    from kelo_ui.presentation.pixels import read_rgba
    from kelo_ui.window import open_window

    libc = ctypes.CDLL(None)
    trim = heap._M_TRIM_THRESHOLD  # the unpinned row runs with glibc's default threshold
    rl = modules.rl
    finish = scene.gl_finish()
    results = {}
    with open_window(64, 64, "bench-frame", hidden=True):
        target = KlRenderTexture(KlVector2(*scene.SCENE))
        atlas = Atlas()
        for count in scene.COUNTS:
            size = KlVector2(*scene.WIDGET)
            caches = {
                "targets": [KlRenderTexture(size) for _ in range(count)],
                "cells": [atlas.allocate(size) for _ in range(count)],
            }
            for widgets in caches.values():
                for index, widget in enumerate(widgets):
                    widget.clear(None)
                    with widget:
                        scene.draw_widget(rl, index)
            places = scene.positions(count)
            items = {
                kind: [(widget, place) for widget, place in zip(widgets, places, strict=True)]
                for kind, widgets in caches.items()
            }
            textures = [widget.texture for widget in caches["targets"]]
            width, height = scene.WIDGET
            source = (0, 0, width, -height)

            def by_pyray():
                pyray.begin_texture_mode(target.render_texture)
                pyray.clear_background(scene.BACKGROUND)
                for texture, place in zip(textures, places, strict=True):
                    pyray.draw_texture_rec(texture, source, place, scene.WHITE)
                pyray.end_texture_mode()

            def blitted(kind):
                def frame():
                    with target:
                        target.fast_clear(scene.BACKGROUND)
                        target.fast_blits(items[kind])

                return frame

            unpinned_frame = blitted("cells")

            def unpinned():
                libc.mallopt(trim, heap._started_with())
                try:
                    unpinned_frame()
                    finish()
                finally:
                    libc.mallopt(trim, heap.PINNED_TRIM_THRESHOLD)

            rows = {ROWS[0]: by_pyray, ROWS[1]: blitted("targets"), ROWS[2]: unpinned, ROWS[3]: blitted("cells")}
            times = {row: [] for row in rows}
            digests = {}
            for _ in range(frames):
                for row, frame in rows.items():
                    started = time.perf_counter()
                    frame()
                    finish()
                    times[row].append((time.perf_counter() - started) * 1e3)
            for row, frame in rows.items():
                frame()
                digests[row] = hashlib.sha256(read_rgba(target)[2]).hexdigest()
            results[count] = {row: {"ms": times[row], "hash": digests[row]} for row in rows}
            for widgets in caches.values():
                for widget in widgets:
                    widget.kill()
    print(json.dumps(results))


def run(script, *arguments, env):
    result = subprocess.run(
        [sys.executable, str(HERE / script), *arguments],
        capture_output=True,
        text=True,
        env=env,
        cwd=HERE,
        timeout=1800,
    )
    if result.returncode != 0:
        raise SystemExit(f"{script} failed:\n{result.stderr}")
    return {int(count): value for count, value in json.loads(result.stdout.strip().splitlines()[-1]).items()}


def measure(rounds, frames):
    """{count: {row: [median ms of each round]}}, the baseline's row included."""
    from kelo_ui.core import virtual_display
    from kelo_ui.core.virtual_display import VirtualDisplay

    server = None
    if virtual_display.wanted():
        server = VirtualDisplay()
        server.start(1024, 768)
    try:
        env = dict(os.environ, PYTHONPATH=str(HERE))
        medians = {count: {row: [] for row in [BASELINE, *ROWS]} for count in scene.COUNTS}
        for _ in range(rounds):
            baseline = run("frame_baseline.py", str(frames), env=env)
            toolkit = run("bench_frame.py", "--worker", str(frames), env=env)
            for count in scene.COUNTS:
                medians[count][BASELINE].append(statistics.median(baseline[count]["ms"]))
                for row in ROWS:
                    if toolkit[count][row]["hash"] != baseline[count]["hash"]:
                        raise SystemExit(f"{row}, {count} widgets: the scene is not the baseline's")
                    medians[count][row].append(statistics.median(toolkit[count][row]["ms"]))
        return medians
    finally:
        if server is not None:
            server.stop()


def report(medians, rounds, frames, renderer):
    lines = [
        performance.measured_on(renderer),
        "",
        f"An {scene.SCENE[0]}x{scene.SCENE[1]} scene of N widgets of {scene.WIDGET[0]}x{scene.WIDGET[1]}; "
        f"the median of {frames} frames a round, {rounds} rounds alternating the baseline's process with the "
        "toolkit's. ms a frame (median of the rounds), its ratio to the baseline, and that ratio's spread.",
        "",
        "| N | row | ms | × baseline | spread |",
        "| ---: | --- | ---: | ---: | ---: |",
    ]
    for count, rows in medians.items():
        baseline = rows[BASELINE]
        for row, values in rows.items():
            ratios = [value / base for value, base in zip(values, baseline, strict=True)]
            lines.append(
                f"| {count} | {row} | {performance.number(statistics.median(values))} | "
                f"{performance.number(statistics.median(ratios))} | {spread(ratios)} |"
            )
    lines += ["", "| target | median | spread | |", "| --- | ---: | ---: | --- |"]
    for row, count, bound in TARGETS:
        ratios = [value / base for value, base in zip(medians[count][row], medians[count][BASELINE], strict=True)]
        verdict = "met" if statistics.median(ratios) <= bound else "missed"
        lines.append(
            f"| {row}, N = {count} ≤ {bound:.2f}x baseline | {performance.number(statistics.median(ratios))} "
            f"| {spread(ratios)} | {verdict} |"
        )
    return "\n".join(lines)


def spread(values):
    return f"{performance.number(min(values))}-{performance.number(max(values))}"


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--worker":
        toolkit_worker(int(sys.argv[2]))
        return
    options = performance.options(
        __doc__.splitlines()[0],
        SECTION,
        (("--rounds",), {"type": int, "default": ROUNDS}),
        (("--frames",), {"type": int, "default": FRAMES}),
    )
    medians = measure(options.rounds, options.frames)
    import raylib

    text = report(medians, options.rounds, options.frames, f"raylib {raylib.__version__}")
    performance.publish(text, options.markdown, SECTION, pathlib.Path(__file__).name)


if __name__ == "__main__":
    main()
