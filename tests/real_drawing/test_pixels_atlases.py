"""Drawing for real: atlases and their cells, regions of a texture, and
nine-slice, under a hidden window, checked by reading the pixels back."""

import pytest

from kelo_ui.atlas import Atlas
from kelo_ui.core import modules
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.nine_slice import blit_nine_slice
from kelo_ui.window import context
from support.display import BLANK, WHITE, cell_among_others, read, target

pytestmark = pytest.mark.usefixtures("window", "no_scope_left")


# --- atlases --------------------------------------------------------------------------


def test_an_atlas_packs_its_cells_and_reuses_their_areas():
    import gc

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
    "call, error",
    [
        (lambda atlas: atlas.allocate(KlVector2(17, 1)), ValueError),
        (lambda atlas: atlas.allocate(KlVector2(0.5, 3)), ValueError),
        (lambda atlas: atlas.allocate((4, 4)), TypeError),
        (lambda atlas: Atlas(KlVector2(0, 4)), ValueError),
        (lambda atlas: __import__("pickle").dumps(atlas.allocate(KlVector2(2, 2))), TypeError),
        (lambda atlas: (lambda page: context.make_cell(page.render_texture, 1, 1, 2, 2))(target(2, 2)), ValueError),
        (lambda atlas: context.make_cell(atlas.allocate(KlVector2(2, 2)).render_texture, 0, 0, 1, 1), TypeError),
        (lambda atlas: blit_nine_slice(target(4, 4), target(4, 4), (3, 0, 3, 0), (0, 0, 4, 4)), ValueError),
        (lambda atlas: blit_nine_slice(target(4, 4), target(4, 4), (1, 1, 1, 1), (0, 0, -1, 4)), ValueError),
        (lambda atlas: blit_nine_slice(target(4, 4), target(4, 4), (1, 1, 1), (0, 0, 4, 4)), TypeError),
        (lambda atlas: blit_nine_slice(target(4, 4), (4, 4), (1, 1, 1, 1), (0, 0, 4, 4)), TypeError),
    ],
)
def test_what_atlases_and_nine_slice_refuse(call, error):
    with pytest.raises(error):
        call(Atlas(KlVector2(16, 16)))


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
