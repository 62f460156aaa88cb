"""Windows opened and closed in a child without a display: each starts its own
Xvfb, and the toolkit must be left as it was found (window_state)."""

import gc
import os
import signal
import subprocess

from children.window_state import DEFAULT_WINDOW, SDL, assert_closed, stand_in_running
from kelo_ui.core import modules, virtual_display
from kelo_ui.core.state import kelo_state
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.pixels import read_rgba
from kelo_ui.window import close_window, context, current_window, open_window

# What a child leaves for the interpreter's shutdown to meet.
LEFT_FOR_SHUTDOWN: list[object] = []


def open_and_close():
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
    for display in (window.display, DEFAULT_WINDOW.display):
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


def failed_open():
    import kelo_ui.window

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


def binding_of_another_layout():
    """Prints the refusal, then the installed binding's version."""
    import importlib.metadata

    import raylib
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


def targets_outliving_the_window():
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


def process_end(ending):
    """Prints the X server's pid, then ends with a window, targets and a scope
    still open: by a return ("exit") or by SIGKILL ("killed")."""
    window = open_window(16, 16, hidden=True)
    targets = [KlRenderTexture(KlVector2(4, 4)) for _ in range(2)]  # left for shutdown
    targets[0].__enter__()  # and a drawing scope left open
    LEFT_FOR_SHUTDOWN.extend([window, targets])
    print(window.virtual_display.process.pid, flush=True)
    if ending == "killed":
        os.kill(os.getpid(), signal.SIGKILL)


def _refuse_egl():
    """ctypes cannot load EGL from here on."""
    import ctypes

    real_cdll = ctypes.CDLL

    def cdll(name, *args, **kwargs):
        if name == "libEGL.so.1":
            raise OSError(f"{name}: cannot open shared object file")
        return real_cdll(name, *args, **kwargs)

    ctypes.CDLL = cdll


def no_display(sdl, refuse_egl):
    """Prints why no window can open, taking the SDL build's path ("True")
    or the GLFW build's, whichever is installed; with `refuse_egl` ("True")
    EGL cannot be loaded."""
    if refuse_egl == "True":
        _refuse_egl()
    virtual_display.sdl_binding = lambda: sdl == "True"
    try:
        open_window(16, 16)
    except RuntimeError as error:
        print(error)
    else:
        raise AssertionError("opened without a display")
    assert_closed()


def closed_windows_targets():
    # The next window's first target gets the GL ids an old one had.
    blue, red = (0, 0, 255, 255), (255, 0, 0, 255)
    with open_window(16, 16, hidden=True):
        old, killed = KlRenderTexture(KlVector2(2, 2)), KlRenderTexture(KlVector2(2, 2))
        old.clear(red)
        killed.kill()
        old_texture = old.texture
    with open_window(16, 16, hidden=True) as window:
        new = KlRenderTexture(KlVector2(2, 2))
        new.clear(blue)
        assert old.loaded and old.id == 0 and old.texture.id == 0
        calls = {
            "with": lambda: old.__enter__(),
            "clear": lambda: old.clear(red),
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
        old.kill()  # succeeds, touching nothing
        assert not old.loaded
        killed.kill() if killed.loaded else None
        old = killed = None  # dropped: their weakrefs fire
        gc.collect()
        assert read_rgba(new)[2] == bytes(blue) * 4


def scene_presented_part_by_part():
    """A scene presented on a shown window: what the screen shows is the
    scene, at first whole and then where it changed only (the screen is read
    from the X server)."""
    from kelo_ui.atlas import Atlas
    from kelo_ui.presentation.pixels import read_rgba
    from kelo_ui.scene import Scene
    from kelo_ui.window import context

    window = open_window(64, 48, "scene on screen")
    cell = Atlas(KlVector2(64, 64)).allocate(KlVector2(8, 4))
    cell.clear((255, 0, 0, 255))
    scene = Scene(KlVector2(40, 30), (0, 0, 255, 255))
    item = scene.add(cell, (1, 1))

    def shown_matches(shown=scene):
        # The scene over black, as the screen shows it (its pixels here are opaque or clear).
        width, _, screen = context.read_window()
        _, _, picture = read_rgba(shown.target)

        def over_black(at):
            *rgb, alpha = picture[at : at + 4]
            return bytes(c * alpha // 255 for c in rgb)

        return all(
            screen[(y * width + x) * 4 : (y * width + x) * 4 + 3] == over_black((y * 40 + x) * 4)
            for y in range(30)
            for x in range(40)
        )

    assert scene.present() == [(0, 0, 40, 30)] and shown_matches()
    copies = context.copies_parts()
    scene.add(cell, (30, 20))
    for step in range(6):
        item.move((1 + step * 4, 1 + step * 3))
        cell.clear((255, step * 40, 0, 255))  # the cell redrawn: both items damaged
        damage = scene.present()
        assert damage and shown_matches(), (step, damage)
    item.move((2, 2))
    scene.compose()  # drawn into the target only: the next present shows it too
    cell.clear((0, 255, 0, 255))
    assert scene.present() and shown_matches()
    with window.frame():  # a frame of the window's own: the next present puts all of it on the screen
        window.display.fast_blit_pro(cell, (0, 0), True, None)
    scene.invalidate((0, 0, 2, 2))
    scene.present()
    assert shown_matches()
    # A scene larger than the window: what changes beyond it goes nowhere.
    wide = Scene(KlVector2(100, 100))
    far = wide.add(cell, (0, 0))
    wide.present()
    far.move((90, 90))
    assert wide.present() == [(0, 0, 8, 4), (90, 90, 8, 4)]
    # A clear background (a scene's default): where an item was, the screen
    # shows black again, not the item an earlier present left there.
    clear = Scene(KlVector2(40, 30))
    moving = clear.add(cell, (1, 1))
    clear.present()
    moving.move((20, 10))
    assert clear.present() and shown_matches(clear)
    window.close()
    print("copies parts" if copies else "whole frames")


def matrices_left_at_close():
    """A window closed while md.rl's pushed matrices and camera modes are open
    leaves nothing of them to the next window (rlgl keeps its matrix stack
    across windows)."""
    from kelo_ui.core import modules
    from kelo_ui.presentation.pixels import read_rgba

    rl = modules.rl
    window = open_window(16, 16, hidden=True)
    left = KlRenderTexture(KlVector2(4, 4))
    left.__enter__()  # never left: the window closes under it
    rl.rl_push_matrix()
    rl.rl_translatef(2, 2, 0)
    rl.begin_mode_3d(rl.Camera3D((0, 1, 1), (0, 0, 0), (0, 1, 0), 45, 0))
    rl.rl_push_matrix()
    window.close()
    window = open_window(16, 16, hidden=True)
    fresh = KlRenderTexture(KlVector2(4, 4))
    fresh.clear((0, 0, 0, 0))
    with fresh:
        rl.rl_push_matrix()
        rl.draw_rectangle(0, 0, 1, 1, (0, 255, 0, 255))
        rl.rl_pop_matrix()
    assert read_rgba(fresh)[2][:4] == bytes((0, 255, 0, 255)), read_rgba(fresh)[2][:16]
    window.close()
    print("survived")
