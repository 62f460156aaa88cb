"""Shared helpers of the tests that draw for real: whether a display can be
had, the window they draw under, pixel helpers, and the colours and
pictures the pixel tests draw.

Without a display the drawing tests are skipped, saying why, except under CI
(`CI` set), where a missing display fails them.
"""

import contextlib
import importlib.util
import os
import shutil

import pytest

from kelo_ui.atlas import Atlas
from kelo_ui.core import virtual_display
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.pixels import read_rgba


def no_display(reason):
    """Skip the test for `reason`, or fail it under CI."""
    if os.environ.get("CI"):
        pytest.fail(f"CI needs a display: {reason}", pytrace=False)
    pytest.skip(reason)


def need_display(own_server=False):
    """Skip (or under CI fail) unless a window could open in a fresh process;
    with `own_server`, one without DISPLAY (raylib's SDL build needs no Xvfb
    for that)."""
    if importlib.util.find_spec("pyray") is None:
        no_display("the raylib binding is not installed (pip install raylib)")
    if shutil.which("Xvfb") is None and not virtual_display.sdl_binding():
        if own_server:
            no_display("Xvfb is not on PATH (run scripts/setup-display)")
        if not os.environ.get("DISPLAY"):
            no_display("no display: DISPLAY is unset and Xvfb is not on PATH (run scripts/setup-display)")


@contextlib.contextmanager
def drawing_window():
    """The hidden window that the drawing tests run under, open for the
    block; the tests after these find the process as a fresh one has it."""
    need_display()
    from kelo_ui.window import open_window

    try:
        window = open_window(64, 64, "kelo_ui tests", hidden=True)
    except RuntimeError as error:
        no_display(str(error))
    with window:
        yield window


def target(width, height, color=None):
    """A new render target of width x height cleared to `color`."""
    rt = KlRenderTexture(KlVector2(width, height))
    rt.clear(color)
    return rt


def image_rows(width, height, data):
    """RGBA8 bytes as a list of rows of (r, g, b, a) tuples."""
    return [[tuple(data[(y * width + x) * 4 : (y * width + x) * 4 + 4]) for x in range(width)] for y in range(height)]


def canvas(width, height, color=(0, 0, 0, 0)):
    return [[color] * width for _ in range(height)]


def paste(rows, picture, x, y):
    """`rows` with `picture` (rows of pixels) put at (x, y)."""
    for dy, line in enumerate(picture):
        rows[y + dy][x : x + len(line)] = line
    return rows


def near(got, expected, tolerance):
    return all(abs(g - e) <= tolerance for g, e in zip(got, expected, strict=True))


# --- what the pixel tests draw and read -------------------------------------------

BLUE = (0, 0, 255, 255)
RED = (255, 0, 0, 255)
GREEN = (0, 255, 0, 255)
WHITE = (255, 255, 255, 255)
BLANK = (0, 0, 0, 0)
# A 2x2 source: blue on top, red below (as drawn: row 0 is y = 0).
STRIPES = [[BLUE, BLUE], [RED, RED]]
MIRRORED = STRIPES[::-1]


def read(rt):
    """A target's pixels as rows of (r, g, b, a), the top row first."""
    return image_rows(*read_rgba(rt))


def cell_among_others(width, height, color=None):
    """A cell of a page whose other cells are RED, and a check that they still are."""
    atlas = Atlas(KlVector2(16, 16))
    before, cell, after = (atlas.allocate(KlVector2(*size)) for size in ((2, height), (width, height), (3, 2)))
    before.clear(RED)
    after.clear(RED)
    cell.clear(color)
    return cell, lambda: read(before) == canvas(2, height, RED) and read(after) == canvas(3, 2, RED)
