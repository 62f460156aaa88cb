"""Nine-slice panels: a picture stretched into a rectangle, its corners kept.

`blit_nine_slice(target, kl_texture, borders, dest_rect)` cuts the source's
picture by `borders` (left, top, right, bottom) into nine parts and draws
them into `dest_rect` (x, y, width, height) of `target`: the corners at
their own size, the edges stretched along one axis, the centre along both.
A rectangle narrower (or lower) than its two borders takes each border in
proportion and no centre, and the corners are cut to fit, as raylib's
DrawTextureNPatch does, whose pixels these are. Each part is a
`fast_blit_region`, all nine inside one blend-mode and one texture-mode scope
on `target`, so a source may be any render target, an atlas cell included.
"""

from __future__ import annotations

from typing import Any

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.color import Color

__all__ = ["blit_nine_slice"]

_WHITE = Color.White


def _numbers(name: str, value: object) -> tuple[float, float, float, float]:
    if value.__class__ is not tuple or len(value) != 4:  # type: ignore[arg-type]
        raise TypeError(f"{name} must be a tuple of 4 numbers, not {value!r}")
    return tuple(float(item) for item in value)  # type: ignore[return-value, union-attr]


def _cuts(start: float, length: float, first: float, last: float, whole: float) -> tuple[list[float], list[float]]:
    """Where an axis is cut: in the source (0 to `whole`) and in `dest`
    (`start` to `start + length`), by borders `first` and `last`."""
    if length <= first + last:
        first = first / (first + last) * length if first + last else 0.0
        last = length - first
    return [0.0, first, whole - last, whole], [start, start + first, start + length - last, start + length]


def blit_nine_slice(
    target: KlRenderTexture,
    kl_texture: KlRenderTexture,
    borders: tuple[float, float, float, float],
    dest_rect: tuple[float, float, float, float],
    blend_mode: int = 0,
    flip: object = True,
    color: Any = _WHITE,
) -> None:
    """Draw `kl_texture`'s picture into `dest_rect` of `target` as a nine-slice panel.

    `flip` and `color` are as in `blit`: with the default flip the picture
    shows the right way up. Borders that do not fit the source (their sum
    beyond its width or height, or a negative one) raise ValueError, as does a
    `dest_rect` of negative size; a target that is dead or not loaded, or any
    refusal of the parts, raises as `blit_region` would, and no scope is left
    open.
    """
    if not isinstance(target, KlRenderTexture) or not isinstance(kl_texture, KlRenderTexture):
        raise TypeError("blit_nine_slice draws a KlRenderTexture into a KlRenderTexture")
    left, top, right, bottom = _numbers("borders", borders)
    x, y, width, height = _numbers("dest_rect", dest_rect)
    source_width, source_height = kl_texture.width, kl_texture.height
    if min(left, top, right, bottom) < 0 or left + right > source_width or top + bottom > source_height:
        raise ValueError(f"borders {borders} do not fit a source of {source_width}x{source_height}")
    if width < 0 or height < 0:
        raise ValueError(f"dest_rect {dest_rect} has a negative size")
    flipped = bool(flip)
    if not flipped:  # the picture as a blit without a flip shows it: upside down
        top, bottom = bottom, top
    columns, dest_columns = _cuts(x, width, left, right, source_width)
    rows, dest_rows = _cuts(y, height, top, bottom, source_height)
    parts = []
    for row in range(3):
        for column in range(3):
            area_width = columns[column + 1] - columns[column]
            area_height = rows[row + 1] - rows[row]
            dest_width = dest_columns[column + 1] - dest_columns[column]
            dest_height = dest_rows[row + 1] - dest_rows[row]
            if area_width < 1 or area_height < 1 or dest_width <= 0 or dest_height <= 0:
                continue  # nothing of it shows
            area_y = rows[row] if flipped else source_height - rows[row] - area_height
            parts.append(
                (
                    (columns[column], area_y, area_width, area_height),
                    (dest_columns[column], dest_rows[row], dest_width, dest_height),
                )
            )
    assert target.loaded, "Render texture not loaded"
    kelo_raylib.begin_blend_mode(blend_mode)
    try:
        with target:
            for area, dest in parts:
                target.fast_blit_region(kl_texture, area, dest, flipped, color)
    except BaseException as failure:
        # The first failure is the one raised, as in the checked blits.
        try:
            kelo_raylib.end_blend_mode()
        except BaseException as later:
            failure.__context__ = later
        raise
    kelo_raylib.end_blend_mode()
