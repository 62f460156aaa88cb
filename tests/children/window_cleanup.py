"""What a window leaves behind in a child without a display: after an
interrupt at any line of opening or closing, and per target made."""

import gc
import os
import sys

import kelo_ui
from children.window_state import SDL, assert_closed, stand_in_running
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.window import close_window, context, current_window, open_window

# The toolkit's own files; a clone's folder may carry its name too.
TOOLKIT = os.path.dirname(kelo_ui.__file__) + os.sep


def interrupt_at(n):
    """A trace function that raises KeyboardInterrupt at the n-th line the toolkit runs."""
    seen = [0]

    def trace(frame, event, arg):
        if not frame.f_code.co_filename.startswith(TOOLKIT):
            return None
        if event == "line":
            seen[0] += 1
            if seen[0] == n:
                raise KeyboardInterrupt
        return trace

    return trace


def servers():
    """The Xvfb processes this one started and did not stop."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                text = stat.read()
        except OSError:
            continue
        state, parent = text[text.rindex(")") + 2 :].split()[:2]
        if text[text.index("(") + 1 : text.rindex(")")] == "Xvfb" and state != "Z" and int(parent) == os.getpid():
            found.append(int(entry))
    return found


def interrupt_anywhere(call):
    """`call` ("open_window" or "close_window") interrupted at its n-th line,
    for every n until it runs through; prints the n it ran through at."""
    from raylib import rl as lib

    n = 1
    while True:
        if call == "close_window":
            open_window(16, 16, hidden=True)
            targets = [KlRenderTexture(KlVector2(2, 2)) for _ in range(3)]
        sys.settrace(interrupt_at(n))
        try:
            open_window(16, 16, hidden=True) if call == "open_window" else close_window()
        except KeyboardInterrupt:
            interrupted = True
        else:
            interrupted = False
        finally:
            sys.settrace(None)
        window = current_window()
        if window is None:
            assert not lib.IsWindowReady() and not servers(), f"line {n}"
        elif window.is_open:
            assert lib.IsWindowReady() and len(servers()) == (0 if SDL else 1), f"line {n}"
            assert stand_in_running(window.virtual_display), f"line {n}"
        else:  # closing: nothing can draw
            assert call == "close_window" and not lib.IsWindowReady() and not context.is_active, f"line {n}"
        if call == "close_window":
            assert window is None or window.is_open or all(t.id == 0 for t in targets), f"line {n}"
        close_window()  # finishes what an interrupted close began
        assert_closed()
        assert not lib.IsWindowReady() and not servers(), f"line {n}"
        with open_window(16, 16, hidden=True):
            pass
        if not interrupted:
            break
        n += 1
    print(n)


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def what_objects_leave_behind():
    """Prints the bytes that tracemalloc and the resident set grew by per target made."""
    import tracemalloc

    size = KlVector2(2, 2)
    with open_window(16, 16, hidden=True, pin_heap=False):
        for _ in range(2_000):
            KlRenderTexture(size).kill()
        gc.collect()
        tracemalloc.start()
        before, traced = rss(), tracemalloc.get_traced_memory()[0]
        made = 20_000
        for n in range(made):
            target = KlRenderTexture(size)
            if n % 2:
                target.kill()
            del target  # released once unreachable
        gc.collect()
        assert context.live == 0
        print((tracemalloc.get_traced_memory()[0] - traced) / made, (rss() - before) / made)
