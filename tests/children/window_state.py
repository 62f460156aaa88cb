"""What every window child checks: that the toolkit is left as it was found.

Imported first by the window children, before any window opens, so that
DEFAULT_WINDOW is the toolkit's own stand-in for no window."""

import os

from kelo_ui.core import modules, virtual_display
from kelo_ui.core.state import kelo_state
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.window import context, current_window

DEFAULT_WINDOW = kelo_state.window
SDL = virtual_display.sdl_binding()


def stand_in_running(server):
    """The private X server runs, or for raylib's SDL build its offscreen
    driver is chosen."""
    if SDL:
        return server.process is None and os.environ.get("SDL_VIDEODRIVER") == "offscreen"
    return os.environ.get("DISPLAY") == server.name and server.process.poll() is None


def assert_closed():
    """No window, no backend but the context, no scope, no display left."""
    assert current_window() is None and context.window is None and not context.is_active
    assert kelo_raylib.backend is context and context.live == 0 and context.open_scopes() == 0
    assert kelo_state.window is DEFAULT_WINDOW
    assert not modules.rl.is_window_ready()
    assert not {"DISPLAY", "XDG_RUNTIME_DIR", "SDL_VIDEODRIVER"} & set(os.environ)
