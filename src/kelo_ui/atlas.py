"""Widget atlases: many small render targets as cells of a few large ones.

A widget cached in a render target of its own costs the driver a texture
switch every time it is blitted; cells of one shared texture cost none, with
the same pixels. `Atlas(page_size)` hands out cells: `atlas.allocate(size)`
is a `Cell`, a `KlRenderTexture` that everything taking a render target
takes, acting on the cell's area of its page only:

- `with cell:` draws into its area, clipped to it, with the origin at its
  top-left corner (raylib's text and shapes land where they would in a target
  of that size); `clear`, `fill` and `fast_clear` touch only its area, and so
  do `blit` and `fast_blit` into it;
- as a source (`blit`, `fast_blit`, `fast_blits`, `blits`, `blit_region`,
  `copy()`, the display) it gives its area only;
- `kill()`, or dropping its last reference, frees its area for later cells.

Cells belong to the window, as targets do: they die when it closes. A cell
cannot be pickled, as a loaded target cannot.

Packing: each page is one render texture cut into shelves, rows as tall as
the first cell put on them, filled left to right. Widgets come in few
heights (a row of buttons, of labels), so a shelf fits a run of them with
little waste, a free area is found by looking at one row at a time, and a
freed area is merged with the free space beside it on its shelf; when
nothing fits, the areas of cells that died unnoticed are collected, and then
a new page opens.
"""

from __future__ import annotations

import collections
import itertools
import math
import weakref
from typing import Any

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib.kelo_raylib import context

__all__ = ["Atlas", "Cell"]


class Cell(KlRenderTexture):
    """A cell of an atlas page: a render target of its own for everything that
    draws, whose pixels are the area `area` (x, y, width, height) of `page`."""

    __slots__ = ("area", "page", "_atlas", "_key", "__weakref__")

    def kill(self) -> None:
        """Release the cell: its area is free for later cells."""
        super().kill()
        atlas = self._atlas()
        if atlas is not None:
            atlas._freed.append(self._key)

    def __copy__(self) -> Cell:
        # The same cell, as copy.copy of a target shares its render texture.
        twin = Cell.__new__(Cell)
        twin.render_texture, twin.size, twin.loaded = self.render_texture, self.size, self.loaded
        twin.area, twin.page, twin._atlas, twin._key = self.area, self.page, self._atlas, self._key
        return twin

    def __repr__(self) -> str:
        return f"<Cell {self.area} of page {self.page}>"


class _Shelf:
    """A row of a page: its top, its height, where its free tail starts, and
    the free spans (x, width) before it, left by cells that died."""

    __slots__ = ("y", "height", "end", "spans")

    def __init__(self, y: int, height: int):
        self.y, self.height, self.end = y, height, 0
        self.spans: list[tuple[int, int]] = []

    def take(self, width: int, page_width: int) -> int | None:
        """The x of a free span of `width`, taken; None when none is."""
        for index, (x, free) in enumerate(self.spans):
            if free >= width:
                if free == width:
                    del self.spans[index]
                else:
                    self.spans[index] = (x + width, free - width)
                return x
        if self.end + width <= page_width:
            self.end += width
            return self.end - width
        return None

    def give_back(self, x: int, width: int) -> None:
        """The span (x, width) is free again, merged with free space beside it."""
        spans = sorted([*self.spans, (x, width)])
        merged: list[tuple[int, int]] = []
        for start, free in spans:
            if merged and merged[-1][0] + merged[-1][1] == start:
                merged[-1] = (merged[-1][0], merged[-1][1] + free)
            else:
                merged.append((start, free))
        if merged and merged[-1][0] + merged[-1][1] == self.end:
            self.end = merged.pop()[0]
        self.spans = merged


class _Page:
    """One render texture of an atlas and its shelves."""

    def __init__(self, width: int, height: int):
        self.render_texture = context.load_render_texture(width, height)
        # A new texture's pixels are whatever the driver had: cells start clear.
        context.begin_texture_mode(self.render_texture)
        try:
            context.c_clear_background(None)
        finally:
            context.end_texture_mode()
        self.width, self.height = width, height
        self.shelves: list[_Shelf] = []
        self.top = 0  # where the next shelf starts

    @property
    def alive(self) -> bool:
        return bool(self.render_texture.id)

    def place(self, width: int, height: int) -> tuple[_Shelf, int] | None:
        """Room for width x height: on the lowest shelf it fits, else on a new one."""
        for shelf in sorted((s for s in self.shelves if s.height >= height), key=lambda s: s.height):
            if shelf.height <= 2 * height or not shelf.end:  # a much taller row only when it is empty
                x = shelf.take(width, self.width)
                if x is not None:
                    return shelf, x
        if self.top + height <= self.height:
            shelf = _Shelf(self.top, height)
            self.top += height
            self.shelves.append(shelf)
            return shelf, shelf.take(width, self.width)  # type: ignore[return-value]
        return None


class Atlas:
    """Cells of pages of `page_size` (a KlVector2, whole pixels), made and
    released through the open window."""

    # The default is read, never kept: one vector can serve every call.
    def __init__(self, page_size: KlVector2 = KlVector2(1024, 1024)):  # noqa: B008
        if not isinstance(page_size, KlVector2):
            raise TypeError(f"page_size must be a KlVector2, not {type(page_size).__name__}")
        self.page_width, self.page_height = int(page_size.x), int(page_size.y)
        if self.page_width < 1 or self.page_height < 1:
            raise ValueError(f"a page is at least 1x1, not {page_size.x}x{page_size.y}")
        self._pages: list[_Page] = []
        # Each cell's place, by its key, while it may be alive: its page,
        # shelf, x and width, and a weak reference to its view.
        self._cells: dict[int, tuple[_Page, _Shelf, int, int, weakref.ref[Any]]] = {}
        self._freed: collections.deque[int] = collections.deque()  # appended from any thread
        self._keys = itertools.count()

    @property
    def pages(self) -> list[Any]:
        """The render textures of the pages that are alive."""
        return [page.render_texture for page in self._pages if page.alive]

    def allocate(self, size: KlVector2) -> Cell:
        """A new cell of `size` (truncated to whole pixels, as a target's is).

        A size below 1 or beyond a page raises ValueError; with no window
        open, or from another thread, RuntimeError."""
        if not isinstance(size, KlVector2):
            raise TypeError(f"size must be a KlVector2, not {type(size).__name__}")
        width, height = (int(value) if math.isfinite(value) else 0 for value in (size.x, size.y))
        if width < 1 or height < 1:
            raise ValueError(f"a cell is at least 1x1, not {size.x}x{size.y}")
        if width > self.page_width or height > self.page_height:
            raise ValueError(f"a cell of {width}x{height} does not fit a page of {self.page_width}x{self.page_height}")
        self._reclaim()
        place = self._place(width, height)
        if place is None:
            self._collect()
            place = self._place(width, height)
        if place is None:
            self._pages.append(_Page(self.page_width, self.page_height))
            place = self._place(width, height)
            assert place is not None
        page, shelf, x = place
        try:
            view = context.make_cell(page.render_texture, x, shelf.y, width, height)
        except BaseException:
            shelf.give_back(x, width)
            raise
        cell = Cell.__new__(Cell)
        cell.render_texture, cell.size, cell.loaded = view, size, True
        key = next(self._keys)
        cell.area, cell.page, cell._atlas, cell._key = (
            (x, shelf.y, width, height),
            page.render_texture,
            weakref.ref(self),
            key,
        )
        freed = self._freed
        self._cells[key] = (page, shelf, x, width, weakref.ref(view, lambda _: freed.append(key)))
        return cell

    def _place(self, width: int, height: int) -> tuple[_Page, _Shelf, int] | None:
        for page in self._pages:
            place = page.place(width, height)
            if place is not None:
                return page, *place
        return None

    def _reclaim(self) -> None:
        """The areas of cells killed or dropped since, and the pages of a closed window."""
        if any(not page.alive for page in self._pages):
            self._pages = [page for page in self._pages if page.alive]
            self._cells = {key: place for key, place in self._cells.items() if place[0].alive}
        while self._freed:
            self._free(self._freed.popleft())

    def _collect(self) -> None:
        """The areas of every cell that died unnoticed (unloaded through md.rl)."""
        for key, (_, _, _, _, view) in list(self._cells.items()):
            alive = view()
            if alive is None or not alive.id:
                self._free(key)

    def _free(self, key: int) -> None:
        place = self._cells.pop(key, None)
        if place is not None:
            _, shelf, x, width, _ = place
            shelf.give_back(x, width)
