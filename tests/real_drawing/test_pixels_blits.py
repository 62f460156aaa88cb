"""Drawing for real: clears and blits of render targets and plain textures
under a hidden window through the window context, checked by reading their
pixels back."""

import sys
from fractions import Fraction

import pytest

from kelo_ui.core import modules
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.pixels import read_array, read_image, read_rgba, save_png
from support.display import (
    BLANK,
    BLUE,
    GREEN,
    MIRRORED,
    RED,
    STRIPES,
    WHITE,
    canvas,
    cell_among_others,
    image_rows,
    near,
    paste,
    read,
    target,
)

pytestmark = pytest.mark.usefixtures("window", "no_scope_left")


def test_read_rgba_rows_start_at_the_top(stripes):
    width, height, data = read_rgba(stripes)
    assert (width, height, len(data)) == (2, 2, 16)
    assert image_rows(width, height, data) == STRIPES


def _killed():
    rt = target(2, 2)
    rt.kill()
    return rt


@pytest.mark.parametrize(
    "make, error, message",
    [
        (lambda: object(), TypeError, "target must be a KlRenderTexture, not object"),
        (lambda: KlRenderTexture.__new__(KlRenderTexture), AssertionError, "not loaded"),
        (_killed, AssertionError, "not loaded"),
    ],
    ids=["stranger", "never-loaded", "killed"],
)
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


@pytest.mark.parametrize("kind", ["target", "cell"])
@pytest.mark.parametrize("how", CLEARS)
@pytest.mark.parametrize(
    "color, expected",
    [
        ((10, 20, 30, 255), (10, 20, 30, 255)),
        ((1, 2, 3, 4), (1, 2, 3, 4)),  # no blending
        (None, BLANK),
    ],
)
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
@pytest.mark.parametrize(
    "dest, options, picture",
    [
        ((0, 0), {}, STRIPES),
        ((3, 1), {}, STRIPES),
        ((3, 1), {"flip": True}, STRIPES),
        ((3, 1), {"flip": False}, MIRRORED),
        ((1, 2, 4, 4), {}, [[BLUE] * 4] * 2 + [[RED] * 4] * 2),
        ((0, 0, 5, 2), {}, [[BLUE] * 5, [RED] * 5]),
        ((1, 0, 2, 4), {"flip": False}, [[RED] * 2] * 2 + [[BLUE] * 2] * 2),
    ],
)
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
@pytest.mark.parametrize(
    "tint, expected",
    [(None, WHITE), (WHITE, WHITE), ((255, 128, 0, 255), (255, 128, 0, 255)), ((0, 255, 255, 255), (0, 255, 255, 255))],
)
def test_tint_multiplies_the_source(dest, tint, expected):
    dst = target(2, 2, BLANK)
    dst.blit(target(2, 2, WHITE), dest, color=tint)
    assert all(near(pixel, expected, 1) for row in read(dst) for pixel in row)


def _alpha(src, dst):
    a = src[3] / 255
    return tuple(round(s * a + d * (1 - a)) for s, d in zip(src, dst, strict=True))


def _additive(src, dst):
    a = src[3] / 255
    return tuple(min(255, round(s * a + d)) for s, d in zip(src, dst, strict=True))


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


@pytest.mark.parametrize(
    "dest, options, expected",
    [
        ((1, 2), {"flip": False}, paste(canvas(4, 4), IMAGE, 1, 2)),
        # An image is stored top-down: the flip turns it upside down.
        ((1, 2), {}, paste(canvas(4, 4), IMAGE[::-1], 1, 2)),
        ((0, 0, 4, 2), {"flip": False}, [[WHITE] * 2 + [GREEN] * 2, [BLUE] * 2 + [RED] * 2] + canvas(4, 2)),
        (None, {"flip": False}, paste(canvas(4, 4), IMAGE, 0, 0)),
    ],
)
def test_blit_texture_of_an_image(picture, dest, options, expected):
    dst = target(4, 4)
    dst.blit_texture(picture, dest, **options)
    assert read(dst) == expected


def _kinds(rt):
    return {"KlRenderTexture": rt, "RenderTexture": rt.render_texture, "Texture": rt.texture}


@pytest.mark.parametrize("kind", ["KlRenderTexture", "RenderTexture", "Texture"])
@pytest.mark.parametrize(
    "dest, flip, expected",
    [
        ((2, 1), True, paste(canvas(4, 4), STRIPES, 2, 1)),
        ((2, 1), False, paste(canvas(4, 4), MIRRORED, 2, 1)),
        (None, True, paste(canvas(4, 4), STRIPES, 0, 0)),
        ((0, 0, 4, 4), True, [[BLUE] * 4] * 2 + [[RED] * 4] * 2),
    ],
)
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


READERS = {  # each reader's pixels as rows of RGBA tuples, top row first
    "read_array": lambda rt: [[tuple(map(int, pixel)) for pixel in row] for row in read_array(rt)],
    "read_image": lambda rt: [
        [image.getpixel((x, y)) for x in range(image.width)] for image in [read_image(rt)] for y in range(image.height)
    ],
}


@pytest.mark.parametrize("reader", READERS)
def test_readers_give_the_pixels_top_row_first(stripes, reader):
    assert READERS[reader](stripes) == STRIPES


@pytest.mark.parametrize("reader, package", [("read_array", "numpy"), ("read_image", "PIL")])
def test_readers_say_what_to_install(stripes, monkeypatch, reader, package):
    monkeypatch.setitem(sys.modules, package, None)
    with pytest.raises(ImportError, match=f"{reader} needs .*: pip install"):
        READERS[reader](stripes)


def _screen(rl, width, height):
    image = rl.load_image_from_screen()
    try:
        return [
            [tuple(getattr(rl.get_image_color(image, x, y), part) for part in "rgba") for x in range(width)]
            for y in range(height)
        ]
    finally:
        rl.unload_image(image)


def test_present_shows_the_scene_the_right_way_up(window, rl, stripes):
    with window.frame():
        rl.clear_background(GREEN)
        window.present(stripes)
        assert _screen(rl, 3, 3) == [[BLUE, BLUE, GREEN], [RED, RED, GREEN], [GREEN] * 3]
        with target(1, 1), pytest.raises(RuntimeError, match="would be drawn into that target"):
            window.present(stripes)


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


class _Channel(int):
    pass


@pytest.mark.parametrize(
    "dest, color",
    [
        ((1, 2), None),
        ((1.0, 2.0), (255, 255, 255, 255)),
        ((Fraction(1), 2), None),  # a conversion that runs code: the ordinary path
        ((1, 2), (_Channel(255), 255, 255, 255)),  # not an exact int: the ordinary path
        ((1, 2, 2, 2), None),
        ((1.0, 2, 2.0, 2), (255, 255, 255, 255)),
        ((1, Fraction(2), 2, 2), None),
    ],
)
def test_fast_blit_draws_alike_whatever_the_argument_types(stripes, dest, color):
    dst = target(4, 4)
    with dst:
        dst.fast_blit(stripes, dest, True, color)
        dst.fast_blit(stripes, dest, True, color)  # the same tint again
    assert read(dst) == paste(canvas(4, 4), STRIPES, 1, 2)


def test_the_window_size_follows_raylib(window, rl):
    assert (window.width, window.height) == (64, 64)
    rl.set_window_size(80, 40)
    try:
        assert (window.width, window.height) == (80, 40)
    finally:
        rl.set_window_size(64, 64)
    assert (window.width, window.height) == (64, 64)
