"""The scene of `make bench-frame`, shared by the processes that draw it: an
800x600 scene composed of N widgets of 64x24, each cached once in a render
texture (or an atlas cell) of its own and blitted every frame. Nothing here
imports kelo_ui: the baseline's process must never import it."""

import ctypes

SCENE = (800, 600)
WIDGET = (64, 24)
COUNTS = (20, 200, 2000)
BACKGROUND = (24, 28, 36, 255)
WHITE = (255, 255, 255, 255)


def positions(count):
    """Where each widget goes, spread over the scene (they overlap past 300)."""
    width, height = SCENE[0] - WIDGET[0], SCENE[1] - WIDGET[1]
    return [((index * 37) % width, (index * 53) % height) for index in range(count)]


def draw_widget(rl, index):
    """One widget, drawn with raylib's shapes and text through `rl` (pyray,
    or the toolkit's md.rl) into the current target, cleared beforehand to
    transparent: a translucent frame, an opaque rounded rectangle, text."""
    width, height = WIDGET
    shade = 60 + (index * 29) % 160
    rl.draw_rectangle_lines_ex(rl.Rectangle(0, 0, width, height), 2, (255, 255, 255, 96))
    rl.draw_rectangle_rounded(rl.Rectangle(3, 3, width - 6, height - 6), 0.4, 6, (shade, 90, 200 - shade // 2, 255))
    rl.draw_text(f"#{index}", 8, 7, 10, (250, 250, 250, 255))


def gl_finish():
    """glFinish of the GL library the window draws with."""
    for name in ("libOpenGL.so.0", "libGL.so.1"):
        try:
            return ctypes.CDLL(name).glFinish
        except (OSError, AttributeError):
            continue
    raise RuntimeError("no GL library with glFinish")
