"""open_window and close_window, each case in a fresh interpreter: the window,
its backend, the toolkit state and the private X server (for raylib's SDL
build, its offscreen driver) come and go together.
The children's code is in the package `children` (windows, window_refusals,
window_cleanup); each checks that the toolkit is left as it was found."""

import os
import signal
import time

import pytest

from kelo_ui.core import modules, virtual_display
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.pixels import read_rgba
from support.children import run_python
from support.display import need_display

# raylib's SDL build draws offscreen with no X server: none starts or stops.
SDL = virtual_display.sdl_binding()

# What says where windows open; the children go without.
DISPLAY_VARIABLES = ("DISPLAY", "XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "SDL_VIDEO_DRIVER")


def run_headless(module, function, *arguments, **env):
    """Run children.<module>.<function>(*arguments) in a fresh interpreter
    without a display."""
    return run_python(module, function, *arguments, env=env, drop=DISPLAY_VARIABLES, timeout=120)


def child(module, function, *arguments, **env):
    """As run_headless; the child must succeed. Returns its stdout."""
    result = run_headless(module, function, *arguments, **env)
    assert result.returncode == 0, result.stderr
    return result.stdout


@pytest.fixture
def headless():
    need_display(own_server=True)  # the children run without DISPLAY


def test_open_and_close(headless):
    child("windows", "open_and_close")


def test_failed_open_leaves_nothing_behind(headless):
    child("windows", "failed_open")


def test_a_binding_of_another_layout_is_refused_saying_its_version(headless):
    # No other drawing path to fall back on: the error names the binding.
    out = child("windows", "binding_of_another_layout")
    error, version = out.strip().splitlines()
    assert error.startswith(f"{'raylib-sdl' if SDL else 'raylib'} {version} is installed; kelo_ui supports raylib")
    assert "struct Color is 16 bytes" in error


def test_targets_outliving_the_window(headless):
    # After close_window nothing is unloaded, and neither kill nor destruction
    # of a leftover render target crashes the process.
    assert child("windows", "targets_outliving_the_window").split() == ["survived"]


@pytest.mark.parametrize("closing", ["close_window", "raylib itself", "a conversion"])
def test_nothing_draws_after_the_window_closed(headless, closing):
    # Kept past the window's end, with raylib's window closed under it, or
    # closed by code that a conversion runs in the middle of a call: every
    # drawing call, GPU object call and md.rl call raises instead of drawing
    # into freed GPU state.
    assert child("window_refusals", "nothing_draws_after_close", closing).split() == ["survived"]


@pytest.mark.skipif(SDL, reason="raylib's SDL build starts no X server")
@pytest.mark.parametrize("ending", ["exit", "killed"])
def test_process_end_stops_the_x_server(headless, ending):
    # Left open at the end: the window, two targets and a drawing scope.
    result = run_headless("windows", "process_end", ending)
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
@pytest.mark.parametrize(
    "sdl, refuse_egl, says",
    [
        # Neither a display nor Xvfb on PATH: the child runs with an empty PATH.
        (False, False, ["Xvfb", "apt-get install xvfb"]),
        # The SDL build without EGL: said before raylib, which would end the process.
        (True, True, ["EGL could not be loaded", "apt-get install libegl1"]),
    ],
    ids=["glfw-no-xvfb", "sdl-no-egl"],
)
def test_no_display_says_what_to_install(tmp_path, sdl, refuse_egl, says):
    out = child("windows", "no_display", sdl, refuse_egl, PATH=str(tmp_path))
    assert all(part in out for part in says), out


@pytest.mark.parametrize(
    "make",
    [
        lambda: KlRenderTexture(KlVector2(2, 2)),
        lambda: modules.rl.load_texture_from_image(modules.rl.gen_image_color(2, 2, (0, 0, 0, 255))),
    ],
    ids=["render texture", "texture"],
)
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
    child("windows", "closed_windows_targets")


def test_one_drawing_thread(headless):
    out = child("window_refusals", "one_drawing_thread")
    assert out.split() == ["refused"]


def test_a_forked_child_forgets_the_window(headless):
    child("window_refusals", "forked_child_forgets_the_window", PYTHONUNBUFFERED="1")


@pytest.mark.parametrize("call", ["a read-back", "a drawing", "a cell's update"])
def test_a_fork_inside_an_md_rl_conversion_is_refused_in_the_child(headless, call):
    assert child("window_refusals", "fork_inside_a_conversion", call, PYTHONUNBUFFERED="1").split() == ["survived"]


def test_a_window_closed_inside_pushed_matrices_leaves_none_to_the_next(headless):
    assert child("windows", "matrices_left_at_close").split() == ["survived"]


@pytest.mark.skipif(SDL, reason="raylib's SDL build draws offscreen: no screen to read")
def test_a_scene_is_presented_part_by_part(headless):
    assert child("windows", "scene_presented_part_by_part").split() == ["copies", "parts"]


def test_raylib_reads_a_cell_back_as_the_cell(headless):
    assert child("window_refusals", "raylib_reads_a_cell").split() == ["survived"]


@pytest.mark.parametrize("call", ["open_window", "close_window"])
def test_an_interrupt_anywhere_leaves_a_window_open_or_none(headless, call):
    # KeyboardInterrupt raised at the n-th line the toolkit runs, for every n
    # until the call runs through. Afterwards a window is open for drawing,
    # or closed (raylib's window and the X server with it), or, for a close,
    # closing: its objects dead and raylib's window closed, the rest finished
    # by the next close. Then the next window opens.
    out = child("window_cleanup", "interrupt_anywhere", call)
    assert int(out) > 10  # it was interrupted at every line of the call


def test_what_objects_leave_behind(headless):
    # A target made and released leaves its struct and one byte behind, in
    # memory the toolkit keeps, and nothing else: no Python object, no table
    # entry grows with the objects ever made.
    out = child("window_cleanup", "what_objects_leave_behind")
    python_bytes, resident_bytes = map(float, out.split())
    assert python_bytes < 1
    # AddressSanitizer keeps freed memory in quarantine and adds its shadow:
    # resident memory says nothing of ours under it.
    assert resident_bytes < 64 or "libasan" in os.environ.get("LD_PRELOAD", "")
