"""open_window and close_window, each case in a fresh interpreter: the window,
its backend, the toolkit state and the private X server (for raylib's SDL
build, its offscreen driver) come and go together."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from kelo_ui.core import modules, virtual_display
from kelo_ui.presentation.pixels import read_rgba
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from support.display import need_display

# raylib's SDL build draws offscreen with no X server: none starts or stops.
SDL = virtual_display.sdl_binding()

# Run first in every child: fails loudly when the toolkit is not left as found.
PRELUDE = """
import gc, os
from kelo_ui.core import modules, virtual_display
from kelo_ui.core.state import kelo_state
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.pixels import read_rgba
from kelo_ui.window import close_window, context, current_window, open_window
default_window = kelo_state.window
SDL = virtual_display.sdl_binding()

def stand_in_running(server):
    # The private X server, or for the SDL build its offscreen driver chosen.
    if SDL:
        return server.process is None and os.environ.get("SDL_VIDEODRIVER") == "offscreen"
    return os.environ.get("DISPLAY") == server.name and server.process.poll() is None

def assert_closed():
    assert current_window() is None and context.window is None and not context.is_active
    assert kelo_raylib.backend is context and context.live == 0 and context.open_scopes() == 0
    assert kelo_state.window is default_window
    assert not modules.rl.is_window_ready()
    assert not {"DISPLAY", "XDG_RUNTIME_DIR", "SDL_VIDEODRIVER"} & set(os.environ)
"""


# What says where windows open; the children go without.
DISPLAY_VARIABLES = ("DISPLAY", "XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "SDL_VIDEO_DRIVER")


def run_headless(code, **env):
    """Run PRELUDE + `code` in a fresh interpreter without a display."""
    environment = {name: value for name, value in os.environ.items() if name not in DISPLAY_VARIABLES}
    return subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(code)], capture_output=True, text=True,
                          env={**environment, **env}, timeout=120)


def child(code, **env):
    """As run_headless; the child must succeed. Returns its stdout."""
    result = run_headless(code, **env)
    assert result.returncode == 0, result.stderr
    return result.stdout


@pytest.fixture
def headless():
    need_display(own_server=True)  # the children run without DISPLAY


def test_open_and_close(headless):
    child("""
window = open_window(40, 30, "first", hidden=True)
server = window.virtual_display
assert current_window() is window and window.is_open
assert kelo_raylib.backend is context and context.window is window and context.is_active
assert window.display.fast_blit_pro is kelo_raylib.fast_blit_pro  # the native function itself
assert kelo_state.window is window
assert stand_in_running(server)
assert modules.rl.is_window_ready()
try:
    open_window(10, 10)
except RuntimeError as error:
    assert "already open" in str(error)
else:
    raise AssertionError("a second window opened")
assert current_window() is window

close_window()
assert_closed()
assert not window.is_open and not stand_in_running(server)
import raylib
raylib.rl.rlViewport(0, 0, 1, 1)  # GL straight through the binding lands nowhere: its library stays mapped
for display in (window.display, default_window.display):
    try:
        display.fast_blit_pro(object(), "junk", 1, None)
    except RuntimeError as error:
        assert "the window has closed" in str(error), error
    else:
        raise AssertionError("drew without a window")
close_window()  # again: nothing to do
window.close()
assert_closed()

# A blend mode left open when a window closes is not taken for the next one's.
open_window(8, 8, hidden=True)
kelo_raylib.begin_blend_mode(2)
close_window()
with open_window(8, 8, hidden=True):
    under, over = KlRenderTexture(KlVector2(1, 1)), KlRenderTexture(KlVector2(1, 1))
    under.clear((255, 0, 0, 128))
    over.clear((255, 0, 0, 255))
    under.blit(over, (0, 0), 2)  # multiplied: the alpha below stays
    assert read_rgba(under)[2] == bytes((255, 0, 0, 128)), read_rgba(under)
assert_closed()

again = open_window(20, 20, hidden=True)  # the next window gets a server of its own
assert again.virtual_display is not server and stand_in_running(again.virtual_display)
rt = KlRenderTexture(KlVector2(2, 2))
rt.clear((1, 2, 3, 255))
assert read_rgba(rt)[2] == bytes((1, 2, 3, 255)) * 4
again.close()
assert_closed()

try:
    with open_window(16, 16, hidden=True) as window:
        assert window.is_open
        raise KeyError("inside")
except KeyError:
    pass
assert_closed()
""")


def test_failed_open_leaves_nothing_behind(headless):
    child("""
import kelo_ui.window
import subprocess

def broken():
    raise LookupError("no GL")

started = []
real_popen = subprocess.Popen
def popen(*args, **kwargs):
    started.append(real_popen(*args, **kwargs))
    return started[-1]

subprocess.Popen, kelo_ui.window._pin_gl = popen, broken
try:
    open_window(16, 16)
except LookupError:
    pass
else:
    raise AssertionError("opened without GL")
assert_closed()
assert len(started) == (0 if SDL else 1) and all(p.poll() is not None for p in started)  # the X server stopped
""")


def test_a_binding_of_another_layout_is_refused_saying_its_version(headless):
    # No other drawing path to fall back on: the error names the binding.
    out = child("""
import importlib.metadata, raylib
from raylib import ffi
class Doctored:  # the binding's ffi, with a Color of floats
    def __init__(self):
        import cffi
        self.wrong = cffi.FFI()
        self.wrong.cdef("typedef struct Color { float r, g, b, a; } Color;")
    def typeof(self, what):
        return self.wrong.typeof(what) if what == "Color" else ffi.typeof(what)
    def __getattr__(self, name):
        return getattr(ffi, name)
raylib.ffi = Doctored()
try:
    open_window(16, 16, hidden=True)
except kelo_raylib.BindingMismatch as error:
    print(error)
else:
    raise AssertionError("opened with a binding of another layout")
assert_closed()
raylib.ffi = ffi
with open_window(16, 16, hidden=True):  # the installed binding, once restored
    pass
print(importlib.metadata.version("raylib-sdl" if SDL else "raylib"))
""")
    error, version = out.strip().splitlines()
    assert error.startswith(f"{'raylib-sdl' if SDL else 'raylib'} {version} is installed; kelo_ui supports raylib")
    assert "struct Color is 16 bytes" in error


def test_targets_outliving_the_window(headless):
    # After close_window nothing is unloaded, and neither kill nor destruction
    # of a leftover render target crashes the process.
    child("""
class Spy:
    def __init__(self, rl):
        self.rl, self.unloaded = rl, []
    def unload_render_texture(self, rt):
        self.unloaded.append(rt.id)
        self.rl.unload_render_texture(rt)
    def __getattr__(self, name):
        return getattr(self.rl, name)

spy = modules.rl = Spy(modules.rl)
window = open_window(16, 16, hidden=True)
kept, killed, dropped = (KlRenderTexture(KlVector2(4, 4)) for _ in range(3))
dropped.kill()
assert len(spy.unloaded) == 1
window.close()
del dropped
gc.collect()
assert len(spy.unloaded) == 1  # destroyed after the window: not unloaded
killed.kill()  # the GPU is gone; the call must do no harm
assert not killed.loaded
try:
    read_rgba(kept)
except RuntimeError as error:
    assert "no window is open (the window has closed)" in str(error)
else:
    raise AssertionError("read pixels without a window")
del kept, killed
print("survived")
""")


@pytest.mark.parametrize("closing", ["close_window", "raylib itself", "a conversion"])
def test_nothing_draws_after_the_window_closed(headless, closing):
    # Kept past the window's end, with raylib's window closed under it, or
    # closed by code that a conversion runs in the middle of a call: every
    # drawing call, GPU object call and md.rl call raises instead of drawing
    # into freed GPU state.
    child(f"""
import pyray
window = open_window(16, 16, hidden=True)
blit_pro = window.display.fast_blit_pro
rt, other = KlRenderTexture(KlVector2(4, 4)), KlRenderTexture(KlVector2(4, 4))
texture, render_texture = rt.texture, rt.render_texture
closing = {closing!r}

class Closing:  # closes raylib's window straight through pyray (raylib crashes closing it twice)
    def __float__(self):
        if pyray.is_window_ready():
            pyray.close_window()
        return 0.0
    def __index__(self):
        self.__float__()
        return 4

def number():
    return Closing() if closing == "a conversion" else 0

if closing == "close_window":
    window.close()
elif closing == "raylib itself":
    pyray.close_window()
calls = [
    lambda: context.c_draw_texture_vec(texture, (number(), 0), None, 1),
    lambda: context.c_draw_texture_rec(texture, (0, 0, 4, 4), (number(), 0, 4, 4), None),
    lambda: context.c_clear_background((0, 0, 0, 255)),
    lambda: context.begin_texture_mode(render_texture),
    lambda: context.end_texture_mode(),
    lambda: context.begin_blend_mode(number()),
    lambda: context.end_blend_mode(),
    lambda: blit_pro(rt, (number(), 0), True, None),
    lambda: rt.fast_blit(other, (number(), 0)),
    lambda: rt.fast_clear(None),
    lambda: rt.blit(other, (0, 0, number(), 2)),
    lambda: rt.blit_texture(texture, None),
    lambda: modules.rl.load_render_texture(number(), 4),
    lambda: modules.rl.load_texture_cubemap(modules.rl.gen_image_color(4, 24, (0, 0, 0, 255)), number()),
    lambda: modules.rl.draw_rectangle(0, 0, number(), 4, (1, 2, 3, 4)),
    lambda: modules.rl.draw_text("late", 0, 0, 10, (1, 2, 3, 4)),
    lambda: modules.rl.measure_text("late", 10),
]
if closing != "close_window":  # then still alive: releasing them needs the GPU
    calls += [rt.kill, lambda: modules.rl.unload_render_texture(other.render_texture)]
for call in calls:
    try:
        call()
    except RuntimeError as error:
        assert "no open window" in str(error) or "no window is open" in str(error), error
    else:
        raise AssertionError("drew without a window")
window.close()
assert_closed()
print("survived")
""")


@pytest.mark.skipif(SDL, reason="raylib's SDL build starts no X server")
@pytest.mark.parametrize("ending", ["exit", "killed"])
def test_process_end_stops_the_x_server(headless, ending):
    code = """
window = open_window(16, 16, hidden=True)
targets = [KlRenderTexture(KlVector2(4, 4)) for _ in range(2)]  # left for shutdown
targets[0].__enter__()  # and a drawing scope left open
print(window.virtual_display.process.pid, flush=True)
"""
    if ending == "killed":
        code += "import signal\nos.kill(os.getpid(), signal.SIGKILL)\n"
    result = run_headless(code)
    assert result.returncode == (-signal.SIGKILL if ending == "killed" else 0), result.stderr
    server = int(result.stdout)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and _alive(server):
        time.sleep(0.05)
    assert not _alive(server)


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    with open(f"/proc/{pid}/stat") as stat:
        return stat.read().split(")")[-1].split()[0] != "Z"  # a zombie has stopped


# Each row's child takes that binding's path, whichever is installed: both
# fail before raylib is called.
REFUSE_EGL = """
import ctypes
real_cdll = ctypes.CDLL
def cdll(name, *args, **kwargs):
    if name == "libEGL.so.1":
        raise OSError(f"{name}: cannot open shared object file")
    return real_cdll(name, *args, **kwargs)
ctypes.CDLL = cdll
"""


@pytest.mark.parametrize("sdl, refuse, says", [
    # Neither a display nor Xvfb on PATH: the child runs with an empty PATH.
    (False, "", ["Xvfb", "apt-get install xvfb"]),
    # The SDL build without EGL: said before raylib, which would end the process.
    (True, REFUSE_EGL, ["EGL could not be loaded", "apt-get install libegl1"]),
], ids=["glfw-no-xvfb", "sdl-no-egl"])
def test_no_display_says_what_to_install(tmp_path, sdl, refuse, says):
    out = child(refuse + f"""
virtual_display.sdl_binding = lambda: {sdl}
try:
    open_window(16, 16)
except RuntimeError as error:
    print(error)
else:
    raise AssertionError("opened without a display")
assert_closed()
""", PATH=str(tmp_path))
    assert all(part in out for part in says), out


@pytest.mark.parametrize("make", [
    lambda: KlRenderTexture(KlVector2(2, 2)),
    lambda: modules.rl.load_texture_from_image(modules.rl.gen_image_color(2, 2, (0, 0, 0, 255))),
], ids=["render texture", "texture"])
def test_no_gpu_object_without_a_window(make):
    assert not modules.rl.is_window_ready()
    with pytest.raises(RuntimeError, match="no window is open.*open_window"):
        make()


def test_read_rgba_needs_an_open_window():
    # Made around the toolkit, straight through pyray: raylib hands back an
    # empty render texture.
    import pyray

    rt = KlRenderTexture.from_rl_render_texture(pyray.load_render_texture(2, 2))
    with pytest.raises(RuntimeError, match="^read_rgba: no window is open"):
        read_rgba(rt)


def test_a_closed_windows_targets_touch_nothing_of_the_next(headless):
    # The next window's first target gets the GL ids an old one had.
    child("""
BLUE, RED = (0, 0, 255, 255), (255, 0, 0, 255)
with open_window(16, 16, hidden=True):
    old, killed = KlRenderTexture(KlVector2(2, 2)), KlRenderTexture(KlVector2(2, 2))
    old.clear(RED)
    killed.kill()
    old_texture = old.texture
with open_window(16, 16, hidden=True) as window:
    new = KlRenderTexture(KlVector2(2, 2))
    new.clear(BLUE)
    assert old.loaded and old.id == 0 and old.texture.id == 0
    calls = {
        "with": lambda: old.__enter__(),
        "clear": lambda: old.clear(RED),
        "blit into": lambda: old.blit(new, (0, 0)),
        "blit from": lambda: new.blit(old, (0, 0)),
        "its texture": lambda: window.display.fast_blit_pro(old_texture, None, True, None),
        "read_rgba": lambda: read_rgba(old),
    }
    for name, call in calls.items():
        try:
            call()
        except RuntimeError as error:
            assert "the window it was made under has closed" in str(error), (name, error)
        else:
            raise AssertionError(f"{name}: drew with a dead target")
        assert context.open_scopes() == 0
    old.kill()            # succeeds, touching nothing
    assert not old.loaded
    killed.kill() if killed.loaded else None
    del old, killed
    gc.collect()
    assert read_rgba(new)[2] == bytes(BLUE) * 4
""")


def test_one_drawing_thread(headless):
    out = child("""
import threading
GREEN = (0, 255, 0, 255)
window = open_window(16, 16, hidden=True)
rt = KlRenderTexture(KlVector2(2, 2))
refused = []

def worker():
    for name, call in {
        "make": lambda: KlRenderTexture(KlVector2(2, 2)),
        "clear": lambda: rt.clear(GREEN),
        "with": lambda: rt.__enter__(),
        "kill": lambda: rt.kill(),
        "read_rgba": lambda: read_rgba(rt),
    }.items():
        try:
            call()
        except RuntimeError as error:
            refused.append(name)
            assert "thread" in str(error), (name, error)

thread = threading.Thread(target=worker)
thread.start()
thread.join()
assert refused == ["make", "clear", "with", "kill", "read_rgba"], refused
assert rt.loaded
rt.clear(GREEN)
assert read_rgba(rt)[2] == bytes(GREEN) * 4

# Dropped in another thread: by the last reference, by the collector, and a
# killed one. Released on the window's thread at its next frame.
baseline = context.live

def targets():
    made = [KlRenderTexture(KlVector2(2, 2)) for _ in range(100)]
    for target in made[:50]:
        box = [target]
        box.append(box)   # a cycle: only the collector frees these
    return made

dropped = targets()
framebuffers = [target.id for target in dropped]

def drop():
    global dropped
    dropped = None
    gc.collect()

thread = threading.Thread(target=drop)
thread.start()
thread.join()
assert context.live == baseline + 100  # nothing released off the window's thread
with window.frame():
    pass
assert context.live == baseline, context.live
import ctypes
is_framebuffer = ctypes.CDLL("libGL.so.1").glIsFramebuffer
assert not any(is_framebuffer(ctypes.c_uint(ident)) for ident in framebuffers)
window.close()

# A window opened on a thread that then ends would lose its X server with it.
def open_elsewhere():
    try:
        open_window(8, 8)
    except RuntimeError as error:
        assert "main thread" in str(error), error
        print("refused")

thread = threading.Thread(target=open_elsewhere)
thread.start()
thread.join()
assert_closed()
""")
    assert out.split() == ["refused"]


def test_a_forked_child_forgets_the_window(headless):
    child("""
import multiprocessing, sys, warnings
warnings.simplefilter("ignore", DeprecationWarning)  # fork with Mesa's threads running: the point of the test
GREEN, RED = (0, 255, 0, 255), (255, 0, 0, 255)
window = open_window(16, 16, hidden=True)
rt = KlRenderTexture(KlVector2(2, 2))
rt.clear(GREEN)

def in_the_child():
    assert current_window() is None and not modules.rl.is_window_ready()
    assert "DISPLAY" not in os.environ and "SDL_VIDEODRIVER" not in os.environ
    for call in (lambda: rt.clear(RED), lambda: KlRenderTexture(KlVector2(2, 2)), lambda: read_rgba(rt),
                 lambda: open_window(8, 8, hidden=True)):
        try:
            call()
        except RuntimeError as error:
            assert any(why in str(error) for why in ("forked", "no window is open", "needs an open window")), error
        else:
            raise AssertionError("drew in the forked child")

pid = os.fork()
if pid == 0:
    try:
        in_the_child()
    except BaseException:
        import traceback
        traceback.print_exc()
        os._exit(1)
    sys.exit(0)   # an ordinary exit: atexit, finalisation, destruction
_, status = os.waitpid(pid, 0)
assert os.waitstatus_to_exitcode(status) == 0

worker = multiprocessing.get_context("fork").Process(target=in_the_child)
worker.start()
worker.join(60)
assert worker.exitcode == 0, worker.exitcode

rt.clear(RED)   # the parent's X connection and window are intact
assert read_rgba(rt)[2] == bytes(RED) * 4
window.close()
assert_closed()
""", PYTHONUNBUFFERED="1")


@pytest.mark.parametrize("call", ["open_window", "close_window"])
def test_an_interrupt_anywhere_leaves_a_window_open_or_none(headless, call):
    # KeyboardInterrupt raised at the n-th line the toolkit runs, for every n
    # until the call runs through. Afterwards a window is open for drawing,
    # or closed (raylib's window and the X server with it), or, for a close,
    # closing: its objects dead and raylib's window closed, the rest finished
    # by the next close. Then the next window opens.
    out = child(f"""
import sys
from raylib import rl as lib

def interrupt_at(n):
    seen = [0]
    def trace(frame, event, arg):
        if "kelo_ui" not in frame.f_code.co_filename:
            return None
        if event == "line":
            seen[0] += 1
            if seen[0] == n:
                raise KeyboardInterrupt
        return trace
    return trace

def servers():
    # The Xvfb processes this one started and did not stop.
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{{entry}}/stat") as stat:
                text = stat.read()
        except OSError:
            continue
        state, parent = text[text.rindex(")") + 2:].split()[:2]
        if text[text.index("(") + 1:text.rindex(")")] == "Xvfb" and state != "Z" and int(parent) == os.getpid():
            found.append(int(entry))
    return found

n = 1
while True:
    if {call!r} == "close_window":
        open_window(16, 16, hidden=True)
        targets = [KlRenderTexture(KlVector2(2, 2)) for _ in range(3)]
    sys.settrace(interrupt_at(n))
    try:
        open_window(16, 16, hidden=True) if {call!r} == "open_window" else close_window()
    except KeyboardInterrupt:
        interrupted = True
    else:
        interrupted = False
    finally:
        sys.settrace(None)
    window = current_window()
    if window is None:
        assert not lib.IsWindowReady() and not servers(), f"line {{n}}"
    elif window.is_open:
        assert lib.IsWindowReady() and len(servers()) == (0 if SDL else 1), f"line {{n}}"
        assert stand_in_running(window.virtual_display), f"line {{n}}"
    else:  # closing: nothing can draw
        assert {call!r} == "close_window" and not lib.IsWindowReady() and not context.is_active, f"line {{n}}"
    if {call!r} == "close_window":
        assert window is None or window.is_open or all(t.id == 0 for t in targets), f"line {{n}}"
    close_window()  # finishes what an interrupted close began
    assert_closed()
    assert not lib.IsWindowReady() and not servers(), f"line {{n}}"
    with open_window(16, 16, hidden=True):
        pass
    if not interrupted:
        break
    n += 1
print(n)
""")
    assert int(out) > 10  # it was interrupted at every line of the call


def test_what_objects_leave_behind(headless):
    # A target made and released leaves its struct and one byte behind, in
    # memory the toolkit keeps, and nothing else: no Python object, no table
    # entry grows with the objects ever made.
    out = child("""
import tracemalloc

def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

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
""")
    python_bytes, resident_bytes = map(float, out.split())
    assert python_bytes < 1 and resident_bytes < 64
