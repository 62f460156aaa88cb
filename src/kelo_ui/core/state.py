"""Process-wide toolkit state: the window and its display.

`kelo_state.window.display.fast_blit_pro(texture, dest, flip, color)` draws a
texture into the drawing backend's current target. While no window is open,
`kelo_state.window` is a stand-in whose display forwards to
`kelo_raylib.backend`, looked up at every call.
"""

from typing import Any

from kelo_ui.fast.raylib import kelo_raylib


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
    """The window of a process that has none open."""

    def __init__(self) -> None:
        self.display = Display()


class State:
    def __init__(self) -> None:
        self.window = Window()


kelo_state = State()
