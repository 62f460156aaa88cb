"""Process-wide toolkit state: the window and its display.

`kelo_state.window.display.fast_blit_pro(texture, dest, flip, color)` draws a
texture into the drawing backend's current target; the backend is
`kelo_raylib.backend`, looked up at every call.
"""

from kelo_ui.fast.raylib import kelo_raylib


class Display:
    def fast_blit_pro(self, texture, dest, flip, color):
        backend = kelo_raylib.backend
        if backend is not None:
            backend.fast_blit_pro(texture, dest, flip, color)


class Window:
    def __init__(self):
        self.display = Display()


class State:
    def __init__(self):
        self.window = Window()


kelo_state = State()
