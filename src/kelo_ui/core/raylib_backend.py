"""The drawing backend that draws for real, through raylib's C functions.

`kelo_raylib` forwards each of its drawing functions to the method of the same
name on `kelo_raylib.backend`. `kelo_ui.window.open_window` installs the native
backend there (`kelo_raylib.NativeBackend`, the same calls made in C++), and a
`RaylibBackend` when the installed binding does not match that one; both draw
the same pixels. The calls go straight to the
C library under the `pyray` binding (`raylib.rl`): the objects that `pyray`
makes (render textures, textures) are that library's own structures, and the
tuples the toolkit passes for vectors, rectangles and colours convert on the
way in, so no wrapper is needed per call.

Meaning of the arguments, in raylib's terms:

- colours are `(r, g, b, a)` tuples of 0..255; a tint of None means white
  (no tint), a clear colour of None means fully transparent;
- a render texture stores its rows bottom-up, so drawing its colour texture
  with a negative source height (a flip) shows it the right way up.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

from raylib import ffi
from raylib import rl as lib

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture

WHITE = (255, 255, 255, 255)
BLANK = (0, 0, 0, 0)
ORIGIN = (0.0, 0.0)

_RENDER_TEXTURE = ffi.typeof("RenderTexture")


def colour_texture(texture: Any) -> Any:
    """The raylib Texture to draw for `texture`: a KlRenderTexture's or a
    raylib RenderTexture's colour texture, anything else as it is."""
    if isinstance(texture, KlRenderTexture):
        return texture.texture
    if isinstance(texture, ffi.CData) and ffi.typeof(texture) is _RENDER_TEXTURE:
        return texture.texture
    return texture


class RaylibBackend:
    """Draws into raylib's current target: the window, or the render texture
    of the innermost begin_texture_mode."""

    # --- scopes ---------------------------------------------------------------

    def begin_texture_mode(self, render_texture: Any) -> None:
        lib.BeginTextureMode(render_texture)

    def end_texture_mode(self) -> None:
        lib.EndTextureMode()

    def begin_blend_mode(self, mode: int) -> None:
        lib.BeginBlendMode(mode)

    def end_blend_mode(self) -> None:
        lib.EndBlendMode()

    # --- the drawing calls of kelo_raylib ---------------------------------------

    def c_clear_background(self, color: Sequence[int] | None) -> None:
        lib.ClearBackground(BLANK if color is None else color)

    clear_background = c_clear_background

    def c_draw_texture_vec(self, texture: Any, dest: Sequence[float], color: Sequence[int] | None,
                           flip: int) -> None:
        height = -texture.height if flip else texture.height
        lib.DrawTextureRec(texture, (0, 0, texture.width, height), dest, WHITE if color is None else color)

    def c_draw_texture_rec(self, texture: Any, source: Sequence[float], dest: Sequence[float],
                           color: Sequence[int] | None) -> None:
        lib.DrawTexturePro(texture, source, dest, ORIGIN, 0.0, WHITE if color is None else color)

    # --- the display's blit -----------------------------------------------------

    def fast_blit_pro(self, texture: Any, dest: Sequence[float] | None, flip: object,
                      color: Sequence[int] | None) -> None:
        """Draw `texture` (a raylib Texture or RenderTexture, or a
        KlRenderTexture) at `dest`: None or (x, y) at its own size, (x, y, w, h)
        scaled into that rectangle; upside down when `flip` is true."""
        texture = colour_texture(texture)
        if dest is None:
            dest = ORIGIN
        size = len(dest)
        if size == 2:
            self.c_draw_texture_vec(texture, dest, color, 1 if flip else 0)
        elif size == 4:
            height = -texture.height if flip else texture.height
            self.c_draw_texture_rec(texture, (0, 0, texture.width, height), dest, color)
        else:
            raise ValueError(f"Invalid dest argument - {dest}, must be (x, y) or (x, y, width, height)")
