"""Drawing for real: render targets drawn under a hidden window through the
window context, checked by reading their pixels back."""

import copy
from fractions import Fraction

import pyray
import pytest
import raylib

from kelo_ui.atlas import Atlas
from kelo_ui.core import modules
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.nine_slice import blit_nine_slice
from kelo_ui.presentation.pixels import read_rgba, save_png
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.window import context
from support.display import canvas, drawing_window, image_rows, near, paste, target

BLUE = (0, 0, 255, 255)
RED = (255, 0, 0, 255)
GREEN = (0, 255, 0, 255)
WHITE = (255, 255, 255, 255)
BLANK = (0, 0, 0, 0)
# A 2x2 source: blue on top, red below (as drawn: row 0 is y = 0).
STRIPES = [[BLUE, BLUE], [RED, RED]]
MIRRORED = STRIPES[::-1]


@pytest.fixture(scope="module", autouse=True)
def window():
    # One window for the module; closed again so that later modules find none.
    with drawing_window() as window:
        yield window


@pytest.fixture(autouse=True)
def no_scope_left(window):
    """Each test ends with no scope open."""
    yield
    assert context.open_scopes() == 0


@pytest.fixture
def rl():
    return modules.rl


def read(rt):
    return image_rows(*read_rgba(rt))


@pytest.fixture
def stripes(rl):
    """STRIPES drawn with raylib itself, so that no toolkit blit is involved."""
    rt = target(2, 2, RED)
    with rt:
        rl.draw_rectangle(0, 0, 2, 1, BLUE)
    return rt


def test_read_rgba_rows_start_at_the_top(stripes):
    width, height, data = read_rgba(stripes)
    assert (width, height, len(data)) == (2, 2, 16)
    assert image_rows(width, height, data) == STRIPES


def _killed():
    rt = target(2, 2)
    rt.kill()
    return rt


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


@pytest.mark.parametrize("call, error", [
    (lambda atlas: atlas.allocate(KlVector2(17, 1)), ValueError),
    (lambda atlas: atlas.allocate(KlVector2(0.5, 3)), ValueError),
    (lambda atlas: atlas.allocate((4, 4)), TypeError),
    (lambda atlas: Atlas(KlVector2(0, 4)), ValueError),
    (lambda atlas: __import__("pickle").dumps(atlas.allocate(KlVector2(2, 2))), TypeError),
    (lambda atlas: (lambda page: context.make_cell(page.render_texture, 1, 1, 2, 2))(target(2, 2)), ValueError),
    (lambda atlas: context.make_cell(atlas.allocate(KlVector2(2, 2)).render_texture, 0, 0, 1, 1), TypeError),
])
def test_what_an_atlas_refuses(call, error):
    with pytest.raises(error):
        call(Atlas(KlVector2(16, 16)))


@pytest.mark.parametrize("make, error, message", [
    (lambda: object(), TypeError, "needs a KlRenderTexture"),
    (lambda: KlRenderTexture.__new__(KlRenderTexture), ValueError, "not loaded"),
    (_killed, ValueError, "not loaded"),
], ids=["stranger", "never-loaded", "killed"])
def test_read_rgba_refuses(make, error, message):
    with pytest.raises(error, match=message):
        read_rgba(make())


# --- clearing -----------------------------------------------------------------

def _in_scope(name):
    def clear(rt, color):
        with rt:
            getattr(rt, name)(color)
    return clear


def _after_drawing(name):
    # What was drawn before the clear, into the same target, is under it:
    # raylib clears at once but draws its batch later.
    def clear(rt, color):
        sprite = target(1, 1, GREEN)
        with rt:
            rt.fast_blit(sprite, (0, 0))
            md_rl().draw_rectangle(1, 0, 1, 1, BLUE)
            if name == "clear_background":
                md_rl().clear_background(color)
            else:
                getattr(rt, name)(color)
    return clear


def md_rl():
    return modules.rl


CLEARS = {
    "clear": lambda rt, color: rt.clear(color),
    "fill": lambda rt, color: rt.fill(color),
    "clear in with": _in_scope("clear"),
    "fill in with": _in_scope("fill"),
    "fast_clear in with": _in_scope("fast_clear"),
    "clear after drawing in with": _after_drawing("clear"),
    "fill after drawing in with": _after_drawing("fill"),
    "fast_clear after drawing in with": _after_drawing("fast_clear"),
    "md.rl.clear_background after drawing in with": _after_drawing("clear_background"),
}


def cell_among_others(width, height, color=None):
    """A cell of a page whose other cells are RED, and a check that they still are."""
    atlas = Atlas(KlVector2(16, 16))
    before, cell, after = (atlas.allocate(KlVector2(*size)) for size in ((2, height), (width, height), (3, 2)))
    before.clear(RED)
    after.clear(RED)
    cell.clear(color)
    return cell, lambda: read(before) == canvas(2, height, RED) and read(after) == canvas(3, 2, RED)


@pytest.mark.parametrize("kind", ["target", "cell"])
@pytest.mark.parametrize("how", CLEARS)
@pytest.mark.parametrize("color, expected", [((10, 20, 30, 255), (10, 20, 30, 255)),
                                             ((1, 2, 3, 4), (1, 2, 3, 4)),  # no blending
                                             (None, BLANK)])
def test_clears_set_every_pixel(how, color, expected, kind):
    rt, others_untouched = cell_among_others(3, 2, WHITE) if kind == "cell" else (target(3, 2, WHITE), None)
    CLEARS[how](rt, color)
    assert read(rt) == canvas(3, 2, expected)
    assert others_untouched is None or others_untouched()


def test_fast_clear_clears_the_current_target_only():
    rt, other = target(2, 2, WHITE), target(2, 2, WHITE)
    rt.fast_clear(RED)  # no scope: the window is the current target
    with other:
        rt.fast_clear(GREEN)
    assert read(rt) == canvas(2, 2, WHITE)
    assert read(other) == canvas(2, 2, GREEN)


# --- blitting render targets ----------------------------------------------------

def _fast_blit_in_scope(dst, src, dest, **options):
    with dst:
        dst.fast_blit(src, dest, **options)


def _whole(src):
    return (0, 0, src.width, src.height)


def _fast_blit_region_in_scope(dst, src, dest, **options):
    with dst:
        dst.fast_blit_region(src, _whole(src), dest, **options)


def _from_a_cell(dst, src, dest, **options):
    cell, others_untouched = cell_among_others(int(src.width), int(src.height))
    cell.blit(src, (0, 0))
    dst.blit(cell, dest, **options)
    assert others_untouched()


def _into_a_cell(dst, src, dest, **options):
    cell, others_untouched = cell_among_others(int(dst.width), int(dst.height), BLANK)
    cell.blit(src, dest, **options)
    dst.blit(cell, (0, 0))
    assert others_untouched()


BLIT_FORMS = {
    "blit": lambda dst, src, dest, **options: dst.blit(src, dest, **options),
    "fast_blit": _fast_blit_in_scope,
    "blit_region of the whole": lambda dst, src, dest, **options: dst.blit_region(src, _whole(src), dest, **options),
    "fast_blit_region of the whole": _fast_blit_region_in_scope,
    "blit from a cell": _from_a_cell,
    "blit into a cell": _into_a_cell,
}


@pytest.mark.parametrize("blit", BLIT_FORMS)
@pytest.mark.parametrize("dest, options, picture", [
    ((0, 0), {}, STRIPES),
    ((3, 1), {}, STRIPES),
    ((3, 1), {"flip": True}, STRIPES),
    ((3, 1), {"flip": False}, MIRRORED),
    ((1, 2, 4, 4), {}, [[BLUE] * 4] * 2 + [[RED] * 4] * 2),
    ((0, 0, 5, 2), {}, [[BLUE] * 5, [RED] * 5]),
    ((1, 0, 2, 4), {"flip": False}, [[RED] * 2] * 2 + [[BLUE] * 2] * 2),
])
def test_blit_places_the_source(stripes, blit, dest, options, picture):
    dst = target(6, 6)
    BLIT_FORMS[blit](dst, stripes, dest, **options)
    assert read(dst) == paste(canvas(6, 6), picture, dest[0], dest[1])


# A target of fractional size has the whole pixels of its size (2.9 wide is 2
# wide): every form draws those and nothing from beyond the texture's edge.
FRACTIONAL = {
    "blit": lambda dst, src, flip: dst.blit(src, (1, 1, src.width, src.height), flip=flip),
    "fast_blit": lambda dst, src, flip: _fast_blit_in_scope(dst, src, (1, 1, src.width, src.height), flip=flip),
    "blits": lambda dst, src, flip: dst.blits([(src, (1, 1, src.width, src.height), flip)]),
    "copy": lambda dst, src, flip: dst.blit(src.copy(), (1, 1), flip=flip),
}


@pytest.mark.parametrize("flip", [True, False])
@pytest.mark.parametrize("form", FRACTIONAL)
def test_a_fractional_target_shows_only_its_pixels(stripes, form, flip):
    src = KlRenderTexture(KlVector2(2.9, 2.5))
    src.clear(GREEN)
    src.blit(stripes, (0, 0))
    by_position, drawn = target(5, 5), target(5, 5)
    by_position.blit(src, (1, 1), flip=flip)
    FRACTIONAL[form](drawn, src, flip)
    assert read(drawn) == read(by_position) == paste(canvas(5, 5), STRIPES if flip else MIRRORED, 1, 1)


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
@pytest.mark.parametrize("area, dest, flip, tint", [
    ((1, 1, 2, 2), (1, 2), True, None),
    ((0, 0, 4, 3), (0, 0, 8, 6), False, (255, 128, 0, 200)),
    ((2, 0, 2, 1), (3, 3, 4, 2), True, (90, 255, 255, 128)),
    ((0, 2, 3, 1), (1, 1), False, None),
])
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


@pytest.mark.parametrize("borders, dest", [
    ((3, 2, 4, 3), (1, 2, 20, 15)),   # edges stretched, corners kept
    ((1, 1, 1, 1), (0, 0, 22, 18)),
    ((3, 2, 4, 3), (0, 0, 12, 10)),   # the picture as it is
    ((3, 2, 4, 3), (2, 1, 5, 4)),     # smaller than the borders: each in proportion, corners cut
    ((5, 4, 7, 6), (2, 1, 5, 4)),
    ((0, 0, 0, 0), (0, 0, 24, 20)),   # no borders: all centre
])
@pytest.mark.parametrize("source", ["target", "cell"])
def test_nine_slice_is_raylibs_n_patch(rl, borders, dest, source):
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
    texture = rl.load_texture_from_image(image)
    rl.unload_image(image)
    if source == "cell":
        cell, _ = cell_among_others(12, 10)
        cell.blit(picture, (0, 0))
        picture = cell
    sliced, patched = target(32, 32, BLANK), target(32, 32, BLANK)
    blit_nine_slice(sliced, picture, borders, dest)
    with patched:
        rl.draw_texture_n_patch(texture, rl.NPatchInfo((0, 0, 12, 10), *borders, 0), dest, (0, 0), 0, WHITE)
    rl.unload_texture(texture)
    assert read(sliced) == read(patched)


def test_a_read_back_waits_for_the_driver():
    # The driver's threads may still be drawing what it was handed when the
    # pixels are read: in this pattern they were, most times.
    stale = 0
    for _ in range(100):
        source, other, read_back = target(2, 2, WHITE), target(2, 2, (0, 0, 0, 255)), target(2, 2, BLUE)
        with read_back:
            other.blit(read_back, (0, 0))
            read_back.fast_blit(source, (0, 0))
            other.blit(source, (0, 0))
        stale += read(read_back) != canvas(2, 2, WHITE)
    assert stale == 0


def test_read_rgba_sees_drawing_in_progress(stripes):
    dst = target(2, 2)
    with dst:
        dst.fast_blit(stripes, (0, 0))
        assert read(dst) == STRIPES


@pytest.mark.parametrize("dest", [(0, 0), (0, 0, 2, 2)])
@pytest.mark.parametrize("tint, expected", [(None, WHITE), (WHITE, WHITE), ((255, 128, 0, 255), (255, 128, 0, 255)),
                                            ((0, 255, 255, 255), (0, 255, 255, 255))])
def test_tint_multiplies_the_source(dest, tint, expected):
    dst = target(2, 2, BLANK)
    dst.blit(target(2, 2, WHITE), dest, color=tint)
    assert all(near(pixel, expected, 1) for row in read(dst) for pixel in row)


def _alpha(src, dst):
    a = src[3] / 255
    return tuple(round(s * a + d * (1 - a)) for s, d in zip(src, dst))


def _additive(src, dst):
    a = src[3] / 255
    return tuple(min(255, round(s * a + d)) for s, d in zip(src, dst))


@pytest.mark.parametrize("mode, rule", [(0, _alpha), (1, _additive)], ids=["alpha", "additive"])
@pytest.mark.parametrize("source", [(200, 100, 0, 128), (40, 90, 250, 255), (255, 255, 255, 0)])
@pytest.mark.parametrize("under", [(0, 0, 200, 255), (30, 160, 20, 100)])
def test_blend_modes(mode, rule, source, under):
    dst = target(2, 2, under)
    dst.blit(target(2, 2, source), (0, 0), mode)
    expected = rule(source, under)
    assert all(near(pixel, expected, 3) for row in read(dst) for pixel in row), (read(dst)[0][0], expected)


@pytest.mark.parametrize("args, picture", [((), STRIPES), ((True,), STRIPES), ((False,), MIRRORED)])
def test_copy(stripes, args, picture):
    twin = stripes.copy(*args)
    assert (twin.width, twin.height) == (2, 2)
    assert read(twin) == picture
    assert read(stripes) == STRIPES


# --- plain textures and the display ----------------------------------------------

@pytest.fixture
def picture(rl):
    """A 2x2 texture made from an image: top row white, green; below blue, red."""
    image = rl.gen_image_color(2, 2, RED)
    for x, y, color in [(0, 0, WHITE), (1, 0, GREEN), (0, 1, BLUE)]:
        rl.image_draw_pixel(image, x, y, color)
    texture = rl.load_texture_from_image(image)
    rl.unload_image(image)
    yield texture
    rl.unload_texture(texture)


IMAGE = [[WHITE, GREEN], [BLUE, RED]]


@pytest.mark.parametrize("dest, options, expected", [
    ((1, 2), {"flip": False}, paste(canvas(4, 4), IMAGE, 1, 2)),
    # An image is stored top-down: the flip turns it upside down.
    ((1, 2), {}, paste(canvas(4, 4), IMAGE[::-1], 1, 2)),
    ((0, 0, 4, 2), {"flip": False}, [[WHITE] * 2 + [GREEN] * 2, [BLUE] * 2 + [RED] * 2] + canvas(4, 2)),
    (None, {"flip": False}, paste(canvas(4, 4), IMAGE, 0, 0)),
])
def test_blit_texture_of_an_image(picture, dest, options, expected):
    dst = target(4, 4)
    dst.blit_texture(picture, dest, **options)
    assert read(dst) == expected


def _kinds(rt):
    return {"KlRenderTexture": rt, "RenderTexture": rt.render_texture, "Texture": rt.texture}


@pytest.mark.parametrize("kind", ["KlRenderTexture", "RenderTexture", "Texture"])
@pytest.mark.parametrize("dest, flip, expected", [
    ((2, 1), True, paste(canvas(4, 4), STRIPES, 2, 1)),
    ((2, 1), False, paste(canvas(4, 4), MIRRORED, 2, 1)),
    (None, True, paste(canvas(4, 4), STRIPES, 0, 0)),
    ((0, 0, 4, 4), True, [[BLUE] * 4] * 2 + [[RED] * 4] * 2),
])
def test_display_draws_every_kind_of_texture(window, stripes, kind, dest, flip, expected):
    dst = target(4, 4)
    with dst:
        window.display.fast_blit_pro(_kinds(stripes)[kind], dest, flip, None)
    assert read(dst) == expected


@pytest.mark.parametrize("dest", [(), (1,), (1, 2, 3), (1, 2, 3, 4, 5)])
def test_display_refuses_other_dest_lengths(window, stripes, dest):
    with pytest.raises(ValueError, match="must be"):
        window.display.fast_blit_pro(stripes, dest, True, None)


def test_kill_releases_the_target(stripes):
    stripes.kill()
    assert not stripes.loaded
    assert read(target(1, 1, GREEN)) == [[GREEN]]  # drawing goes on


def test_save_png_decodes_to_the_same_pixels(rl, stripes, tmp_path):
    scene = target(5, 3, (9, 8, 7, 255))
    scene.blit(stripes, (2, 1), color=(255, 255, 255, 200))
    path = tmp_path / "scene.png"
    assert save_png(scene, path) == str(path)
    image = rl.load_image(str(path))  # raylib's own PNG decoder
    try:
        assert (image.width, image.height, image.format) == (5, 3, 7)
        decoded = bytes(rl.ffi.buffer(image.data, 5 * 3 * 4))
    finally:
        rl.unload_image(image)
    assert decoded == read_rgba(scene)[2]


# --- scopes nest ----------------------------------------------------------------------
# Each scenario draws GREEN at (2, 2) of `scene` from inside `with scene:` after
# something that used to end the scene's texture mode; `other` is a second
# target, `sprite` a 2x2 GREEN one.

def _inside(body):
    def scenario(rl, scene, other, sprite):
        with scene:
            body(rl, scene, other, sprite)
            scene.fast_blit(sprite, (2, 2))
    return scenario


def _texture_made_and_unloaded(rl, scene, other, sprite):
    texture = rl.load_texture_from_image(rl.gen_image_color(1, 1, RED))
    rl.unload_texture(texture)


def _with_other(rl, scene, other, sprite):
    with other:
        other.fast_blit(sprite, (0, 0))


def _released_on_top(rl, scene, other, sprite):
    with other:
        other.kill()  # released while current: the scene is current again
        scene.fast_blit(sprite, (0, 0))


NESTINGS = {
    "a blit into another target": _inside(lambda rl, scene, other, sprite: other.blit(sprite, (0, 0))),
    "a with of another target": _inside(_with_other),
    "a with of a cell": _inside(lambda rl, scene, other, sprite: _with_other(rl, scene, cell_among_others(2, 2)[0],
                                                                           sprite)),
    "a blit into the same target": _inside(lambda rl, scene, other, sprite: scene.blit(sprite, (0, 0))),
    "a clear of another target": _inside(lambda rl, scene, other, sprite: other.clear(RED)),
    "a target made": _inside(lambda rl, scene, other, sprite: target(3, 3)),
    "a target killed": _inside(lambda rl, scene, other, sprite: target(3, 3).kill()),
    "a texture made and unloaded": _inside(_texture_made_and_unloaded),
    "the current target released": _inside(_released_on_top),
}


@pytest.mark.parametrize("scenario", NESTINGS)
def test_scopes_nest(rl, stripes, scenario):
    scene, other, sprite = target(4, 4), target(2, 2), target(2, 2, GREEN)
    NESTINGS[scenario](rl, scene, other, sprite)
    expected = paste(canvas(4, 4), [[GREEN] * 2] * 2, 2, 2)
    if scenario in ("a blit into the same target", "the current target released"):
        expected = paste(expected, [[GREEN] * 2] * 2, 0, 0)
    assert read(scene) == expected


def test_blend_modes_nest(window):
    # An additive blit inside an additive scope keeps it additive afterwards.
    dst = target(2, 2, (100, 0, 0, 255))
    add = target(2, 2, (50, 0, 0, 255))
    context.begin_blend_mode(1)
    try:
        with dst:
            dst.blit(add, (0, 0), 1)   # its end_blend_mode goes back to additive
            dst.fast_blit(add, (0, 0))
    finally:
        context.end_blend_mode()
    assert all(near(pixel, (200, 0, 0, 255), 2) for row in read(dst) for pixel in row)


@pytest.mark.parametrize("ends", ["end_texture_mode", "end_blend_mode"])
def test_an_end_with_nothing_open_is_harmless(window, ends):
    getattr(context, ends)()
    assert read(target(1, 1, GREEN)) == [[GREEN]]
    assert context.open_scopes() == 0


# --- dead objects ----------------------------------------------------------------------

def _shared_then_killed(kind):
    rt = target(2, 2, GREEN) if kind == "target" else cell_among_others(2, 2, GREEN)[0]
    twin = copy.copy(rt)
    rt.kill()  # one GPU target: released for both
    return twin


DRAWS_OF_THE_DEAD = {
    "with": lambda dead, live: dead.__enter__(),
    "clear": lambda dead, live: dead.clear(RED),
    "blit into": lambda dead, live: dead.blit(live, (0, 0)),
    "blit from": lambda dead, live: live.blit(dead, (0, 0)),
    "fast_blit from": lambda dead, live: live.fast_blit(dead, (0, 0, 2, 2)),
    "blit_texture of its texture": lambda dead, live: live.blit_texture(dead.texture, None),
    "read_rgba": lambda dead, live: read_rgba(dead),
}


@pytest.mark.parametrize("kind", ["target", "cell"])
@pytest.mark.parametrize("draw", DRAWS_OF_THE_DEAD)
def test_a_dead_target_is_refused(draw, kind):
    dead, live = _shared_then_killed(kind), target(2, 2, BLANK)
    assert dead.loaded  # the twin was never killed itself
    with pytest.raises(RuntimeError, match="is dead: it was unloaded"):
        DRAWS_OF_THE_DEAD[draw](dead, live)
    assert read(live) == canvas(2, 2)
    dead.kill()  # kill of a dead target succeeds, touching nothing
    assert not dead.loaded


def test_a_view_outliving_its_target_is_refused(window):
    import gc

    rt = target(2, 2, GREEN)
    texture = rt.texture  # a view into the render texture's memory
    del rt
    gc.collect()
    with target(2, 2) as dst, pytest.raises(RuntimeError, match="is dead"):
        window.display.fast_blit_pro(texture, (0, 0), True, None)


def test_a_source_that_replaces_itself_while_read(rl):
    # Reading `width` drops the source's render texture, made around the
    # toolkit (its memory is the cdata's own): the one whose view is being
    # drawn is held until the drawing is done.
    class Swapping(KlRenderTexture):
        @property
        def width(self):
            self.render_texture = None
            return 2.0

    made = raylib.rl.LoadRenderTexture(2, 2)  # owns its memory; nothing else refers to it below
    ids = rl.ffi.new("RenderTexture *", made)
    pyray.begin_texture_mode(made)
    pyray.clear_background(GREEN)
    pyray.end_texture_mode()
    source = Swapping.__new__(Swapping)
    source.render_texture, source.size, source.loaded = made, KlVector2(2, 2), True
    del made
    dst = target(4, 4)
    try:
        dst.blit(source, (0, 0, 2, 2))
    finally:
        raylib.rl.UnloadRenderTexture(ids[0])
    assert source.render_texture is None
    assert read(dst) == paste(canvas(4, 4), [[GREEN] * 2] * 2, 0, 0)


# --- refused at creation ---------------------------------------------------------------

@pytest.mark.parametrize("size, error, message", [
    ((0, 4), ValueError, "at least 1x1, not 0x4"),
    ((4, -1), ValueError, "at least 1x1"),
    ((1 << 20, 4), RuntimeError, "beyond the driver's largest texture"),
])
def test_impossible_render_textures_are_refused(rl, size, error, message):
    with pytest.raises(error, match=message):
        rl.load_render_texture(*size)


@pytest.mark.parametrize("mode", [-1, 8, 2**31 - 1])
def test_blend_modes_outside_raylibs_are_refused(mode):
    dst = target(2, 2, GREEN)
    with pytest.raises(ValueError, match="not one of raylib's blend modes"):
        dst.blit(target(2, 2, RED), (0, 0), mode)
    assert read(dst) == canvas(2, 2, GREEN)


@pytest.mark.parametrize("path, message", [(4, "not int"), (True, "not bool"), (None, "not NoneType")])
def test_save_png_takes_paths_only(stripes, path, message):
    with pytest.raises(TypeError, match=message):
        save_png(stripes, path)


# --- frames ----------------------------------------------------------------------------

def test_a_frame_ends_the_scopes_left_open(window, stripes):
    dst = target(2, 2)
    dst.__enter__()  # never left
    kelo_raylib.begin_blend_mode(1)
    assert context.open_scopes() == 2
    with pytest.warns(RuntimeWarning, match="2 drawing scopes left open were ended"):
        with window.frame():
            assert context.current_target() is None
    assert context.open_scopes() == 0


# Checked operations that fail once their scopes are begun.
FAILING_IN_SCOPES = {
    "blit, a bad dest": lambda dst, src: dst.blit(src, (1, 2, 3)),
    "blit, a bad colour": lambda dst, src: dst.blit(src, (0, 0), color=(1, 2, 3)),
    "blit, a dead source": lambda dst, src: (src.kill(), dst.blit(copy.copy(src), (0, 0))),
    "blit_texture, a bad dest": lambda dst, src: dst.blit_texture(src, [0, 0]),
    "blits, a bad item": lambda dst, src: dst.blits([(src, (0, 0)), (src, (1,))]),
    "clear, a bad colour": lambda dst, src: dst.clear((1, 2)),
}


@pytest.mark.parametrize("failing", FAILING_IN_SCOPES)
def test_a_failed_checked_operation_ends_its_scopes(stripes, failing):
    scene, dst, src = target(4, 4), target(2, 2), target(2, 2, RED)
    with scene:
        with pytest.raises((ValueError, TypeError, RuntimeError)):
            FAILING_IN_SCOPES[failing](dst, src)
        assert context.open_scopes() == 1 and context.current_target() is scene.render_texture
        modules.rl.draw_rectangle(0, 0, 1, 1, GREEN)  # lands in the scene, not in dst
    assert read(scene)[0][0] == GREEN and GREEN not in [p for row in read(dst) for p in row]


def test_save_png_leaves_a_descriptor_alone(stripes):
    import os

    read_end, write_end = os.pipe()
    try:
        with pytest.raises(TypeError, match="must be a file system path, not int"):
            save_png(stripes, write_end)
        os.fstat(write_end)  # still open
    finally:
        os.close(read_end)
        os.close(write_end)


def test_an_empty_image_is_no_png():
    from kelo_ui.presentation.pixels import encode_png

    with pytest.raises(ValueError, match="at least 1x1, not 0x0"):
        encode_png(0, 0, b"")


# --- batched blits and interleaved scopes ------------------------------------------------

BATCH = [((0, 0),), ((3, 1), False), ((1, 2, 4, 4),), ((0, 4), True, (255, 255, 255, 255))]


@pytest.mark.parametrize("method", ["fast_blits", "blits"])
def test_batched_blits_draw_as_fast_blit(stripes, method):
    one_by_one, batched = target(6, 6), target(6, 6)
    with one_by_one:
        for options in BATCH:
            one_by_one.fast_blit(stripes, *options)
    items = [(stripes, *options) for options in BATCH]
    if method == "blits":
        batched.blits(items)
    else:
        with batched:
            batched.fast_blits(iter(items))
    assert read(batched) == read(one_by_one) != canvas(6, 6)


def _blits_in_own_scope(window, a, b, s):
    with a:
        for x in range(3):
            a.blit(s, (x, 0))        # the target already current: no flush, same pixels
        assert read(a)[0][:3] == [BLUE] * 3
        a.fast_blit(s, (0, 2))


def _read_and_kill_inside(window, a, b, s):
    with a:
        b.blit(s, (0, 0))
        assert read(b) == STRIPES   # a read-back inside a scope
        b.kill()
        a.blits([(s, (0, 2))])
        a.fast_blit(s, (2, 0))


def _frame_inside_a_scope(window, a, b, s):
    with a:
        a.fast_blit(s, (0, 2))
        with pytest.warns(RuntimeWarning, match="1 drawing scope left open was ended"):
            with window.frame():
                window.display.fast_blit_pro(s, (0, 0), True, None)  # onto the window
    a.blit(s, (2, 0))


INTERLEAVINGS = {
    "blits in their own scope": (_blits_in_own_scope, [(0, 0), (1, 0), (2, 0), (0, 2)]),
    "read and kill inside": (_read_and_kill_inside, [(0, 2), (2, 0)]),
    "a frame inside a scope": (_frame_inside_a_scope, [(0, 2), (2, 0)]),
}


@pytest.mark.parametrize("name", INTERLEAVINGS)
def test_interleaved_scopes(window, stripes, name):
    scenario, placed = INTERLEAVINGS[name]
    a, b = target(4, 4), target(2, 2)
    scenario(window, a, b, stripes)
    expected = canvas(4, 4)
    for x, y in placed:
        paste(expected, STRIPES, x, y)
    assert read(a) == expected
    assert context.open_scopes() == 0


class _Channel(int):
    pass


@pytest.mark.parametrize("dest, color", [
    ((1, 2), None),
    ((1.0, 2.0), (255, 255, 255, 255)),
    ((Fraction(1), 2), None),                       # a conversion that runs code: the ordinary path
    ((1, 2), (_Channel(255), 255, 255, 255)),      # not an exact int: the ordinary path
    ((1, 2, 2, 2), None),
    ((1.0, 2, 2.0, 2), (255, 255, 255, 255)),
    ((1, Fraction(2), 2, 2), None),
])
def test_fast_blit_draws_alike_whatever_the_argument_types(stripes, dest, color):
    dst = target(4, 4)
    with dst:
        dst.fast_blit(stripes, dest, True, color)
        dst.fast_blit(stripes, dest, True, color)  # the same tint again
    assert read(dst) == paste(canvas(4, 4), STRIPES, 1, 2)
