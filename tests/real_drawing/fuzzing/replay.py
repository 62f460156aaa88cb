# The operations of a fuzz_real run, as Python (names as the run gave them).
import copy
import threading
from contextlib import suppress

from kelo_ui.atlas import Atlas
from kelo_ui.core import modules as md
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.pixels import read_rgba
from kelo_ui.window import close_window, open_window

# What the logged operations use.
__all__ = [
    "Atlas",
    "KlRenderTexture",
    "KlVector2",
    "close_window",
    "copy",
    "in_thread",
    "kelo_raylib",
    "md",
    "open_window",
    "read_rgba",
    "suppress",
]


def in_thread(work):
    thread = threading.Thread(target=work)
    thread.start()
    thread.join()
