"""A seeded random driver of the real drawing stack, checked against a model of its pixels.

    python tests/real_drawing/fuzz_real.py --seed 7 --steps 2000     # one seed, in this process
    python tests/real_drawing/fuzz_real.py --seconds 60              # seed after seed, each in a child

Real windows (a private Xvfb with Mesa's llvmpipe: DISPLAY is dropped), real
render targets, atlas cells, textures made from images, scopes, blend modes,
frames, other threads, windows closed and opened again, and raylib itself
through md.rl inside all of them: its shapes and texture functions, scissor,
shader and camera modes, rlgl's matrices, and what md.rl refuses. Every render
target, cell and texture has a model: per pixel and channel the interval its
value must lie in, computed by the model's own compositor; so does every atlas
page outside its live cells. Pixels that no exact rule predicts (a new target
before its first clear, texel or edge boundaries under a pixel centre, what a
3D camera draws) get wide intervals, and every read narrows them again to what
was read. After every operation the backend's open scopes and current target
must be the model's, and every `loaded` flag as expected.

What the model says (the formulas measured on the real stack):
- clear and fill set every pixel of their target within its clip to the
  colour (None is (0, 0, 0, 0)), unblended, above anything drawn before;
  fast_clear, md.rl.clear_background and rl_clear_screen_buffers do it to the
  current target.
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
- fast_blit, fast_blit_texture, fast_blits and md.rl's drawing go into the
  current target in the innermost blend mode; blit, blit_texture, blits,
  blit_region and nine-slice into their own target in their own mode.
- md.rl's texture functions see a texture as stored: a render texture's (and
  a cell's) rows bottom-up, an image's top-down; a cell as a texture of its
  own size.
- Each scope draws with its clip, shader and rlgl's matrices (`fuzzing.scopes`
  says how they begin, change and end). A mirrored quad faces away and is
  culled; the magenta shader draws opaque magenta, the other the tinted texel
  with r, g, b turned to g, b, r.
- Anything refused raises and changes nothing: no pixel, no open scope.

Atlas cells are targets of their own for the model (a cell draws and is
drawn as a target of its size would be); a page holds each live cell's
pixels in its area and keeps what it had elsewhere (cleared when made,
unknown where a cell died until a new cell there is drawn). A region is a
blit of a target holding the part (`blit_region`, `fast_blit_region`).

Scenes show targets, cells and other scenes' targets; their model is the
items as set, and each compose is checked against a fresh scene composing
the same items whole, against the model's picture, and against the boxes it
returned (`fuzzing.scenes` says what else).

Faults of the product the fuzzer found and that are not fixed yet are named
in `fuzzing.driver.KNOWN_FAULTS`; a run steers around them unless asked to
run into one (`--known NAME`).

The first divergence ends the run: the seed, the step, the last operations
as Python and the expected against the read pixels. The fuzzer itself is the
package `fuzzing` beside this file: `model` (the intervals and the
compositor), `scopes` (what each scope draws with), `driver` (the state, the
checks, the choices and the run), `operations`, `blitting`, `raylib_calls`
(md.rl's drawing, textures, refusals and the pages), `hazards` (md.rl from
another thread, and conversions that fork, are interrupted or close the
window) and `scenes` (retained scenes); `replay` heads a log of the operations.
"""

from __future__ import annotations

import argparse
import faulthandler
import gc
import os
import pathlib
import random
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from fuzzing.driver import KNOWN_FAULTS, Fuzzer  # noqa: E402
from fuzzing.model import Divergence  # noqa: E402

# A log of the operations starts with fuzzing/replay.py, as it is.
PRELUDE = (pathlib.Path(__file__).resolve().parent / "fuzzing" / "replay.py").read_text()


def runnable(line):
    """A logged line as a statement that runs on: a refused call is suppressed."""
    code, _, comment = line.partition("  # raises ")
    if not comment or "there" in comment:
        return line
    indent = code[: len(code) - len(code.lstrip())]
    return f"{indent}with suppress(Exception, KeyboardInterrupt): {code.strip()}  # raises {comment}"


def run_seed(seed, steps, log_path=None, strict=False, trail=None, known=()):
    """One seed in this process; 0 when clean, 1 with a report on a divergence."""
    for name in ("DISPLAY", "XDG_RUNTIME_DIR"):  # a private Xvfb, and so llvmpipe: what the model is measured on
        os.environ.pop(name, None)
    started = time.monotonic()
    faulthandler.enable()
    fuzzer = Fuzzer(seed, strict, trail, known)
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
        print(f"again: python {sys.argv[0]} --seed {seed} --steps {fuzzer.step}")
        sys.stdout.flush()
        os._exit(1)  # the window and its objects are left as they are
    stats = fuzzer.stats
    compared = stats["channels exact"] + stats["channels near"] + stats["channels unknown"]
    print(
        f"fuzz-real: seed {seed} clean: {fuzzer.step} steps in {time.monotonic() - started:.1f} s, "
        f"{stats['reads']} reads, {compared} channels read ({stats['channels exact']} exact, "
        f"{stats['channels near']} within +-2, {stats['channels unknown']} unpredicted), "
        f"{stats['refused']} refusals, {stats['composes']} scenes composed ({stats['composed in parts']} in parts)"
    )
    return 0


def run_for(seconds, first_seed, steps, timeout, known=()):
    """Seed after seed, each in a child, until `seconds` have passed; the first failure ends it."""
    with tempfile.TemporaryDirectory(prefix="fuzz-real-") as folder:
        return run_children(seconds, first_seed, steps, timeout, os.path.join(folder, "trail.txt"), known)


def run_children(seconds, first_seed, steps, timeout, trail, known=()):
    deadline = time.monotonic() + seconds
    seed, clean = first_seed, 0
    while time.monotonic() < deadline:
        command = [sys.executable, __file__, "--seed", str(seed), "--steps", str(steps), "--trail", trail]
        command += [f"--known={name}" for name in known]
        again = f"python {sys.argv[0]} --seed {seed} --steps {steps}"
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
    parser.add_argument("--timeout", type=float, default=300, help="seconds a seed may take (with --seconds)")
    parser.add_argument("--log", help="on a divergence, write every operation as Python into this file")
    parser.add_argument("--trail", help=argparse.SUPPRESS)  # where a child writes each operation as it starts
    parser.add_argument(
        "--strict",
        action="store_true",
        help="read every live target after every step, naming the step that diverges (this "
        "draws raylib's batch every step, which hides faults that need one pending)",
    )
    parser.add_argument(
        "--known",
        action="append",
        default=[],
        choices=sorted(KNOWN_FAULTS),
        help="run into this known fault of the product instead of steering around it",
    )
    options = parser.parse_args(argv)
    seed = options.seed if options.seed is not None else random.randrange(1 << 30)
    if options.seconds is not None:
        return run_for(options.seconds, seed, options.steps or 2000, options.timeout, options.known)
    gc.collect()
    return run_seed(seed, options.steps or 2000, options.log, options.strict, options.trail, options.known)


if __name__ == "__main__":
    sys.exit(main())
