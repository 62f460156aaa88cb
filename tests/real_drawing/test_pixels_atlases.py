"""Drawing for real: atlases and their cells, regions of a texture, and
nine-slice, under a hidden window, checked by reading the pixels back."""

import gc
import threading
from math import inf, nan

import pytest

from kelo_ui.atlas import Atlas, Cell, Page
from kelo_ui.core import modules
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.nine_slice import blit_nine_slice
from kelo_ui.presentation.pixels import encode_png
from kelo_ui.window import context
from support.display import BLANK, BLUE, GREEN, RED, WHITE, canvas, cell_among_others, image_rows, paste, read, target

pytestmark = pytest.mark.usefixtures("window", "no_scope_left")


# --- atlases --------------------------------------------------------------------------


def test_an_atlas_packs_its_cells_and_reuses_their_areas():
    atlas = Atlas(KlVector2(16, 8))
    a, b = atlas.allocate(KlVector2(8, 4)), atlas.allocate(KlVector2(8.9, 4))  # whole pixels, as targets
    wide = atlas.allocate(KlVector2(16, 4))
    assert (a.area, b.area, wide.area) == ((0, 0, 8, 4), (8, 0, 8, 4), (0, 4, 16, 4))
    assert len(atlas.pages) == 1 and b.width == 8.9
    full = atlas.allocate(KlVector2(4, 4))  # the page is full: a new one
    assert len(atlas.pages) == 2 and full.page is not a.page and full.area == (0, 0, 4, 4)
    a.kill()
    reused = atlas.allocate(KlVector2(8, 4))
    assert reused.area == (0, 0, 8, 4)  # a killed cell's area
    del b
    gc.collect()
    again = atlas.allocate(KlVector2(8, 2))  # a dropped cell's area
    assert again.page is wide.page and again.area == (8, 0, 8, 2)
    modules.rl.unload_render_texture(wide.render_texture)  # around the atlas: found once pages are full
    assert atlas.allocate(KlVector2(16, 4)).area == (0, 4, 16, 4) and len(atlas.pages) == 2


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda atlas: atlas.allocate(KlVector2(17, 1)), ValueError, r"^Atlas.allocate: a cell of 17x1 does not fit"),
        (lambda atlas: atlas.allocate(KlVector2(0.5, 3)), ValueError, r"^Atlas.allocate: size must be at least 1x1"),
        (lambda atlas: atlas.allocate(KlVector2(-3, 3)), ValueError, r"size must be at least 1x1.*KlVector2\(-3.0"),
        (lambda atlas: atlas.allocate(KlVector2(inf, 3)), ValueError, r"^Atlas.allocate: size must be finite.*\(inf"),
        (lambda atlas: atlas.allocate(KlVector2(2, nan)), ValueError, r"size must be finite, not KlVector2\(2.0, nan"),
        (lambda atlas: atlas.allocate((4, 4)), TypeError, r"^Atlas.allocate: size must be a KlVector2, not tuple"),
        (lambda atlas: Atlas(KlVector2(0, 4)), ValueError, r"^Atlas: page_size must be at least 1x1"),
        (lambda atlas: Atlas(KlVector2(nan, 8)), ValueError, r"^Atlas: page_size must be finite, not .*\(nan, 8.0"),
        (lambda atlas: Atlas(KlVector2(8, -inf)), ValueError, r"^Atlas: page_size must be finite, not .*-inf"),
        (lambda atlas: Atlas((8, 8)), TypeError, r"^Atlas: page_size must be a KlVector2, not tuple"),
        (lambda atlas: Cell(KlVector2(4, 4)), TypeError, r"cells are made by Atlas.allocate\(size\)"),
        (lambda atlas: Page(), TypeError, r"an Atlas opens pages"),
        (lambda atlas: __import__("pickle").dumps(atlas.allocate(KlVector2(2, 2))), TypeError, None),
        (lambda atlas: (rt := target(2, 2)) and context.make_cell(rt.render_texture, 1, 1, 2, 2), ValueError, None),
        (lambda atlas: context.make_cell(atlas.allocate(KlVector2(2, 2)).render_texture, 0, 0, 1, 1), TypeError, None),
    ],
)
def test_what_atlases_refuse(call, error, message):
    with pytest.raises(error, match=message):
        call(Atlas(KlVector2(16, 16)))


def test_a_half_made_cell_fails_as_a_half_made_target():
    cell, plain = Cell.__new__(Cell), KlRenderTexture.__new__(KlRenderTexture)
    assert repr(cell) == "<Cell not made by an atlas>" and cell.page is None
    with pytest.raises(Exception) as plain_failure:
        plain.kill()
    with pytest.raises(plain_failure.type, match=str(plain_failure.value)):
        cell.kill()


def on_another_thread(call):
    """What `call()` raised on a thread of its own (None when it returned)."""
    raised = []

    def run():
        try:
            call()
        except BaseException as error:
            raised.append(error)

    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
    return raised[0] if raised else None


class _RefusingCells:
    """The window context, except that it refuses every cell."""

    def __getattr__(self, name):
        return getattr(context, name)

    def make_cell(self, *args):
        raise RuntimeError("refused")


@pytest.mark.parametrize(
    "before, refused, after, areas, pages",
    [
        # a new shelf opened for the refused cell is given back: 16x5 still fits under 16x3
        ([(16, 8)], "thread", [(16, 3), (16, 5)], [(0, 8, 16, 3), (0, 11, 16, 5)], 1),
        ([(8, 4)], "thread", [(8, 4), (16, 4)], [(8, 0, 8, 4), (0, 4, 16, 4)], 1),  # a span on a shelf
        ([], "thread", [(16, 16)], [(0, 0, 16, 16)], 1),  # no page yet: the page is refused
        ([(16, 16)], "context", [(4, 4)], [(0, 0, 4, 4)], 2),  # a page opened for the refused cell is released
    ],
)
def test_a_refused_allocation_keeps_nothing(monkeypatch, before, refused, after, areas, pages):
    import kelo_ui.atlas

    atlas = Atlas(KlVector2(16, 16))
    kept = [atlas.allocate(KlVector2(*size)) for size in before]
    opened, live = len(atlas.pages), context.live
    if refused == "thread":
        assert isinstance(on_another_thread(lambda: atlas.allocate(KlVector2(4, 8))), RuntimeError)
    else:
        monkeypatch.setattr(kelo_ui.atlas, "context", _RefusingCells())
        with pytest.raises(RuntimeError, match="refused"):
            atlas.allocate(KlVector2(4, 8))
        monkeypatch.undo()
    assert (len(atlas.pages), context.live) == (opened, live)
    kept += [atlas.allocate(KlVector2(*size)) for size in after]
    assert [cell.area for cell in kept[len(before) :]] == areas and len(atlas.pages) == pages


@pytest.mark.parametrize("before", [[], [(4, 4)]])  # no page yet: the page is refused; else the cell
def test_a_refusal_on_another_thread_names_atlas_allocate(before):
    atlas = Atlas(KlVector2(16, 16))
    for size in before:
        atlas.allocate(KlVector2(*size))  # dropped, its page stays
    refused = on_another_thread(lambda: atlas.allocate(KlVector2(4, 4)))
    assert isinstance(refused, RuntimeError) and str(refused).startswith("Atlas.allocate: ")


def test_pages_show_their_cells_and_cannot_be_unloaded_through_the_atlas(tmp_path):
    atlas = Atlas(KlVector2(8, 4))
    red, blue, spare = (atlas.allocate(KlVector2(4, 2)) for _ in range(3))
    red.clear(RED)
    blue.clear(BLUE)
    spare.kill()
    (page,) = atlas.pages
    assert red.page is page and blue.page is page and (page.width, page.height, page.live_cells) == (8, 4, 2)
    assert not any(hasattr(page, name) for name in ("render_texture", "texture", "id", "kill"))
    expected = paste(paste(canvas(8, 4), [[RED] * 4] * 2, 0, 0), [[BLUE] * 4] * 2, 4, 0)
    assert image_rows(*page.read_rgba()) == expected
    assert page.save_png(tmp_path / "page.png") == str(tmp_path / "page.png")
    assert (tmp_path / "page.png").read_bytes() == encode_png(*page.read_rgba())
    del blue
    gc.collect()
    assert page.live_cells == 1 and read(red) == canvas(4, 2, RED)
    with pytest.raises(TypeError, match="path"):
        page.save_png(3)


# --- raylib given a cell -----------------------------------------------------------------
# A 2x2 cell whose picture is a BLUE row above a GREEN one, among RED cells. A
# render texture is stored bottom-up: raylib's own draws show it upside down.

YELLOW = (255, 255, 0, 255)
UPSIDE_DOWN = [[GREEN] * 2, [BLUE] * 2]


def _pixels(rl, color, count):
    return rl.ffi.new("unsigned char[]", bytes(color) * count)


# (what to call with the cell and a 4x4 scene current, the scene's rows, the cell's rows)
RAYLIB_WITH_A_CELL = {
    "draw_texture": (lambda rl, c: rl.draw_texture(c.texture, 1, 1, WHITE), paste(canvas(4, 4), UPSIDE_DOWN, 1, 1)),
    "draw_texture_v": (
        lambda rl, c: rl.draw_texture_v(c.texture, (2, 0), WHITE),
        paste(canvas(4, 4), UPSIDE_DOWN, 2, 0),
    ),
    "draw_texture_ex": (
        lambda rl, c: rl.draw_texture_ex(c.texture, (0, 0), 0, 2, WHITE),
        [[GREEN] * 4] * 2 + [[BLUE] * 4] * 2,
    ),
    "draw_texture_rec": (
        lambda rl, c: rl.draw_texture_rec(c.texture, (0, 0, 2, 1), (0, 3), WHITE),
        paste(canvas(4, 4), [[GREEN] * 2], 0, 3),
    ),
    "draw_texture_pro": (
        lambda rl, c: rl.draw_texture_pro(c.texture, (0, 1, 2, 1), (0, 0, 4, 1), (0, 0), 0, WHITE),
        paste(canvas(4, 4), [[BLUE] * 4], 0, 0),
    ),
    "update_texture": (
        lambda rl, c: rl.update_texture(c.texture, _pixels(rl, YELLOW, 4)),
        canvas(4, 4),
        [[YELLOW] * 2] * 2,
    ),
    "update_texture_rec": (
        lambda rl, c: rl.update_texture_rec(c.texture, (1, 0, 1, 1), _pixels(rl, YELLOW, 1)),
        canvas(4, 4),
        [[BLUE] * 2, [GREEN, YELLOW]],
    ),
}


@pytest.mark.parametrize("call", RAYLIB_WITH_A_CELL)
def test_raylib_acts_on_a_cells_area_only(rl, call):
    work, scene_rows, *cell_rows = RAYLIB_WITH_A_CELL[call]
    cell, others_intact = cell_among_others(2, 2, GREEN)
    with cell:
        rl.draw_rectangle(0, 0, 2, 1, BLUE)
    scene = target(4, 4, BLANK)
    with scene:
        work(rl, cell)
    assert read(scene) == scene_rows and others_intact()
    assert read(cell) == (cell_rows[0] if cell_rows else [[BLUE] * 2, [GREEN] * 2])
    assert rl.is_texture_valid(cell.texture) and rl.is_render_texture_valid(cell.render_texture)


# raylib's calls that would reach beyond a cell: (call, exception, message)
RAYLIB_REFUSES_A_CELL = [
    (lambda rl, c: rl.set_texture_filter(c.texture, 1), ValueError, "argument 0 is an atlas cell: .*whole page"),
    (lambda rl, c: rl.set_texture_wrap(c.texture, 0), ValueError, "cell.copy()"),
    (lambda rl, c: rl.gen_texture_mipmaps(c.texture), ValueError, "atlas cell"),
    (
        lambda rl, c: rl.draw_texture_n_patch(
            c.texture, rl.NPatchInfo((0, 0, 2, 2), 0, 0, 0, 0, 0), (0, 0, 4, 4), (0, 0), 0, WHITE
        ),
        ValueError,
        "blit_nine_slice",
    ),
    (
        lambda rl, c: rl.draw_texture_rec(c.texture, (0, 0, 3, 1), (0, 0), WHITE),
        ValueError,
        r"source \(0.0, 0.0, 3.0, 1.0\) reaches outside the atlas cell \(2x2\)",
    ),
    (
        lambda rl, c: rl.update_texture_rec(c.texture, (1, 1, 2, 1), _pixels(rl, YELLOW, 2)),
        ValueError,
        "reaches outside",
    ),
    (
        lambda rl, c: rl.draw_texture(rl.ffi.new("Texture *", c.texture)[0], 0, 0, WHITE),
        ValueError,
        "a copy of an atlas cell",
    ),
    (
        lambda rl, c: (c.kill(), rl.draw_texture(c.texture, 0, 0, WHITE)),
        RuntimeError,
        "argument 0 is dead: it was unloaded",
    ),
]


@pytest.mark.parametrize("call, error, message", RAYLIB_REFUSES_A_CELL)
def test_raylib_refuses_what_would_reach_beyond_a_cell(rl, call, error, message):
    cell, others_intact = cell_among_others(2, 2, GREEN)
    scene = target(4, 4, BLANK)
    with scene, pytest.raises(error, match=message):
        call(rl, cell)
    assert read(scene) == canvas(4, 4) and others_intact()
    if cell.loaded:
        assert read(cell) == canvas(2, 2, GREEN)


# --- regions and nine-slice ------------------------------------------------------------


@pytest.fixture
def palette(rl):
    """A 4x3 picture of twelve opaque colours, drawn with raylib itself (the
    target holding a part of it copies the part exactly)."""
    rt = target(4, 3)
    with rt:
        for x in range(4):
            for y in range(3):
                rl.draw_rectangle(x, y, 1, 1, (40 + 60 * x, 50 + 80 * y, 200 - 30 * x, 255))
    return rt


def _region(form, dst, src, area, dest, blend, flip, tint):
    if form == "blit_region":
        dst.blit_region(src, area, dest, blend, flip, tint)
        return
    kelo_raylib.begin_blend_mode(blend)
    try:
        with dst:
            dst.fast_blit_region(src, area, dest, flip, tint)
    finally:
        kelo_raylib.end_blend_mode()


@pytest.mark.parametrize("form", ["blit_region", "fast_blit_region"])
@pytest.mark.parametrize("source", ["target", "cell"])
@pytest.mark.parametrize("blend", range(8))
@pytest.mark.parametrize(
    "area, dest, flip, tint",
    [
        ((1, 1, 2, 2), (1, 2), True, None),
        ((0, 0, 4, 3), (0, 0, 8, 6), False, (255, 128, 0, 200)),
        ((2, 0, 2, 1), (3, 3, 4, 2), True, (90, 255, 255, 128)),
        ((0, 2, 3, 1), (1, 1), False, None),
    ],
)
def test_a_region_draws_what_a_target_holding_it_draws(palette, form, source, blend, area, dest, flip, tint):
    src = palette
    if source == "cell":
        src, _ = cell_among_others(4, 3)
        src.blit(palette, (0, 0))
    part = target(area[2], area[3], BLANK)
    part.blit(src, (-area[0], -area[1]))
    expected, drawn = target(8, 8, (30, 60, 90, 160)), target(8, 8, (30, 60, 90, 160))
    expected.blit(part, dest, blend, flip, tint)
    _region(form, drawn, src, area, dest, blend, flip, tint)
    assert read(drawn) == read(expected)


@pytest.mark.parametrize(
    "borders, dest",
    [
        ((3, 2, 4, 3), (1, 2, 20, 15)),  # edges stretched, corners kept
        ((1, 1, 1, 1), (0, 0, 22, 18)),
        ((3, 2, 4, 3), (0, 0, 12, 10)),  # the picture as it is
        ((3, 2, 4, 3), (2, 1, 5, 4)),  # smaller than the borders: each in proportion, corners cut
        ((5, 4, 7, 6), (2, 1, 5, 4)),
        ((0, 0, 0, 0), (0, 0, 24, 20)),  # no borders: all centre
    ],
)
@pytest.mark.parametrize("source", ["target", "cell"])
@pytest.mark.parametrize("flip", [True, False])
def test_nine_slice_is_raylibs_n_patch(rl, borders, dest, source, flip):
    picture = target(12, 10)
    with picture:
        for x in range(12):
            for y in range(10):
                rl.draw_rectangle(x, y, 1, 1, (20 * x, 25 * y, (x * y) % 256, 255))
    image = rl.gen_image_color(12, 10, BLANK)  # the same picture, as a texture of an image
    pixels = read(picture)
    for y, row in enumerate(pixels):
        for x, pixel in enumerate(row):
            rl.image_draw_pixel(image, x, y, pixel)
    patch = rl.NPatchInfo((0, 0, 12, 10), *borders, 0)
    if not flip:  # the picture upside down; its borders stay the picture's own
        rl.image_flip_vertical(image)
        patch = rl.NPatchInfo((0, 0, 12, 10), borders[0], borders[3], borders[2], borders[1], 0)
    texture = rl.load_texture_from_image(image)
    rl.unload_image(image)
    if source == "cell":
        cell, _ = cell_among_others(12, 10)
        cell.blit(picture, (0, 0))
        picture = cell
    sliced, patched = target(32, 32, BLANK), target(32, 32, BLANK)
    blit_nine_slice(sliced, picture, borders, dest, flip=flip)
    with patched:
        rl.draw_texture_n_patch(texture, patch, dest, (0, 0), 0, WHITE)
    rl.unload_texture(texture)
    assert read(sliced) == read(patched)


def _dead(rt):
    modules.rl.unload_render_texture(rt.render_texture)  # around the target: still `loaded`
    return rt


def _unloaded(rt):
    rt.loaded = False
    return rt


@pytest.mark.parametrize(
    "change, error, message",
    [
        ({"target": None}, TypeError, r"^blit_nine_slice: target must be a KlRenderTexture, not NoneType$"),
        ({"kl_texture": (4, 4)}, TypeError, r"^blit_nine_slice: kl_texture must be a KlRenderTexture, not tuple$"),
        ({"borders": (1, 1, 1)}, TypeError, r"^blit_nine_slice: borders must be a tuple of 4 numbers"),
        ({"borders": [1, 1, 1, 1]}, TypeError, r"borders must be a tuple of 4 numbers, not \[1, 1, 1, 1\]"),
        ({"borders": (1, "1", 1, 1)}, TypeError, r"^blit_nine_slice: borders\[1\] is '1', not a real number$"),
        ({"dest_rect": (0, 0, 8, None)}, TypeError, r"dest_rect\[3\] is None, not a real number"),
        ({"borders": (1, 1, nan, 1)}, ValueError, r"^blit_nine_slice: borders\[2\] is nan; it must be finite$"),
        ({"borders": (1, 1, 1, 10**400)}, ValueError, r"^blit_nine_slice: borders\[3\] is 1000.*; it must be finite$"),
        ({"borders": (1, 1, -1, 1)}, ValueError, r"^blit_nine_slice: borders\[2\] is -1.0; a border is 0 or more$"),
        ({"borders": (3, 0, 3, 0)}, ValueError, r"borders\[0\] \+ borders\[2\] is 6.0, beyond the source's width, 4"),
        ({"borders": (0, 2, 0, 2.5)}, ValueError, r"borders\[1\] \+ borders\[3\] is 4.5, beyond the source's height"),
        ({"dest_rect": (nan, 0, 8, 8)}, ValueError, r"^blit_nine_slice: dest_rect\[0\] is nan; it must be finite$"),
        ({"dest_rect": (0, -inf, 8, 8)}, ValueError, r"^blit_nine_slice: dest_rect\[1\] is -inf; it must be finite$"),
        ({"dest_rect": (0, 0, inf, 8)}, ValueError, r"^blit_nine_slice: dest_rect\[2\] is inf; it must be finite$"),
        ({"dest_rect": (0, 0, 8, -1)}, ValueError, r"^blit_nine_slice: dest_rect\[3\] is -1.0; a size is 0 or more$"),
        ({"dest_rect": (1e308, 0, 1e308, 8)}, ValueError, r"dest_rect \(1e\+308, 0, 1e\+308, 8\) ends beyond"),
        ({"blend_mode": "add"}, TypeError, None),
        ({"color": [255, 0, 0, 255]}, TypeError, None),  # refused by the first part
        ({"target": _dead}, RuntimeError, "dead"),
        ({"target": _unloaded}, AssertionError, "not loaded"),  # the target's own check, in its scope
        ({"kl_texture": _dead}, RuntimeError, "dead"),
    ],
)
def test_what_nine_slice_refuses_before_drawing(change, error, message):
    canvas_, source = target(8, 8, BLUE), target(4, 4, RED)
    arguments = {"target": canvas_, "kl_texture": source, "borders": (1, 1, 1, 1), "dest_rect": (0, 0, 8, 8)}
    for name, value in change.items():
        arguments[name] = value(arguments[name]) if callable(value) else value
    with pytest.raises(error, match=message):
        blit_nine_slice(**arguments)
    if canvas_.loaded and not context.why_dead(canvas_.render_texture):
        assert read(canvas_) == canvas(8, 8, BLUE)


def test_nine_slice_failure_keeps_a_failing_end_as_context(monkeypatch):
    source = target(4, 4)
    source.kill()
    monkeypatch.setattr(kelo_raylib, "end_blend_mode", lambda: (_ for _ in ()).throw(OSError("end")))
    try:
        with pytest.raises(RuntimeError, match="dead") as raised:
            blit_nine_slice(target(8, 8), source, (1, 1, 1, 1), (0, 0, 8, 8))
    finally:
        monkeypatch.undo()
        kelo_raylib.end_blend_mode()  # the scope the failing end left open
    assert isinstance(raised.value.__context__, OSError) and not raised.value.__suppress_context__
