"""What a window refuses in a child without a display: drawing once it has
closed, drawing from another thread, and anything in a forked child."""

import gc
import os
import sys
import threading

from children.window_state import assert_closed
from kelo_ui.core import modules
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.pixels import read_rgba
from kelo_ui.window import context, current_window, open_window

GREEN, RED = (0, 255, 0, 255), (255, 0, 0, 255)


def nothing_draws_after_close(closing):
    """`closing` is "close_window", "raylib itself" or "a conversion"."""
    import pyray

    window = open_window(16, 16, hidden=True)
    blit_pro = window.display.fast_blit_pro
    rt, other = KlRenderTexture(KlVector2(4, 4)), KlRenderTexture(KlVector2(4, 4))
    texture, render_texture = rt.texture, rt.render_texture

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


def one_drawing_thread():
    """Prints "refused" once a window opened on another thread was refused."""
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
            box.append(box)  # a cycle: only the collector frees these
        return made

    dropped = targets()
    framebuffers = [target.id for target in dropped]

    def drop():
        nonlocal dropped
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


def forked_child_forgets_the_window():
    import multiprocessing
    import warnings

    warnings.simplefilter("ignore", DeprecationWarning)  # fork with Mesa's threads running: the point of the test
    window = open_window(16, 16, hidden=True)
    rt = KlRenderTexture(KlVector2(2, 2))
    rt.clear(GREEN)

    def in_the_child():
        assert current_window() is None and not modules.rl.is_window_ready()
        assert "DISPLAY" not in os.environ and "SDL_VIDEODRIVER" not in os.environ
        for call in (
            lambda: rt.clear(RED),
            lambda: KlRenderTexture(KlVector2(2, 2)),
            lambda: read_rgba(rt),
            lambda: open_window(8, 8, hidden=True),
        ):
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
        sys.exit(0)  # an ordinary exit: atexit, finalisation, destruction
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0

    worker = multiprocessing.get_context("fork").Process(target=in_the_child)
    worker.start()
    worker.join(60)
    assert worker.exitcode == 0, worker.exitcode

    rt.clear(RED)  # the parent's X connection and window are intact
    assert read_rgba(rt)[2] == bytes(RED) * 4
    window.close()
    assert_closed()


def raylib_reads_a_cell():
    """An atlas cell's texture read back by raylib itself is the cell's area
    alone (its struct once made raylib write the whole page into a buffer of
    the cell's size)."""
    from kelo_ui.atlas import Atlas

    window = open_window(16, 16, hidden=True)
    atlas = Atlas(KlVector2(256, 256))
    left, cell = atlas.allocate(KlVector2(2, 2)), atlas.allocate(KlVector2(3, 2))
    left.clear(RED)
    cell.clear(GREEN)
    rl = modules.rl
    image = rl.load_image_from_texture(cell.texture)
    assert (image.width, image.height) == (3, 2), (image.width, image.height)
    assert bytes(rl.ffi.buffer(image.data, 3 * 2 * 4)) == bytes(GREEN) * 6
    rl.unload_image(image)
    window.close()
    print("survived")


def fork_inside_a_conversion(call):
    """md.rl's call whose argument's conversion forks: in the child the window
    is gone by the time raylib would be called, and the call says so (it used
    to go on into raylib, which hung in the child reading the GPU back)."""
    window = open_window(16, 16, hidden=True)
    rt = KlRenderTexture(KlVector2(2, 2))
    rt.clear(GREEN)
    rl = modules.rl

    class Forking:
        child = False

        def __index__(self):
            if os.fork() == 0:
                Forking.child = True
            return 2

        __float__ = __index__

    from kelo_ui.atlas import Atlas

    cell = Atlas(KlVector2(16, 16)).allocate(KlVector2(2, 2))
    pixels = rl.ffi.new("unsigned char[]", bytes(RED) * 2)
    calls = {
        "a read-back": lambda: rl.rl_read_texture_pixels(rt.texture.id, Forking(), 2, 7),
        "a drawing": lambda: rl.draw_rectangle(0, 0, Forking(), 2, RED),
        "a cell's update": lambda: rl.update_texture_rec(cell.texture, (0, 0, Forking(), 1), pixels),
    }
    try:
        with rt:
            calls[call]()
    except RuntimeError as error:
        if Forking.child:
            os._exit(0 if "forked" in str(error) else 3)
        raise
    if Forking.child:
        os._exit(2)  # drew in the child
    _, status = os.waitpid(-1, 0)
    assert os.waitstatus_to_exitcode(status) == 0, os.waitstatus_to_exitcode(status)
    assert read_rgba(rt)[2][:4] == bytes(GREEN) or call == "a drawing"
    window.close()
    print("survived")
