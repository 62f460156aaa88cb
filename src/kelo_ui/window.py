"""The toolkit's window: raylib's window, its drawing backend and its GPU objects.

```python
from kelo_ui.window import open_window

with open_window(640, 480, hidden=True) as window:
    ...                      # KlRenderTexture drawing lands in GPU render textures
    with window.frame():     # one frame on the window itself
        window.display.fast_blit_pro(scene, (0, 0), True, None)
```

`open_window` initialises raylib's window, installs a drawing backend as
`kelo_raylib.backend` (so the native drawing functions draw for real) and
binds `kelo_state.window` to the new `Window`, whose `display.fast_blit_pro`
draws through that backend. The backend is the native one, which calls
raylib's C functions directly, unless the installed binding is not the one it
was written for (see `kelo_ui.backends.make_backend`). One window at a time,
opened on the main thread, which is then the only thread that may draw or
make and release GPU objects. Without a display (`DISPLAY` unset) it starts a
private Xvfb for the process first.

Every texture and render texture made through `md.rl` while the window is
open belongs to it (`kelo_ui.gpu`); when the window closes they die: drawing
them raises RuntimeError, killing or unloading them does nothing.

`close_window` undoes all of it: `kelo_raylib.backend` becomes a
`NoWindowBackend` that refuses every drawing call, and `kelo_state.window`
goes back to the window it replaced. A process forked while a window is open
forgets the window without a call to X or GL: drawing there raises
RuntimeError, and the parent's window and X server are left alone.
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

from kelo_ui.backends import is_backend, make_backend
from kelo_ui.backends.no_window import NoWindowBackend
from kelo_ui.core import modules, virtual_display
from kelo_ui.core.virtual_display import VirtualDisplay
from kelo_ui.fast.raylib import kelo_raylib

__all__ = ["Window", "close_window", "current_window", "make_backend", "open_window"]

WINDOW_CLOSED = "the window has closed; open one with kelo_ui.window.open_window"
FORKED = ("this process was forked from the one whose window was open; the window, its X server and its "
          "GPU objects are that process's")

_current: Window | None = None
_pinned_libraries: list[ctypes.CDLL] = []


def _state() -> Any:
    # kelo_ui.core.state makes its stand-in window from this module when it is
    # imported: it is imported here only when it is used.
    from kelo_ui.core import state

    return state.kelo_state


def current_window() -> Window | None:
    """The open window, or None."""
    return _current


def _pin_gl() -> None:
    # GLFW unloads the GL library when the window closes, leaving raylib's GL
    # function pointers dangling: a late call would jump into unmapped code.
    if _pinned_libraries or not sys.platform.startswith(("linux", "freebsd", "openbsd", "netbsd")):
        return
    for name in ("libGLX.so.0", "libGL.so.1"):
        try:
            _pinned_libraries.append(ctypes.CDLL(name))
        except OSError:
            pass


class Display:
    """Where a window's blits go (`blit_texture` calls `fast_blit_pro`).

    Given a backend, `fast_blit_pro` is that backend's own bound method (a
    native method with the native backend: no forwarding call per blit);
    without one it forwards to whatever `kelo_raylib.backend` is at the call.
    """

    def __init__(self, backend: Any = None):
        self.use(backend)

    def use(self, backend: Any) -> None:
        """Draw through `backend` from now on (None: kelo_raylib.backend)."""
        self.fast_blit_pro = backend.fast_blit_pro if backend is not None else self._through_kelo_raylib

    @staticmethod
    def _through_kelo_raylib(texture: Any, dest: Any, flip: object, color: Any) -> None:
        backend = kelo_raylib.backend
        if backend is not None:
            backend.fast_blit_pro(texture, dest, flip, color)


class Window:
    """An open raylib window; `with` closes it at the end of the block.
    `Window.none()` stands in while no window is open."""

    @classmethod
    def none(cls) -> Window:
        """The window of a process that has none open: never open, its
        display forwarding to kelo_raylib.backend."""
        return cls(0, 0, "", True, None, None, None)

    def __init__(self, width: int, height: int, title: str, hidden: bool, backend: Any,
                 server: VirtualDisplay | None, objects: Any):
        self.width = width
        self.height = height
        self.title = title
        self.hidden = hidden
        self.backend = backend
        self.display = Display(backend)
        # The private X server, when the process had no display of its own.
        self.virtual_display = server
        # Its GPU objects (kelo_ui.gpu.ownership.WindowObjects) and so its thread.
        self.objects = objects
        self._replaced: Any = None
        self._in_frame = False

    @property
    def is_open(self) -> bool:
        return _current is self

    def _require_open(self, function: str) -> None:
        if not self.is_open:
            raise RuntimeError(f"{function}: {self!r} is not open")
        self.objects.check_thread(function)

    def use_backend(self, backend: Any) -> Any:
        """Draw through `backend` from now on: it becomes kelo_raylib.backend
        and serves this window's display. Returns the backend it replaces.

        The window must be open, with no drawing scope open; anything but a
        backend (`kelo_ui.backends.is_backend`) raises TypeError, and the
        window is left as it was."""
        self._require_open("use_backend")
        if not is_backend(backend):
            raise TypeError(f"use_backend: {backend!r} is not a drawing backend (see kelo_ui.backends)")
        if backend is self.backend:
            return backend
        scopes = self.backend.open_scopes()
        if scopes:
            raise RuntimeError(f"use_backend: {scopes} drawing scope{'s are' if scopes != 1 else ' is'} open; "
                               f"end {'them' if scopes != 1 else 'it'} first")
        backend.attach(self.objects)
        replaced = self.backend
        replaced.detach("the window draws through another backend now")
        self.backend = backend
        self.objects.use_backend(backend)
        self.display.use(backend)
        kelo_raylib.backend = backend
        return replaced

    @contextlib.contextmanager
    def frame(self) -> Iterator[Window]:
        """One frame on the window (raylib's begin and end drawing).

        On entry it ends the drawing scopes left open (a checked blit that
        fails after beginning its scopes leaves them open), warning with a
        RuntimeWarning that says how many, and releases the GPU objects that
        other threads left for the window. Inside the block, what is drawn
        outside any scope goes to the window: `window.display.fast_blit_pro(
        target, (0, 0), True, None)` shows a render target the right way up.
        """
        self._require_open("frame")
        if self._in_frame:
            raise RuntimeError("frame: a frame of this window is being drawn already")
        from raylib import rl as lib

        ended = self.backend.end_scopes()
        if ended:
            warnings.warn(f"frame: {ended} drawing scope{'s' if ended != 1 else ''} left open "
                          f"{'were' if ended != 1 else 'was'} ended", RuntimeWarning, stacklevel=3)
        self.objects.run_pending_releases()
        lib.BeginDrawing()
        self._in_frame = True
        try:
            yield self
        finally:
            self._in_frame = False
            if self.is_open and lib.IsWindowReady():
                lib.EndDrawing()

    def close(self) -> None:
        """Close this window if it is still the open one."""
        if _current is self:
            close_window()

    def __enter__(self) -> Window:
        return self

    def __exit__(self, exc_type: type[BaseException] | None, exc: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    def __repr__(self) -> str:
        if self.objects is None:
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


def open_window(width: int, height: int, title: str = "kelo_ui", *, hidden: bool = False) -> Window:
    """Open raylib's window and make it current (see the module's docstring).

    Raises RuntimeError when a window is already open, when called from a
    thread other than the main one, or when no display can be had (the
    message says what to install).
    """
    global _current
    if _current is not None:
        raise RuntimeError(f"a window is already open ({_current!r}); close it first")
    if threading.current_thread() is not threading.main_thread():
        # The window's thread is the only one that may draw, and the private X
        # server stops when the thread that started it ends.
        raise RuntimeError("open_window: a window is opened on the main thread only, which then does all "
                           "its drawing")
    width = _positive("width", width)
    height = _positive("height", height)
    rl = modules.rl
    rl.set_trace_log_level(rl.LOG_WARNING)  # first: a missing binding says so before any server starts
    from raylib import rl as lib

    from kelo_ui.gpu import memory, ownership

    if lib.IsWindowReady():
        # raylib's window, and its X connection, are not this toolkit's: a
        # process forked from one with a window open, or a window opened
        # straight through pyray. Another would write into that connection.
        raise RuntimeError("open_window: raylib has a window already that is not the toolkit's (this process was "
                           "forked from one with a window open, or it was opened straight through pyray)")
    server = VirtualDisplay.start(max(width, 1024), max(height, 768)) if virtual_display.wanted() else None
    try:
        _pin_gl()
        rl.set_config_flags(rl.FLAG_WINDOW_HIDDEN if hidden else 0)
        rl.init_window(width, height, title)
        if not lib.IsWindowReady():
            raise RuntimeError(f"raylib could not open a window on display {_display_name(server)} "
                               f"(its messages above say why); {virtual_display.INSTALL_HINT}")
        try:
            backend = make_backend()
            objects = ownership.open_objects(backend)
            backend.attach(objects)
        except BaseException:
            ownership.close_objects(memory.WINDOW_CLOSED)
            rl.close_window()
            raise
    except BaseException:
        if server is not None:
            server.stop()
        raise
    window = Window(width, height, title, hidden, backend, server, objects)
    window._replaced = _state().window
    kelo_raylib.backend = backend
    _state().window = window
    _current = window
    # Closed before the interpreter tears down: render targets destroyed
    # during shutdown then skip the GPU, and the X server goes too.
    atexit.register(close_window)
    return window


def _display_name(server: VirtualDisplay | None) -> str:
    return server.name if server is not None else repr(os.environ.get("DISPLAY"))


def close_window() -> None:
    """Close the open window, if any, on its thread: its GPU objects die,
    raylib's window closes, then the private X server stops, and last the
    window stops being current. Every step can be repeated, so a close that
    an interrupt stops half-way is finished by the next one (or at exit)."""
    global _current
    window = _current
    if window is None:
        return
    window.objects.check_thread("close_window")
    from raylib import rl as lib

    from kelo_ui.gpu import memory, ownership

    ownership.close_objects(memory.WINDOW_CLOSED)
    window.backend.detach(WINDOW_CLOSED)
    if lib.IsWindowReady():  # raylib may have closed it itself: a second close would crash
        lib.CloseWindow()
    if window.virtual_display is not None:
        window.virtual_display.stop()
    _leave(window, NoWindowBackend(WINDOW_CLOSED))


def _leave(window: Window, backend: NoWindowBackend) -> None:
    """The toolkit's state without `window`; the window stops being current last."""
    global _current
    kelo_raylib.backend = backend
    _state().window = window._replaced
    window.display.use(backend)
    atexit.unregister(close_window)
    _current = None


def _forget_after_fork() -> None:
    # In a forked child the window, its GL context and its X connection are
    # the parent's: any X or GL call here would write into the parent's
    # connection. Everything is forgotten without one.
    window = _current
    if window is None:
        return
    from kelo_ui.gpu import memory, ownership

    ownership.close_objects(memory.FORKED)
    window.backend.detach(FORKED)
    if window.virtual_display is not None:
        window.virtual_display.forget()
    _leave(window, NoWindowBackend(FORKED))


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_forget_after_fork)
