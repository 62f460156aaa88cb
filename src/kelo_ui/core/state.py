"""Process-wide toolkit state: the window, as the window context has it.

`kelo_state.window` is the open window (`kelo_ui.window.Window`), or while
none is open the stand-in `Window.none()`. It is read from the window context
(`kelo_ui.window.context`) at every use and cannot be assigned: the context
is the one owner of the open window. Its `display.fast_blit_pro(texture, dest,
flip, color)` draws a texture into the drawing backend's current target.
"""

from kelo_ui.window import Window, context

context.stand_in = Window.none()


class State:
    """The toolkit's state; every part of it is asked of its owner."""

    # The open window, or `Window.none()`: a property whose getter is the
    # context's own, so that reading it runs no Python code.
    window = property(context.shown_window, doc="The open window, or `Window.none()`.")


kelo_state = State()
