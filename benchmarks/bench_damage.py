"""Retained scenes: what a frame costs when little or nothing changed, against
a full recomposition and against pygame-ce's LayeredDirty.

Run with `make bench-damage`: it prints the tables and rewrites its section
of docs/performance.md (`--markdown PATH` for another file, `--no-markdown`
to print only). The scenes (damage_scene.py) are N widgets of 64x24, atlas
cells of the default pages, at seeded random places with seeded random
opaque colours: N = 200 and 2000 in an 800x600 scene, N = 10000 in a
1920x1080 one. A change redraws a widget's cell in a new colour
(`cell.clear`) and moves its item by up to 6 px, kept inside the scene.

The toolkit's rows, each frame being its changes, the call and glFinish:

- full recomposition: one change, then `scene.compose(full=True)`: the
  frame as it would cost with no damage kept;
- `scene.compose()` after 1 change, after 1% of the widgets changed, and
  with nothing changed;
- `window.present(scene)` after 1 change, its compose included, on a shown
  800x600 window (the 800x600 scenes only): a hidden one has no screen to
  put the parts on.

The peer (damage_peer.py) draws the same scenes through the same changes
with pygame-ce's LayeredDirty in a process of its own, from its own
environment (.venv-peer), with SDL_VIDEODRIVER=dummy.

Each process runs its rows in cycles, a block of frames of one row after
another: the first frame of a block follows another row's frame (a full
recomposition leaves the caches full of other pixels) and is not timed, so
that a row is timed as an application runs it, frame after frame of the same
kind. A row's figure in a round is its median frame; rounds alternate the
toolkit's process with the peer's, and each ratio is taken within a round.

The toolkit's processes run with LP_NUM_THREADS=1, one Mesa rasteriser
thread: with Mesa's default threads a full recomposition halves whenever
the machine's second core is free, while a frame of one change, too small
to share out, does not, so the ratios would follow the load of whatever
else runs beside the benchmark. `--rasteriser-threads 0` runs them with Mesa
rasterising on the drawing thread instead: with a rasteriser thread, once
bursts of draws into atlas cells have queued work faster than it drains (the
1% rows), a frame that changes little waits on that thread at switches
between atlas pages, the more so the more pages its damage draws from.

On the first, middle and last cycle the last frame of every row is checked:
the toolkit's `scene.target`, read back, and then the same scene recomposed
whole with `compose(full=True)`, must both be byte-identical to the scene
painted in plain Python from the widgets' places and colours, and so must
the peer's screen; the run fails otherwise. Timings never go into the tests.
"""

import ctypes
import json
import os
import pathlib
import statistics
import subprocess
import sys
import time

import damage_scene as damage
import frame_scene
import performance_report as performance

HERE = pathlib.Path(__file__).resolve().parent
PEER_PYTHON = HERE.parent / ".venv-peer" / "bin" / "python"
ROUNDS = 5
CYCLES = 8  # timed cycles a round
BLOCK = 5  # timed frames of a row in a cycle
SETTLE = 1  # untimed frames before them
WARMUP = 1  # untimed cycles first
SECTION = "bench-damage"

LABELS = {
    damage.FULL: "full recomposition, `compose(full=True)`",
    damage.ONE: "`compose()`, 1 change",
    damage.PERCENT: "`compose()`, 1% changed",
    damage.NOTHING: "`compose()`, nothing changed",
    damage.PRESENT: "`window.present(scene)`, 1 change",
}
PEER_LABELS = {
    damage.ONE: "pygame-ce LayeredDirty, 1 change",
    damage.PERCENT: "pygame-ce LayeredDirty, 1% changed",
    damage.NOTHING: "pygame-ce LayeredDirty, nothing changed",
}
# (what, N, its row, N, the row it is divided by, bound); a row of the peer's
# is ("peer", row).
TARGETS = [
    ("1 change, N = 2000", 2000, damage.ONE, 2000, damage.FULL, 0.013),
    ("1 change, N = 2000", 2000, damage.ONE, 2000, ("peer", damage.ONE), 0.55),
    ("1 change, N = 10000", 10000, damage.ONE, 10000, damage.FULL, 0.004),
    ("1 change, N = 10000", 10000, damage.ONE, 10000, ("peer", damage.ONE), 0.20),
    ("1 change, N = 10000", 10000, damage.ONE, 2000, damage.ONE, 1.5),
    ("nothing changed, N = 10000", 10000, damage.NOTHING, 10000, ("peer", damage.NOTHING), 0.02),
    ("1% changed, N = 2000", 2000, damage.PERCENT, 2000, damage.FULL, 0.20),
    ("1% changed, N = 10000", 10000, damage.PERCENT, 10000, damage.FULL, 0.25),
    ("present after 1 change, N = 2000", 2000, damage.PRESENT, 2000, damage.ONE, 1.5),
]


def toolkit_worker(cycles, block, settle, warmup):
    """The toolkit's process: prints one JSON line, {"renderer": ..., "copies_parts": ...,
    "counts": {N: {"pages": atlas pages, "rows": {row: {"ms": [...], "fallbacks": frames,
    "damaged": [px]}}}}}."""
    from kelo_ui import Atlas, KlVector2, Scene, open_window, read_rgba
    from kelo_ui.fast.raylib.kelo_raylib import context

    finish = frame_scene.gl_finish()
    results = {}
    with open_window(*damage.PRESENTED, "bench-damage") as window:
        renderer, copies_parts = gl_renderer(), context.copies_parts()
        for count, size in damage.CASES:
            widgets = damage.Widgets(count, size)
            atlas = Atlas()
            scene = Scene(KlVector2(*size), background=damage.BACKGROUND)
            cells, items = [], []
            for place, fill in zip(widgets.places, widgets.colours, strict=True):
                cell = atlas.allocate(KlVector2(*damage.WIDGET))
                cell.clear(fill)
                cells.append(cell)
                items.append(scene.add(cell, place))
            scene.compose()
            whole = [(0, 0, *size)]

            def apply(changes):
                for index, x, y, fill in changes:
                    cells[index].clear(fill)
                    items[index].move((x, y))

            def full(changes):
                apply(changes)
                return scene.compose(full=True)

            def partial(changes):
                apply(changes)
                return scene.compose()

            def present(changes):
                apply(changes)
                return window.present(scene)

            calls = {
                damage.FULL: full,
                damage.ONE: partial,
                damage.PERCENT: partial,
                damage.NOTHING: partial,
                damage.PRESENT: present,
            }
            rows = {row: {"ms": [], "fallbacks": 0, "damaged": []} for row in damage.rows(size)}
            for row, timed, checked in damage.schedule(size, cycles, block, settle, warmup):
                changes = widgets.changes(damage.changed(row, count))
                started = time.perf_counter()
                boxes = calls[row](changes)
                finish()
                elapsed = (time.perf_counter() - started) * 1e3
                if not timed:
                    continue
                figures = rows[row]
                figures["ms"].append(elapsed)
                figures["fallbacks"] += boxes == whole and row != damage.FULL
                figures["damaged"].append(sum(width * height for _, _, width, height in boxes))
                if checked:
                    expected = widgets.picture()
                    if read_rgba(scene.target)[2] != expected:
                        raise SystemExit(f"N = {count}, {LABELS[row]}: the scene's target is not the scene")
                    scene.compose(full=True)
                    if read_rgba(scene.target)[2] != expected:
                        raise SystemExit(f"N = {count}, after {LABELS[row]}: a full recomposition is not the scene")
            results[count] = {"pages": len(atlas.pages), "rows": rows}
            for cell in cells:
                cell.kill()
    print(json.dumps({"renderer": renderer, "copies_parts": copies_parts, "counts": results}))


def gl_renderer():
    """The GL renderer's name (the window must be open), or "unknown"."""
    try:
        get_string = ctypes.CDLL("libGL.so.1").glGetString
    except (OSError, AttributeError):
        return "unknown"
    get_string.restype = ctypes.c_char_p
    name = get_string(0x1F01)  # GL_RENDERER
    return name.decode(errors="replace") if name else "unknown"


def run(command, env):
    result = subprocess.run(command, capture_output=True, text=True, env=env, cwd=HERE, timeout=1800)
    if result.returncode != 0:
        raise SystemExit(f"{pathlib.Path(command[1]).name} failed:\n{result.stderr}{result.stdout[-2000:]}")
    found = json.loads(result.stdout.strip().splitlines()[-1])
    found["counts"] = {int(count): rows for count, rows in found["counts"].items()}
    return found


def measure(options):
    """({N: {row: [median ms of each round]}} with the peer's rows as ("peer", row),
    and what the processes said of themselves: {N: {("peer", row): frames in
    full-screen mode, row: compose()s that drew everything}}, the renderer,
    whether the window copies parts, pygame-ce's version, the atlas pages of each N)."""
    from kelo_ui.core import virtual_display
    from kelo_ui.core.virtual_display import VirtualDisplay

    peer_python = pathlib.Path(options.peer_python).absolute()  # not resolved: that would leave the venv
    if not peer_python.exists():
        raise SystemExit(f"no Python with pygame-ce at {peer_python}: `make bench-damage` makes it")
    server = None
    if virtual_display.wanted():
        server = VirtualDisplay()
        server.start(1024, 768)
    try:
        numbers = [str(options.cycles), str(BLOCK), str(SETTLE), str(WARMUP)]
        toolkit_env = dict(os.environ, PYTHONPATH=str(HERE), LP_NUM_THREADS=str(options.rasteriser_threads))
        peer_env = dict(os.environ, PYTHONPATH=str(HERE), SDL_VIDEODRIVER="dummy", PYGAME_HIDE_SUPPORT_PROMPT="1")
        medians = {count: {} for count, _ in damage.CASES}
        counted = {count: {} for count, _ in damage.CASES}
        about = {}
        for _ in range(options.rounds):
            toolkit = run([sys.executable, str(HERE / "bench_damage.py"), "--worker", *numbers], toolkit_env)
            peer = run([str(peer_python), str(HERE / "damage_peer.py"), *numbers], peer_env)
            about.update(renderer=toolkit["renderer"], copies_parts=toolkit["copies_parts"], pygame=peer["pygame"])
            for count, _ in damage.CASES:
                about.setdefault("pages", {})[count] = toolkit["counts"][count]["pages"]
                for row, figures in toolkit["counts"][count]["rows"].items():
                    medians[count].setdefault(row, []).append(statistics.median(figures["ms"]))
                    seen = counted[count].setdefault(row, [0, 0, []])
                    seen[0] += figures["fallbacks"]
                    seen[1] += len(figures["ms"])
                    seen[2] += figures["damaged"]
                for row, figures in peer["counts"][count].items():
                    medians[count].setdefault(("peer", row), []).append(statistics.median(figures["ms"]))
                    counted[count].setdefault(("peer", row), [0, 0])
                    counted[count][("peer", row)][0] += figures["full_screen"]
                    counted[count][("peer", row)][1] += len(figures["ms"])
        return medians, counted, about
    finally:
        if server is not None:
            server.stop()


def report(medians, counted, about, options):
    sizes = dict(damage.CASES)
    lines = [
        performance.measured_on(
            f"GL renderer {about['renderer']} with LP_NUM_THREADS={options.rasteriser_threads}",
            f"pygame-ce {about['pygame']}",
        ),
        "",
        f"Widgets of {damage.WIDGET[0]}x{damage.WIDGET[1]} (atlas cells) at seeded random places; a change redraws "
        f"a widget in a new colour and moves it by up to {damage.STEP} px. {options.rounds} rounds alternating the "
        f"toolkit's process with the peer's; in each, {options.cycles} cycles of {BLOCK} timed frames a row (after "
        f"{SETTLE} untimed), the round's figure the median frame. ms a frame, changes and glFinish included (the "
        "median of the rounds), the rounds' spread, and the ratio to the full recomposition of the same round. "
        "**drew everything**: the frames whose compose() fell back to a full recomposition (the toolkit), or "
        "that LayeredDirty drew in its full-screen mode (the peer); **damage**: the median of the pixels a "
        "frame's compose() drew.",
        "",
        "| N | scene | row | ms | spread | × full | drew everything | damage (px) |",
        "| ---: | --- | --- | ---: | ---: | ---: | ---: | ---: |",
    ]
    for count, rows in medians.items():
        full = rows[damage.FULL]
        for row, values in rows.items():
            peer = isinstance(row, tuple)
            ratios = [value / base for value, base in zip(values, full, strict=True)]
            drew, frames, *damaged = counted[count][row]
            lines.append(
                f"| {count} | {sizes[count][0]}x{sizes[count][1]} | {PEER_LABELS[row[1]] if peer else LABELS[row]} | "
                f"{performance.number(statistics.median(values))} | {spread(values)} | "
                f"{'-' if peer else performance.number(statistics.median(ratios))} | "
                f"{drew} of {frames} | "
                f"{performance.number(statistics.median(damaged[0])) if damaged and damaged[0] else '-'} |"
            )
    presents = "part by part (GLX_MESA_copy_sub_buffer)" if about["copies_parts"] else "whole, in a frame of its own"
    pages = ", ".join(f"{count} widgets on {found}" for count, found in about["pages"].items())
    lines += [
        "",
        f"The window put the scene on the screen {presents}. Atlas pages: {pages}.",
        "",
        "| target | median | spread | |",
        "| --- | ---: | ---: | --- |",
    ]
    for what, count, row, other_count, other, bound in TARGETS:
        ratios = [value / base for value, base in zip(medians[count][row], medians[other_count][other], strict=True)]
        if isinstance(other, tuple):
            against = PEER_LABELS[other[1]]
        elif other == damage.FULL:
            against = "full recomposition"
        else:
            against = f"{LABELS[other]}, N = {other_count}"
        verdict = "met" if statistics.median(ratios) <= bound else "missed"
        lines.append(
            f"| {what} ≤ {bound:g}x {against} | {performance.number(statistics.median(ratios))} "
            f"| {spread(ratios)} | {verdict} |"
        )
    return "\n".join(lines)


def spread(values):
    return f"{performance.number(min(values))}-{performance.number(max(values))}"


def main():
    if len(sys.argv) == 6 and sys.argv[1] == "--worker":
        toolkit_worker(*map(int, sys.argv[2:]))
        return
    options = performance.options(
        __doc__.splitlines()[0],
        SECTION,
        (("--rounds",), {"type": int, "default": ROUNDS}),
        (("--cycles",), {"type": int, "default": CYCLES}),
        (("--peer-python",), {"default": str(PEER_PYTHON), "help": "a Python with pygame-ce (default: %(default)s)"}),
        (
            ("--rasteriser-threads",),
            {"type": int, "default": 1, "help": "the toolkit's LP_NUM_THREADS (default: %(default)s; 0: none)"},
        ),
    )
    medians, counted, about = measure(options)
    text = report(medians, counted, about, options)
    performance.publish(text, options.markdown, SECTION, pathlib.Path(__file__).name)


if __name__ == "__main__":
    main()
