"""Process-wide toolkit state: the window.

`kelo_state.window` is the open window (`kelo_ui.window.Window`), or while
none is open the stand-in `Window.none()`, whose display forwards to
`kelo_raylib.backend`, looked up at every call. Its
`display.fast_blit_pro(texture, dest, flip, color)` draws a texture into the
drawing backend's current target.
"""

from typing import Any


class State:
    def __init__(self) -> None:
        # kelo_ui.window imports this module: it is imported here, once this
        # module's names exist.
        from kelo_ui.window import Window

        self.window: Any = Window.none()


kelo_state = State()
