# The operations of a fuzz_real run, as Python (names as the run gave them).
import copy
import math
import os
import select
import signal
import threading
import warnings
from contextlib import suppress

from kelo_ui.atlas import Atlas
from kelo_ui.core import modules as md
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.nine_slice import blit_nine_slice
from kelo_ui.presentation.pixels import read_rgba
from kelo_ui.scene import Scene
from kelo_ui.window import close_window, open_window

# What the logged operations use.
__all__ = [
    "GBRA",
    "MAGENTA",
    "Scene",
    "Atlas",
    "Closing",
    "Forking",
    "Interrupting",
    "KlRenderTexture",
    "KlVector2",
    "blit_nine_slice",
    "close_window",
    "copy",
    "in_fork",
    "in_thread",
    "kelo_raylib",
    "math",
    "md",
    "open_window",
    "pixels",
    "read_rgba",
    "recomposed",
    "suppress",
]

# Fragment shaders whose output is known: opaque magenta whatever is drawn,
# and the tinted texel with its colour channels turned (r, g, b -> g, b, r).
MAGENTA = """#version 330
out vec4 finalColor;
void main() { finalColor = vec4(1.0, 0.0, 1.0, 1.0); }
"""
GBRA = """#version 330
in vec2 fragTexCoord;
in vec4 fragColor;
uniform sampler2D texture0;
uniform vec4 colDiffuse;
out vec4 finalColor;
void main() { finalColor = (texture(texture0, fragTexCoord) * colDiffuse * fragColor).gbra; }
"""


def in_thread(work):
    thread = threading.Thread(target=work)
    thread.start()
    thread.join()


def recomposed(scene):
    """The picture of the scene's items (those with a box) composed whole in a fresh scene."""
    twin = Scene(KlVector2(*scene.size), scene.background)
    for item in scene.items:
        if item.box is not None:
            twin.add(item.source, item.pos, area=item.area, tint=item.tint, blend_mode=item.blend_mode, clip=item.clip)
    twin.compose()
    return read_rgba(twin.target)


def pixels(values):
    """RGBA8 bytes as raylib's update_texture takes them."""
    return md.rl.ffi.new("unsigned char[]", bytes(values))


class Forking:
    """A number whose conversion forks the process (run the call with in_fork)."""

    children = []
    report = None

    def __init__(self, value):
        self.value = value

    def _fork(self):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)  # the GL driver's threads are not the child's
            child = os.fork()
        if child:
            Forking.children.append(child)
        return self.value

    def __index__(self):
        return int(self._fork())

    def __float__(self):
        return float(self._fork())


def in_fork(work, timeout=10.0):
    """Run `work`, whose arguments fork (Forking): the child writes what the
    call did to a pipe and exits at once; the parent's call goes on. What the
    child said is left in Forking.report (None when it said nothing within
    `timeout` seconds: it is killed)."""
    parent = os.getpid()
    read_end, write_end = os.pipe()
    Forking.children, Forking.report = [], None
    outcome = "returned"
    try:
        work()
    except BaseException as error:
        outcome = f"{type(error).__name__}: {error}"
        if os.getpid() == parent:
            raise
    finally:
        if os.getpid() != parent:
            os.write(write_end, outcome.encode())
            os._exit(0)
        os.close(write_end)
        try:
            Forking.report = _answer(read_end, timeout)
        finally:
            os.close(read_end)


def _answer(read_end, timeout):
    said = []
    for child in Forking.children:
        if select.select([read_end], [], [], timeout)[0]:
            said.append(os.read(read_end, 4096).decode())
            os.waitpid(child, 0)
        else:
            os.kill(child, signal.SIGKILL)
            os.waitpid(child, 0)
            return None
    return "; ".join(said) if said else None


class Interrupting:
    """A number whose conversion is interrupted, as by Ctrl-C."""

    def __index__(self):
        raise KeyboardInterrupt

    __float__ = __index__


class Closing:
    """A number whose conversion closes the window."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        close_window()
        return int(self.value)

    def __float__(self):
        close_window()
        return float(self.value)
