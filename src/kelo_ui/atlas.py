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
cannot be pickled, as a loaded target cannot, and is made by
`atlas.allocate(size)` only.

`atlas.pages` lists the live pages as `Page` objects, to look at and never to
draw into or release: `width`, `height`, `live_cells`, `read_rgba()` and
`save_png(path)`. The page's render texture stays private: a wrapper of it
dropped by its user would unload it, and every cell on it with it.

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
import contextlib
import itertools
import math
import os
import weakref
from typing import Any

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib.kelo_raylib import context
from kelo_ui.presentation.pixels import encode_png

__all__ = ["Atlas", "Cell", "Page"]


class Cell(KlRenderTexture):
    """A cell of an atlas page: a render target of its own for everything that
    draws, whose pixels are the area `area` (x, y, width, height) of its
    page. Made by `Atlas.allocate(size)` only."""

    __slots__ = ("area", "_page", "_atlas", "_key", "__weakref__")

    area: tuple[int, int, int, int]
    _page: Page
    _atlas: weakref.ref[Atlas]
    _key: int

    def __init__(self, *args: object, **kwargs: object) -> None:
        # Constructing it would load a render texture of its own, outside any page.
        raise TypeError("a Cell is not made directly: cells are made by Atlas.allocate(size)")

    @property
    def page(self) -> Page | None:
        """The page the cell lies on (None for a cell no atlas made)."""
        return getattr(self, "_page", None)

    def kill(self) -> None:
        """Release the cell: its area is free for later cells."""
        super().kill()
        atlas = getattr(self, "_atlas", None)
        atlas = atlas() if atlas is not None else None
        if atlas is not None:
            atlas._freed.append(self._key)

    def __copy__(self) -> Cell:
        # The same cell, as copy.copy of a target shares its render texture.
        twin = Cell.__new__(Cell)
        twin.render_texture, twin.size, twin.loaded = self.render_texture, self.size, self.loaded
        for name in ("area", "_page", "_atlas", "_key"):
            if hasattr(self, name):
                setattr(twin, name, getattr(self, name))
        return twin

    def __repr__(self) -> str:
        area, page = getattr(self, "area", None), self.page
        if area is None or page is None:
            return "<Cell not made by an atlas>"
        return f"<Cell {area} of {page!r}>"


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


class Page:
    """A page of an atlas, to look at: its size (`width`, `height`), how many
    cells live on it (`live_cells`) and its pixels (`read_rgba()`,
    `save_png(path)`). Made by the atlas only."""

    __slots__ = ("_width", "_height", "_texture", "_shelves", "_top", "_views")

    _width: int
    _height: int
    _texture: Any
    _shelves: list[_Shelf]
    _top: int  # where the next shelf starts
    _views: dict[int, weakref.ref[Any]]  # the views of its cells, by their keys

    def __init__(self, *args: object, **kwargs: object) -> None:
        raise TypeError("a Page is not made directly: an Atlas opens pages as its cells need them")

    @classmethod
    def _open(cls, width: int, height: int) -> Page:
        page = cls.__new__(cls)
        page._texture = context.make_page(width, height)  # cleared: cells start clear
        page._width, page._height = width, height
        page._shelves, page._top, page._views = [], 0, {}
        return page

    @property
    def width(self) -> int:
        """The width in pixels."""
        return self._width

    @property
    def height(self) -> int:
        """The height in pixels."""
        return self._height

    @property
    def alive(self) -> bool:
        """Whether the page is alive: it dies, with its cells, when its window closes."""
        return bool(self._texture.id)

    @property
    def live_cells(self) -> int:
        """How many cells on the page are alive (not killed, dropped or unloaded)."""
        return sum(1 for ref in list(self._views.values()) if (view := ref()) is not None and view.id)

    def read_rgba(self) -> tuple[int, int, bytes]:
        """`(width, height, data)`: the page's pixels as RGBA8 bytes, top row
        first, as `kelo_ui.presentation.pixels.read_rgba` reads a target; it
        raises as that does (RuntimeError once the page is dead)."""
        return context.read_rgba(self._texture)

    def save_png(self, path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> str | bytes:
        """Write the page's pixels to a PNG file at `path`, a file system path,
        as `kelo_ui.presentation.pixels.save_png` writes a target's; returns
        the path written."""
        if isinstance(path, int) or not isinstance(path, (str, bytes, os.PathLike)):
            raise TypeError(f"save_png: path must be a file system path, not {type(path).__name__}")
        path = os.fspath(path)
        png = encode_png(*self.read_rgba())
        with open(path, "wb") as file:
            file.write(png)
        return path

    def __repr__(self) -> str:
        return f"<Page {self.width}x{self.height}, {self.live_cells} live cells>"

    def _place(self, width: int, height: int) -> tuple[_Shelf, int, bool] | None:
        """Room for width x height: on the lowest shelf it fits, else on a new
        one; and whether that shelf was opened for it."""
        for shelf in sorted((s for s in self._shelves if s.height >= height), key=lambda s: s.height):
            if shelf.height <= 2 * height or not shelf.end:  # a much taller row only when it is empty
                x = shelf.take(width, self._width)
                if x is not None:
                    return shelf, x, False
        if self._top + height <= self._height:
            shelf = _Shelf(self._top, height)
            self._top += height
            self._shelves.append(shelf)
            return shelf, shelf.take(width, self._width), True  # type: ignore[return-value]
        return None


class Atlas:
    """Cells of pages of `page_size` (a KlVector2, whole pixels), made and
    released through the open window."""

    # The default is read, never kept: one vector can serve every call.
    def __init__(self, page_size: KlVector2 = KlVector2(1024, 1024)):  # noqa: B008
        if not isinstance(page_size, KlVector2):
            raise TypeError(f"Atlas: page_size must be a KlVector2, not {type(page_size).__name__}")
        self.page_width, self.page_height = _whole("Atlas: page_size", page_size)
        self._pages: list[Page] = []
        # Each cell's place, by its key, while it may be alive: its page,
        # shelf, x and width, and a weak reference to its view.
        self._cells: dict[int, tuple[Page, _Shelf, int, int, weakref.ref[Any]]] = {}
        self._freed: collections.deque[int] = collections.deque()  # appended from any thread
        self._keys = itertools.count()

    @property
    def pages(self) -> list[Page]:
        """The pages that are alive, to look at (`Page`)."""
        return [page for page in self._pages if page.alive]

    def allocate(self, size: KlVector2) -> Cell:
        """A new cell of `size` (truncated to whole pixels, as a target's is).

        A size that is not finite, below 1 or beyond a page raises
        ValueError; with no window open, or from another thread,
        RuntimeError, and nothing stays reserved."""
        if not isinstance(size, KlVector2):
            raise TypeError(f"Atlas.allocate: size must be a KlVector2, not {type(size).__name__}")
        width, height = _whole("Atlas.allocate: size", size)
        if width > self.page_width or height > self.page_height:
            limit = f"{self.page_width}x{self.page_height}"
            raise ValueError(f"Atlas.allocate: a cell of {width}x{height} does not fit a page of {limit}")
        self._reclaim()
        place = self._place(width, height)
        if place is None:
            self._collect()
            place = self._place(width, height)
        opened_page = None
        if place is None:
            opened_page = Page._open(self.page_width, self.page_height)
            self._pages.append(opened_page)
            place = self._place(width, height)
            assert place is not None
        page, shelf, x, opened_shelf = place
        try:
            view = context.make_cell(page._texture, x, shelf.y, width, height)
        except BaseException:
            # Undo what this allocation reserved, and that only: a page opened
            # for it, else a shelf opened for it, else its span.
            if opened_page is not None:
                self._pages.remove(opened_page)
                # Now rather than at the window's next collection of unreferenced objects.
                with contextlib.suppress(Exception):
                    context.unload_render_texture(opened_page._texture)
            elif opened_shelf:
                page._shelves.remove(shelf)
                page._top = shelf.y
            else:
                shelf.give_back(x, width)
            raise
        cell = Cell.__new__(Cell)
        cell.render_texture, cell.size, cell.loaded = view, size, True
        key = next(self._keys)
        cell.area, cell._page, cell._atlas, cell._key = (x, shelf.y, width, height), page, weakref.ref(self), key
        freed = self._freed
        ref = weakref.ref(view, lambda _: freed.append(key))
        self._cells[key] = (page, shelf, x, width, ref)
        page._views[key] = ref
        return cell

    def _place(self, width: int, height: int) -> tuple[Page, _Shelf, int, bool] | None:
        for page in self._pages:
            place = page._place(width, height)
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
            page, shelf, x, width, _ = place
            shelf.give_back(x, width)
            page._views.pop(key, None)


def _whole(what: str, size: KlVector2) -> tuple[int, int]:
    """`size` in whole pixels, truncated; ValueError naming `what` unless it
    is finite and at least 1x1."""
    if not (math.isfinite(size.x) and math.isfinite(size.y)):
        raise ValueError(f"{what} must be finite, not {size!r}")
    width, height = int(size.x), int(size.y)
    if width < 1 or height < 1:
        raise ValueError(f"{what} must be at least 1x1 in whole pixels, not {size!r}")
    return width, height
