"""Cost of the hot KlRenderTexture calls, as ratios against native floors.

Run with `make bench`. Every figure comes from one process and one run: each
call is timed over many iterations (best of several repeats) and divided by
the floor of the same call shape, a METH_FASTCALL method of a tiny native type
that does nothing but return its value. Timings never go into the tests.
"""

import sys
import timeit

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from kelo_ui.fast.raylib import kelo_raylib

NUMBER = 200_000
REPEAT = 7


def best_ns(statement, namespace):
    timer = timeit.Timer(statement, globals=namespace)
    return min(timer.repeat(repeat=REPEAT, number=NUMBER)) / NUMBER * 1e9


def allocated_blocks(statement, namespace, calls=100_000):
    """Blocks still allocated after `calls` calls (0 when nothing is kept)."""
    code = compile(f"for _ in range({calls}):\n    {statement}", "<bench>", "exec")
    exec(code, namespace)  # warm up free lists and caches
    before = sys.getallocatedblocks()
    exec(code, namespace)
    return sys.getallocatedblocks() - before


def main():
    rt = KlRenderTexture.__new__(KlRenderTexture)
    rt.size = KlVector2(800.0, 600.0)
    rt.loaded = True  # fast_clear makes the loaded check; the backend is None
    floor = kl_probe.Floor(800.0)
    namespace = {"rt": rt, "floor": floor, "KlRenderTexture": KlRenderTexture, "kelo_raylib": kelo_raylib}

    # fast_clear's floor is the drawing call it makes, made straight from
    # Python: one argument, one lookup of the (None) backend.
    floor_statements = {
        "value": "floor.get_value()",
        "noop": "floor.noop(None)",
        "draw": "kelo_raylib.c_clear_background(None)",
    }
    floors = {name: best_ns(statement, namespace) for name, statement in floor_statements.items()}
    rows = [
        ("rt.get_width()", "value"),
        ("rt.get_height()", "value"),
        ("KlRenderTexture.get_width(rt)", "value"),
        ("rt.fast_clear(None)", "draw"),
    ]
    print(f"{'call':38} {'ns/call':>9} {'floor ns':>9} {'ratio':>7} {'blocks kept':>12}")
    for name, value in floors.items():
        statement = floor_statements[name]
        print(f"{statement:38} {value:9.1f} {value:9.1f} {1.0:7.2f} {allocated_blocks(statement, namespace):12d}")
    for statement, floor_name in rows:
        cost = best_ns(statement, namespace)
        ratio = cost / floors[floor_name]
        kept = allocated_blocks(statement, namespace)
        print(f"{statement:38} {cost:9.1f} {floors[floor_name]:9.1f} {ratio:7.2f} {kept:12d}")


if __name__ == "__main__":
    main()
