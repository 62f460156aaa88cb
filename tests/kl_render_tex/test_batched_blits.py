"""Batched blits (fast_blits, blits) against the recording drawing backend:
item by item as fast_blit, the shapes and refusals of items, and blits
ending its scopes."""

import pytest

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.probe import kl_probe
from support.blits import CLASS, RED, WHITE, Exploding, Point, incorrect, scoped, traceback_names, vec

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract


# --- batched blits ------------------------------------------------------------------

# Items and the fast_blit call each stands for.
ITEMS = [
    ((1, 2), "src", ((1, 2),)),
    ((1, 2, 3, 4), "src", ((1, 2, 3, 4),)),
    ((5, 6), "src", ((5, 6), False)),
    ((5, 6), "src", ((5, 6), [], None)),
    ((0, 0, 8, 8), "src", ((0, 0, 8, 8), 2, RED)),
    ((7, 7), "dst", ((7, 7), True, WHITE)),  # into itself
]


@pytest.mark.parametrize("iterable", [list, tuple, iter, lambda items: (item for item in items)])
def test_fast_blits_draws_as_fast_blit_item_by_item(backend, pair, iterable):
    dst, src = pair
    sources = {"src": src, "dst": dst}
    items = [(sources[name], *rest) for _, name, rest in ITEMS]
    for source, *rest in items:
        dst.fast_blit(source, *rest)
    one_by_one = list(backend.calls)
    backend.calls.clear()
    assert dst.fast_blits(iterable(items)) is None
    assert backend.calls == one_by_one
    backend.calls.clear()
    dst.blits(iterable(items), 1)
    assert backend.calls == [
        ("begin_blend_mode", 1),
        ("begin_texture_mode", dst.render_texture),
        *one_by_one,
        ("end_texture_mode",),
        ("end_blend_mode",),
    ]


def test_batched_blits_go_through_the_object_table(backend, pair):
    dst, src = pair
    log = []
    kl_probe.use_recording_table(dst, log)
    dst.fast_blits([(src, (1, 2)), (None, None, 0, None)])
    assert log == [("c_fast_blit", src, (1, 2), 1, WHITE), ("c_fast_blit", None, None, 0, None)]


SHAPE = "items are tuples (kl_texture, dest[, flip[, color]]), not "


@pytest.mark.parametrize(
    "item, error, message",
    [
        ([None, (0, 0)], TypeError, SHAPE + "list"),
        (Point(None, (0, 0)), TypeError, SHAPE + "Point"),
        (("src",), TypeError, SHAPE + "a tuple of 1 items"),
        (("src", (0, 0), True, None, 5), TypeError, SHAPE + "a tuple of 5 items"),
        (("src", (0, 0)), TypeError, incorrect("kl_texture", "str", CLASS)),
        ((None, (0, 0)), AttributeError, "'NoneType' object has no attribute 'height'"),
        (("SRC", [0, 0]), TypeError, incorrect("dest", "list")),
        (("SRC", (0, 0), True, [1]), TypeError, incorrect("color", "list")),
        (("SRC", (0, 0), Exploding()), ZeroDivisionError, "truth"),
        (("SRC", (1,)), ValueError, "Invalid dest argument - (1,), must be (x, y) or (x, y, width, height)"),
    ],
)
@pytest.mark.parametrize("method", ["fast_blits", "blits"])
def test_a_failing_item_says_which(backend, pair, method, item, error, message):
    dst, src = pair
    item = tuple(src if value == "SRC" else value for value in item) if type(item) is tuple else item
    with pytest.raises(error) as raised:
        getattr(dst, method)([(src, (1, 1)), (src, (2, 2)), item, (src, (3, 3))])
    assert str(raised.value) == (method + "() " + message if message.startswith("items") else message)
    assert raised.value.__notes__ == [f"item 2 of {method}()"]
    drawn = [vec(src, (1, 1)), vec(src, (2, 2))]  # the items before it stay drawn
    ended = [("end_texture_mode",), ("end_blend_mode",)]
    assert backend.calls == (drawn if method == "fast_blits" else [*scoped(dst, None)[:2], *drawn, *ended])
    assert f"{CLASS}.{method}" in traceback_names(raised.value)


@pytest.mark.parametrize(
    "call",
    [
        lambda d, s: d.blits([(s, (1,))]),
        lambda d, s: d.blit(s, (1,)),
        lambda d, s: d.blit_texture(s, [1]),
    ],
    ids=["blits", "blit", "blit_texture"],
)
def test_a_failure_stays_the_one_raised_when_an_end_fails_too(backend, pair, call):
    dst, src = pair
    backend.fail["end_texture_mode"] = KeyError("end")
    backend.fail["end_blend_mode"] = LookupError("end too")
    with pytest.raises((ValueError, TypeError)) as raised:
        call(dst, src)
    later = raised.value.__context__
    assert isinstance(later, KeyError) and type(later.__context__) is LookupError
    assert [c[0] for c in backend.calls][-2:] == ["end_texture_mode", "end_blend_mode"]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda d: d.blits(), TypeError, "blits() takes at least 1 positional argument (0 given)"),
        (lambda d: d.fast_blits([], 1), TypeError, "fast_blits() takes exactly 1 positional argument (2 given)"),
        (lambda d: d.blits([], blend_mode="1"), TypeError, "an integer is required"),
        (lambda d: d.blits([], mode=1), TypeError, "blits() got an unexpected keyword argument 'mode'"),
        (lambda d: d.fast_blits(5), TypeError, "'int' object is not iterable"),
    ],
)
def test_batched_binding(backend, pair, call, error, message):
    dst, _ = pair
    with pytest.raises(error) as raised:
        call(dst)
    assert str(raised.value) == message and backend.calls == []


def test_batched_defaults_and_loaded_check(backend, pair):
    dst, src = pair
    assert KlRenderTexture.blits.__defaults__ == (0,) and KlRenderTexture.fast_blits.__defaults__ is None
    dst.loaded = False
    dst.fast_blits([(src, (0, 0))])  # no loaded check
    with pytest.raises(AssertionError, match="^Render texture not loaded$"):
        dst.blits([(src, (0, 0))])
    assert backend.calls == [vec(src, (0, 0))]
