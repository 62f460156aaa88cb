"""Property-based fuzzing of KlRenderTexture, run as a script in a child
interpreter so that a crash ends only that process.

    python tests/kl_render_tex/fuzz_render_tex.py --calls 100000            # random, as long as asked
    python tests/kl_render_tex/fuzz_render_tex.py --calls 3000 --derandomize  # the short run of the suite

Every Python-visible method, property, the unpickling function and every
native slot reachable through kl_probe is called with arbitrary argument
shapes and values, among them hostile objects: at each of their callbacks
(__int__, __index__, __float__, __bool__, __len__, __format__, __call__,
__del__, attribute lookups, the raylib binding, the drawing backend, the
window's display, subclass properties and overrides) hypothesis decides
whether they behave, raise an Exception, raise a BaseException, re-enter an
operation, or mutate a target or the module's globals.

Checked after every step: only documented exception types came out (or the
hostile objects' own), no SystemError; every target's record is consistent;
an operation documented to change nothing changed nothing, and a failed
__init__, property assignment or kill left its target as it was (both unless
hostile code changed things meanwhile). The last line printed is the summary:
"fuzz: N calls in S s (E examples)".

This script runs the examples and checks each step. The fuzzer itself is the
package `hostile_fuzzing` beside it: `world` (what an example drew, and the
mischief of hostile objects), `objects` (the hostile objects and stand-ins,
and the mutations) and `operations` (the table OPERATIONS: to fuzz a new
method, add a line there).
"""

import argparse
import gc
import math
import pathlib
import sys
import time
import types

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from hostile_fuzzing.objects import Backend, Binding, new_target  # noqa: E402
from hostile_fuzzing.operations import DOCUMENTED, OPERATIONS, identities, prepare, record_of  # noqa: E402
from hostile_fuzzing.world import HostileError, HostileInterrupt, World, draw, from_hypothesis  # noqa: E402

BATCH = 100  # examples per hypothesis run


def check_records():
    for t in World.pool:
        _, size, loaded = record_of(t)
        assert type(loaded) is bool, (t, loaded)
        assert size is None or isinstance(size, KlVector2), (t, size)
        if size is not None:  # the record's own width, whatever Python-level x says
            width, x = KlRenderTexture.width.__get__(t), KlVector2.x.__get__(size)
            assert width == x or (math.isnan(width) and math.isnan(x)), (t, width, x)


def step(name):
    kind, _ = OPERATIONS[name]
    before = []
    World.calls += 1
    failed = False
    changed = None
    try:
        call, changed = prepare(name)
        before = [(t, identities(t)) for t in World.pool]
        World.mutated = False
        call()
    except (*DOCUMENTED, HostileError, HostileInterrupt):
        failed = True
    except BaseException as error:  # noqa: BLE001
        if from_hypothesis(error):
            raise
        World.violations.append(f"{name}: {type(error).__name__}: {error}")
    assert not World.violations, World.violations
    check_records()
    if World.mutated or kind == "any":
        return
    for t, fields in before:
        if t is changed and not failed:
            continue  # a successful change of the target it was asked to change
        after = identities(t)
        assert fields == after, (name, t, record_of(t))


def reset():
    kl_render_tex.md = None
    kelo_raylib.backend = None
    kl_render_tex.kelo_state = types.SimpleNamespace(window=None)
    World.violations = []
    World.depth = 0
    World.exhausted = False


def unraisable(report):
    # Destruction reports BaseExceptions this way, with its own context; hostile
    # __del__ methods too. Anything else is a finding.
    if not issubclass(report.exc_type, (Exception, HostileInterrupt)) and not from_hypothesis(report.exc_value):
        World.violations.append(f"unraisable {report.exc_type.__name__}: {report.exc_value}")


@given(st.data())
def scenario(data):
    reset()
    World.generation += 1
    World.data = data
    try:
        kl_render_tex.md = types.SimpleNamespace(rl=Binding())
        kelo_raylib.backend = Backend()
        kl_render_tex.kelo_state = types.SimpleNamespace(window=types.SimpleNamespace(display=Backend()))
        World.pool = []
        World.pool.extend(new_target() for _ in range(draw(st.integers(1, 4))))
        for _ in range(draw(st.integers(1, 25))):
            step(draw(st.sampled_from(sorted(OPERATIONS))))
    finally:
        World.data = None
        World.pool = []
        reset()
        gc.collect()
        assert not World.violations, World.violations


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=100_000, help="stop once this many calls were made")
    parser.add_argument("--derandomize", action="store_true", help="the same examples every run")
    options = parser.parse_args()
    sys.unraisablehook = unraisable
    # Collections only where a step asks for one: finalisers that draw at the
    # collector's whim would make the examples irreproducible.
    gc.disable()
    # Destruction prints the BaseExceptions it reports (hostile ones, and
    # hypothesis' StopTest): quiet while an example runs, never at the top.
    sys.excepthook = (
        lambda kind, value, tb: None
        if issubclass(kind, HostileInterrupt) or (World.data is not None and from_hypothesis(value))
        else sys.__excepthook__(kind, value, tb)
    )
    # Derandomized, one run of fixed examples (about ten calls each, rarely
    # fewer than six) makes the calls; otherwise batches of fresh random
    # examples follow each other.
    size = max(1, options.calls // 6) if options.derandomize else BATCH
    run = settings(
        max_examples=size,
        deadline=None,
        database=None,
        derandomize=options.derandomize,
        suppress_health_check=list(HealthCheck),
        print_blob=True,
    )(scenario)
    start = time.monotonic()
    examples = 0
    while World.calls < options.calls:
        run()
        examples += size
        if options.derandomize:
            break
    print(f"fuzz: {World.calls} calls in {time.monotonic() - start:.1f} s ({examples} examples)", flush=True)


if __name__ == "__main__":
    main()
