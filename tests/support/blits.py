"""Shared helpers of the blit tests against the recording backend
(kl_render_tex/test_blitting.py and its neighbours): the calls a blit makes,
the scopes refusals leave begun, and arguments that misbehave."""

import collections
import enum

from kelo_ui.presentation.color import Color

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"
WHITE = Color.White
RED = (255, 0, 0, 255)
Point = collections.namedtuple("Point", "x y")


class Mode(enum.IntEnum):
    ADDITIVE = 1


def scoped(dst, draw, blend_mode=0):
    return [
        ("begin_blend_mode", blend_mode),
        ("begin_texture_mode", dst.render_texture),
        draw,
        ("end_texture_mode",),
        ("end_blend_mode",),
    ]


def vec(src, dest, color=WHITE, flip=1):
    return ("c_draw_texture_vec", src.render_texture.texture, dest, color, flip)


def rec(src, source, dest, color=WHITE):
    return ("c_draw_texture_rec", src.render_texture.texture, source, dest, color)


def pro(texture, dest, flip=True, color=WHITE):
    return ("fast_blit_pro", texture, dest, flip, color)


# Where a refusal happens, by the backend calls made before it.
BEFORE: list[str] = []  # nothing drawn or begun
BEGUN = ["begin_blend_mode", "begin_texture_mode"]
ENDS = ["end_texture_mode", "end_blend_mode"]
ENDED = [*BEGUN, *ENDS]  # refused once both scopes were begun: both are ended


def incorrect(name, got, expected="tuple"):
    return f"Argument '{name}' has incorrect type (expected {expected}, got {got})"


class Exploding:
    def __bool__(self):
        raise ZeroDivisionError("truth")

    def __int__(self):
        raise ArithmeticError("int")


def traceback_names(error):
    tb, names = error.__traceback__, []
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return names
