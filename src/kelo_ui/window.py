"""The toolkit's window: raylib's window, and the window context that owns its state.

```python
from kelo_ui.window import open_window

with open_window(640, 480, hidden=True) as window:
    ...                      # KlRenderTexture drawing lands in GPU render textures
    with window.frame():     # one frame on the window itself
        window.display.fast_blit_pro(scene, (0, 0), True, None)
```

Everything about the open window lives in one object, the window context
(`context`, which is `kelo_raylib.context`): the window's thread, its GPU
objects and why each dead one died, the releases other threads left for it,
the drawing scopes, and the drawing itself, which calls raylib's C functions
with no Python call in between. It is `kelo_raylib.backend`, the backend the
render targets draw through. `open_window` activates it, `close_window` and
a fork deactivate it; everything else (`current_window()`,
`kelo_state.window`, `Window.is_open`, `md.rl`) asks it.

One window at a time, opened on the main thread, which is then the only
thread that may draw or make and release GPU objects. Without a display
(`DISPLAY` unset) it starts a private Xvfb for the process first; raylib's
SDL build draws through SDL's offscreen driver instead, with no X server.

Every texture and render texture made through `md.rl` while the window is
open belongs to it; when the window closes they die: drawing them raises
RuntimeError, killing or unloading them does nothing. A process forked while
a window is open forgets the window without a call to X or GL: drawing there
raises RuntimeError, and the parent's window and X server are left alone.
"""

from __future__ import annotations

import atexit
import contextlib
import ctypes
import os
import sys
import threading
import warnings
from collections.abc import Iterator
from types import TracebackType
from typing import Any

from kelo_ui.core import heap, modules, virtual_display
from kelo_ui.core.virtual_display import OffscreenDisplay, VirtualDisplay
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.fast.raylib.kelo_raylib import context

__all__ = ["Display", "Window", "close_window", "context", "current_window", "open_window"]

# raylib's FLAG_WINDOW_HIDDEN.
_FLAG_WINDOW_HIDDEN = 0x80

_pinned_libraries: list[ctypes.CDLL] = []


def current_window() -> Window | None:
    """The open window, or None."""
    return context.window  # type: ignore[no-any-return]


def _pin_gl() -> None:
    # GLFW unloads the GL library when the window closes, and SDL its EGL and
    # GL libraries, leaving raylib's GL function pointers dangling: a late
    # call would jump into unmapped code.
    if _pinned_libraries or not sys.platform.startswith(("linux", "freebsd", "openbsd", "netbsd")):
        return
    sdl = ("libEGL.so.1", "libOpenGL.so.0") if virtual_display.sdl_binding() else ()
    for name in ("libGLX.so.0", "libGL.so.1", *sdl):
        try:
            _pinned_libraries.append(ctypes.CDLL(name))
        except OSError:
            pass


class Display:
    """Where a window's blits go: `blit_texture` calls `fast_blit_pro`, which
    draws through `kelo_raylib.backend` (the window context), found at every
    call."""

    fast_blit_pro = staticmethod(kelo_raylib.fast_blit_pro)

    def __repr__(self) -> str:
        return "<Display: kelo_raylib.backend>"


DISPLAY = Display()


class Window:
    """An open raylib window; `with` closes it at the end of the block.
    `Window.none()` stands in while no window is open."""

    @classmethod
    def none(cls) -> Window:
        """The window of a process that has none open: never open, its
        display drawing through kelo_raylib.backend (which refuses)."""
        return cls(0, 0, "", True)

    def __init__(self, width: int, height: int, title: str, hidden: bool):
        self._size = (width, height)  # as it was last seen while open
        self.title = title
        self.hidden = hidden
        self.display = DISPLAY
        # The private X server (or SDL's offscreen driver), when the process
        # had no display of its own.
        self.virtual_display: VirtualDisplay | OffscreenDisplay | None = None
        self._unpin_heap: Any = None  # puts the heap back as it was, while it is pinned
        self._in_frame = False

    @property
    def is_open(self) -> bool:
        return context.window is self and bool(context.is_active)

    @property
    def width(self) -> int:
        """The window's width as raylib has it now (`md.rl.set_window_size`
        changes it); once closed, as it was last."""
        return self._follow()[0]

    @property
    def height(self) -> int:
        """The window's height, as `width`."""
        return self._follow()[1]

    def _follow(self) -> tuple[int, int]:
        if self.is_open:
            from raylib import rl as lib  # reading two ints of raylib's state: no GL, any thread

            self._size = (lib.GetScreenWidth(), lib.GetScreenHeight())
        return self._size

    def present(self, scene: Any) -> list[tuple[int, int, int, int]] | None:
        """Show `scene` (a KlRenderTexture, or a Scene) on the window at (0, 0),
        the right way up. Inside a frame it is drawn into the frame (with no
        target's scope open: it would land in that target); outside one a
        render target is a frame of its own, on black, and a Scene is composed
        and only what changed put on the window where the platform keeps the
        window's picture and copies parts of it (GLX_MESA_copy_sub_buffer),
        all of it elsewhere.

        Returns what a Scene's compose() drew again (its boxes, as
        `(x, y, width, height)`), None for a render target."""
        if not self.is_open:
            raise RuntimeError(f"present: {self!r} is not open")
        from kelo_ui.scene import Scene

        if self._in_frame and context.current_target() is not None:
            # Refused before a Scene composes: its damage stays for the next present.
            raise RuntimeError(
                "present: a render target's scope is open in this frame; the scene would be "
                "drawn into that target, not onto the window"
            )
        drawn = None
        if isinstance(scene, Scene):
            if not self._in_frame:
                return scene.present()
            drawn = scene.compose()
            scene = scene.target
        if self._in_frame:
            self.display.fast_blit_pro(scene, (0, 0), True, None)
            return drawn
        with self.frame():
            context.c_clear_background((0, 0, 0, 255))
            self.display.fast_blit_pro(scene, (0, 0), True, None)
        return None

    @contextlib.contextmanager
    def frame(self) -> Iterator[Window]:
        """One frame on the window (raylib's begin and end drawing).

        On entry it ends the drawing scopes left open (a `with` block entered
        by hand and never left), warning with a RuntimeWarning that says how
        many, and releases the GPU objects that other threads left for the
        window. Inside the block, what is drawn outside any scope goes to the
        window: `window.display.fast_blit_pro(target, (0, 0), True, None)`
        shows a render target the right way up.
        """
        if not self.is_open:
            raise RuntimeError(f"frame: {self!r} is not open")
        if self._in_frame:
            raise RuntimeError("frame: a frame of this window is being drawn already")
        ended = context.end_scopes()
        if ended:
            warnings.warn(
                f"frame: {ended} drawing scope{'s' if ended != 1 else ''} left open "
                f"{'were' if ended != 1 else 'was'} ended",
                RuntimeWarning,
                stacklevel=3,
            )
        context.run_pending_releases()
        context.begin_frame()
        self._in_frame = True
        try:
            yield self
        finally:
            self._in_frame = False
            context.end_frame()

    def close(self) -> None:
        """Close this window if it is still the open one."""
        if context.window is self:
            close_window()

    def _deactivated(self, why: str) -> None:
        # The context's deactivation tells the window last: its heap is put
        # back, its X server goes (or, in a forked child, is left to the
        # parent). Idempotent.
        unpin, self._unpin_heap = self._unpin_heap, None
        if unpin is not None:
            unpin()
        if self.virtual_display is not None:
            if why == "forked":
                self.virtual_display.forget()
            else:
                self.virtual_display.stop()

    def __enter__(self) -> Window:
        return self

    def __exit__(
        self, exc_type: type[BaseException] | None, exc: BaseException | None, traceback: TracebackType | None
    ) -> None:
        self.close()

    def __repr__(self) -> str:
        if not self.title and not self.width:
            return "<Window (none open)>"
        shown = "open" if self.is_open else "closed"
        where = f" on {self.virtual_display.name}" if self.virtual_display is not None else ""
        return f"<Window {self.title!r} {self.width}x{self.height} {shown}{where}>"


def _positive(name: str, value: object) -> int:
    if not isinstance(value, int) or isinstance(value, bool):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if value <= 0:
        raise ValueError(f"{name} must be positive, got {value}")
    return value


def _binding_versions() -> str:
    """The installed raylib binding's version and the versions kelo_ui was
    made for, as its own requirement states them."""
    from importlib import metadata

    binding = "raylib-sdl" if virtual_display.sdl_binding() else "raylib"
    try:
        installed = metadata.version(binding)
    except metadata.PackageNotFoundError:
        installed = "unknown"
    try:
        wanted = [
            requirement
            for requirement in metadata.requires("kelo_ui") or ()
            if requirement.split(";")[0].strip().startswith("raylib")
        ]
    except metadata.PackageNotFoundError:
        wanted = []
    return f"{binding} {installed} is installed; kelo_ui supports {', '.join(wanted) or 'the raylib it was built with'}"


def open_window(
    width: int, height: int, title: str = "kelo_ui", *, hidden: bool = False, pin_heap: bool = True
) -> Window:
    """Open raylib's window and activate the window context for it (see the
    module's docstring). With `pin_heap` (the default) the C heap stays
    mapped while the window is open (`kelo_ui.core.heap`): the driver's
    memory for each frame is not given back and faulted in again.

    Raises RuntimeError when a window is already open, when called from a
    thread other than the main one, or when no display can be had (the
    message says what to install); `kelo_raylib.BindingMismatch` when the
    installed raylib binding is not one the toolkit was written for.
    """
    if context.window is not None:
        raise RuntimeError(f"a window is already open ({context.window!r}); close it first")
    if threading.current_thread() is not threading.main_thread():
        # The window's thread is the only one that may draw, and the private X
        # server stops when the thread that started it ends.
        raise RuntimeError("open_window: a window is opened on the main thread only, which then does all its drawing")
    width = _positive("width", width)
    height = _positive("height", height)
    if not isinstance(title, str):
        raise TypeError(f"title must be a str, not {type(title).__name__}")
    rl = modules.rl
    rl.set_trace_log_level(rl.LOG_WARNING)  # first: a missing binding says so before any server starts
    window = Window(width, height, title, hidden)
    try:
        if virtual_display.wanted():
            # The window holds its server before it starts: stopping the
            # window stops whatever of it has started.
            window.virtual_display = virtual_display.stand_in()
            window.virtual_display.start(max(width, 1024), max(height, 768))
        _pin_gl()
        # raylib's window opens and the context becomes this window's in one
        # call: no interrupt can come between them.
        if not context.activate(window, width, height, title, _FLAG_WINDOW_HIDDEN if hidden else 0):
            raise RuntimeError(
                f"raylib could not open a window on display {_display_name(window)} "
                f"(its messages above say why); {_install_hint(window)}"
            )
    except kelo_raylib.BindingMismatch as error:
        window._deactivated("closed")
        raise kelo_raylib.BindingMismatch(f"{_binding_versions()}: {error}") from error
    except BaseException:
        if context.window is not window:  # never activated: only its server may be running
            window._deactivated("closed")
        raise
    if pin_heap:
        window._unpin_heap = heap.pin()
    return window


def _display_name(window: Window) -> str:
    server = window.virtual_display
    return server.name if server is not None else repr(os.environ.get("DISPLAY"))


def _install_hint(window: Window) -> str:
    server = window.virtual_display
    return server.install_hint if server is not None else virtual_display.INSTALL_HINT


def close_window() -> None:
    """Close the open window, if any, on its thread: its GPU objects die,
    raylib's window closes, then the private X server stops, and last the
    window stops being current. A close that an interrupt stops half-way is
    finished by the next one (or at exit)."""
    window = context.window
    if window is not None:
        window._follow()  # the size it closes with
    context.deactivate("closed")


# Closed before the interpreter tears down: render targets destroyed during
# shutdown then skip the GPU, and the X server goes too.
atexit.register(close_window)

if hasattr(os, "register_at_fork"):
    # In a forked child the window, its GL context and its X connection are
    # the parent's: any X or GL call here would write into the parent's
    # connection. The context forgets them without one.
    os.register_at_fork(after_in_child=lambda: context.deactivate("forked"))
