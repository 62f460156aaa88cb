"""The toolkit's window: raylib's window and the drawing backend that goes with it.

```python
from kelo_ui.window import open_window

with open_window(640, 480, hidden=True) as window:
    ...   # KlRenderTexture drawing now lands in GPU render textures
```

`open_window` initialises raylib's window, installs a drawing backend as
`kelo_raylib.backend` (so the native drawing functions draw for real) and
binds `kelo_state.window` to the new `Window`, whose `display.fast_blit_pro`
draws through that backend. The backend is the native one, which calls
raylib's C functions directly, unless the installed binding is not the one it
was written for (see `make_backend`). One window at a time. Without a display
(`DISPLAY` unset) it starts a private Xvfb for the process first.

`close_window` undoes all of it: the backend goes back to None, and
`kelo_state.window` back to the window it replaced, whose display draws nothing
without a backend. Render targets that outlive the window are not unloaded:
their GPU resources went with the window.
"""

from __future__ import annotations

import atexit
import ctypes
import os
import sys
import warnings
from types import TracebackType
from typing import Any

from kelo_ui.core import modules, virtual_display
from kelo_ui.core.state import kelo_state
from kelo_ui.core.virtual_display import VirtualDisplay
from kelo_ui.fast.raylib import kelo_raylib

_current: Window | None = None
_pinned_libraries: list[ctypes.CDLL] = []


BACKEND_KINDS = ("best", "native", "python")


def make_backend(kind: str = "best") -> Any:
    """The drawing backend that a new window installs as kelo_raylib.backend;
    the one place that picks it.

    - "native": `kelo_raylib.NativeBackend`, which calls raylib's C functions
      directly; raises `kelo_raylib.BindingMismatch` when the installed
      binding is not the one it was written for.
    - "python": `RaylibBackend`, which calls them through the binding.
    - "best" (what open_window uses): the native backend when the binding
      allows it, else the Python one, with a RuntimeWarning saying why.
    """
    if kind not in BACKEND_KINDS:
        raise ValueError(f"backend kind must be one of {', '.join(map(repr, BACKEND_KINDS))}, not {kind!r}")
    if kind != "python":
        import raylib

        try:
            return kelo_raylib.NativeBackend(raylib.ffi, raylib.rl)
        except kelo_raylib.BindingMismatch as error:
            if kind == "native":
                raise
            warnings.warn(f"kelo_ui draws through the Python raylib backend: {error}", RuntimeWarning,
                          stacklevel=2)
    from kelo_ui.core.raylib_backend import RaylibBackend

    return RaylibBackend()


def current_window() -> Window | None:
    """The open window, or None."""
    return _current


def _draw_nothing(texture: Any, dest: Any, flip: object, color: Any) -> None:
    return None


def _pin_gl() -> None:
    # GLFW unloads the GL library when the window closes, leaving raylib's GL
    # function pointers dangling: killing a render target after close_window
    # would jump into unmapped code. Kept loaded, those late calls find no
    # current context and do nothing.
    if _pinned_libraries or not sys.platform.startswith(("linux", "freebsd", "openbsd", "netbsd")):
        return
    for name in ("libGLX.so.0", "libGL.so.1"):
        try:
            _pinned_libraries.append(ctypes.CDLL(name))
        except OSError:
            pass


class Display:
    """Where a window's blits go: `fast_blit_pro(texture, dest, flip, color)`
    draws through the window's backend while the window is open, and does
    nothing once it has closed."""

    def __init__(self, backend: Any):
        self._attach(backend)

    def _attach(self, backend: Any) -> None:
        # The backend's own bound method, not a forwarding one: blit_texture
        # calls it once per blit (a native method, with the native backend).
        self.fast_blit_pro = backend.fast_blit_pro

    def _detach(self) -> None:
        self.fast_blit_pro = _draw_nothing


class Window:
    """An open raylib window; `with` closes it at the end of the block."""

    def __init__(self, width: int, height: int, title: str, hidden: bool, backend: Any,
                 server: VirtualDisplay | None):
        self.width = width
        self.height = height
        self.title = title
        self.hidden = hidden
        self.backend = backend
        self.display = Display(backend)
        # The private X server, when the process had no display of its own.
        self.virtual_display = server
        self._replaced: Any = None

    @property
    def is_open(self) -> bool:
        return _current is self

    def use_backend(self, backend: Any) -> Any:
        """Draw through `backend` from now on: it becomes kelo_raylib.backend
        and serves this window's display. Returns the backend it replaces.
        The window must be open."""
        if not self.is_open:
            raise RuntimeError(f"{self!r} is not open")
        replaced = self.backend
        self.backend = backend
        self.display._attach(backend)
        kelo_raylib.backend = backend
        return replaced

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
        state = "open" if self.is_open else "closed"
        where = f" on {self.virtual_display.name}" if self.virtual_display is not None else ""
        return f"<Window {self.title!r} {self.width}x{self.height} {state}{where}>"


def _positive(name: str, value: object) -> int:
    if not isinstance(value, int) or isinstance(value, bool):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if value <= 0:
        raise ValueError(f"{name} must be positive, got {value}")
    return value


def open_window(width: int, height: int, title: str = "kelo_ui", *, hidden: bool = False) -> Window:
    """Open raylib's window and make it current (see the module's docstring).

    Raises RuntimeError when a window is already open, or when no display can
    be had (the message says what to install).
    """
    global _current
    if _current is not None:
        raise RuntimeError(f"a window is already open ({_current!r}); close it first")
    width = _positive("width", width)
    height = _positive("height", height)
    rl = modules.rl
    rl.set_trace_log_level(rl.LOG_WARNING)  # first: a missing binding says so before any server starts
    server = VirtualDisplay.start(max(width, 1024), max(height, 768)) if virtual_display.wanted() else None
    try:
        _pin_gl()
        rl.set_config_flags(rl.FLAG_WINDOW_HIDDEN if hidden else 0)
        rl.init_window(width, height, title)
        if not rl.is_window_ready():
            raise RuntimeError(f"raylib could not open a window on display {_display_name(server)} "
                               f"(its messages above say why); {virtual_display.INSTALL_HINT}")
        try:
            backend = make_backend()
        except BaseException:
            rl.close_window()
            raise
    except BaseException:
        if server is not None:
            server.stop()
        raise
    window = Window(width, height, title, hidden, backend, server)
    window._replaced = kelo_state.window
    kelo_raylib.backend = backend
    kelo_state.window = window
    _current = window
    # Closed before the interpreter tears down: render targets destroyed
    # during shutdown then skip the GPU, and the X server goes too.
    atexit.register(close_window)
    return window


def _display_name(server: VirtualDisplay | None) -> str:
    return server.name if server is not None else repr(os.environ.get("DISPLAY"))


def close_window() -> None:
    """Close the open window, if any: backend back to None, kelo_state.window
    back to the window it replaced, the private X server stopped."""
    global _current
    window = _current
    if window is None:
        return
    _current = None
    atexit.unregister(close_window)
    kelo_raylib.backend = None
    kelo_state.window = window._replaced
    window.display._detach()
    try:
        # Already closed through raylib itself: closing twice would crash.
        if modules.rl.is_window_ready():
            modules.rl.close_window()
    finally:
        if window.virtual_display is not None:
            window.virtual_display.stop()
