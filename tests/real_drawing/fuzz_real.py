"""A seeded random driver of the real drawing stack, checked against a model of its pixels.

    python tests/real_drawing/fuzz_real.py --seed 7 --steps 2000     # one seed, in this process
    python tests/real_drawing/fuzz_real.py --seconds 60              # seed after seed, each in a child

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

Atlas cells are targets of their own for the model (a cell draws and is
drawn as a target of its size would be), and a region is a blit of a target
holding the part (`blit_region`, `fast_blit_region`).

The first divergence ends the run: the seed, the step, the last operations
as Python and the expected against the read pixels. The fuzzer itself is the
package `fuzzing` beside this file: `model` (the intervals and the
compositor), `driver` (the state, the checks, the choices and the run),
`operations` and `blitting`; `replay` heads a log of the operations.
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

from fuzzing.driver import Fuzzer  # noqa: E402
from fuzzing.model import Divergence  # noqa: E402

# A log of the operations starts with fuzzing/replay.py, as it is.
PRELUDE = (pathlib.Path(__file__).resolve().parent / "fuzzing" / "replay.py").read_text()


def runnable(line):
    """A logged line as a statement that runs on: a refused call is suppressed."""
    code, _, comment = line.partition("  # raises ")
    if not comment or "there" in comment:
        return line
    indent = code[: len(code) - len(code.lstrip())]
    return f"{indent}with suppress(Exception): {code.strip()}  # raises {comment}"


def run_seed(seed, steps, log_path=None, strict=False, trail=None):
    """One seed in this process; 0 when clean, 1 with a report on a divergence."""
    for name in ("DISPLAY", "XDG_RUNTIME_DIR"):  # a private Xvfb, and so llvmpipe: what the model is measured on
        os.environ.pop(name, None)
    started = time.monotonic()
    faulthandler.enable()
    fuzzer = Fuzzer(seed, strict, trail)
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
        f"{stats['refused']} refusals"
    )
    return 0


def run_for(seconds, first_seed, steps, timeout):
    """Seed after seed, each in a child, until `seconds` have passed; the first failure ends it."""
    with tempfile.TemporaryDirectory(prefix="fuzz-real-") as folder:
        return run_children(seconds, first_seed, steps, timeout, os.path.join(folder, "trail.txt"))


def run_children(seconds, first_seed, steps, timeout, trail):
    deadline = time.monotonic() + seconds
    seed, clean = first_seed, 0
    while time.monotonic() < deadline:
        command = [sys.executable, __file__, "--seed", str(seed), "--steps", str(steps), "--trail", trail]
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
    options = parser.parse_args(argv)
    seed = options.seed if options.seed is not None else random.randrange(1 << 30)
    if options.seconds is not None:
        return run_for(options.seconds, seed, options.steps or 2000, options.timeout)
    gc.collect()
    return run_seed(seed, options.steps or 2000, options.log, options.strict, options.trail)


if __name__ == "__main__":
    sys.exit(main())
