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

import math
from numbers import Real
from typing import Any

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.color import Color

__all__ = ["blit_nine_slice"]

_WHITE = Color.White


def _numbers(name: str, value: object) -> tuple[float, float, float, float]:
    """`value`, exactly a tuple of 4 finite real numbers, as floats."""
    # Exactly a tuple, as a blit's dest: a list or a named tuple is refused.
    if value.__class__ is not tuple or len(value) != 4:  # type: ignore[arg-type]
        raise TypeError(f"blit_nine_slice: {name} must be a tuple of 4 numbers, not {value!r}")
    numbers = []
    for index, item in enumerate(value):  # type: ignore[arg-type]
        if not isinstance(item, Real):
            raise TypeError(f"blit_nine_slice: {name}[{index}] is {item!r}, not a real number")
        try:
            number = float(item)
        except OverflowError:
            number = math.inf
        if not math.isfinite(number):
            raise ValueError(f"blit_nine_slice: {name}[{index}] is {item!r}; it must be finite")
        numbers.append(number)
    return tuple(numbers)  # type: ignore[return-value]


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
    shows the right way up. Every argument is checked before anything is
    drawn: `target` or `kl_texture` other than a KlRenderTexture, or
    `borders` or `dest_rect` other than exactly a tuple of 4 real numbers,
    raise TypeError; a number that is not finite, a negative border or size,
    or borders whose sum is beyond the source's width or height raise
    ValueError naming the element; a target that is dead or not loaded, or
    any refusal of the parts, raises as `blit_region` would. No scope is left
    open.
    """
    for name, value in (("target", target), ("kl_texture", kl_texture)):
        if not isinstance(value, KlRenderTexture):
            raise TypeError(f"blit_nine_slice: {name} must be a KlRenderTexture, not {type(value).__name__}")
    left, top, right, bottom = edges = _numbers("borders", borders)
    x, y, width, height = _numbers("dest_rect", dest_rect)
    for index, border in enumerate(edges):
        if border < 0:
            raise ValueError(f"blit_nine_slice: borders[{index}] is {border!r}; a border is 0 or more")
    for index, size in ((2, width), (3, height)):
        if size < 0:
            raise ValueError(f"blit_nine_slice: dest_rect[{index}] is {size!r}; a size is 0 or more")
    if not (math.isfinite(x + width) and math.isfinite(y + height)):
        raise ValueError(f"blit_nine_slice: dest_rect {dest_rect!r} ends beyond the largest float")
    source_width, source_height = kl_texture.width, kl_texture.height
    for first, last, whole, across in ((0, 2, source_width, "width"), (1, 3, source_height, "height")):
        if edges[first] + edges[last] > whole:
            raise ValueError(
                f"blit_nine_slice: borders[{first}] + borders[{last}] is {edges[first] + edges[last]!r},"
                f" beyond the source's {across}, {whole!r}"
            )
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
    # The blend mode's own checks come first, then the target's (`with`), then
    # the source's and the colour's at the first part: each refuses before
    # anything is drawn, and every part after the first passes them alike.
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
