"""Blitting render targets and plain textures against the recording drawing
backend and raylib binding: the exact backend calls, and refusals and where
they happen. The sources, native callers and copying are beside this file
(test_blit_sources.py, test_copying.py)."""

import pytest

from kelo_ui.core.state import kelo_state
from kelo_ui.fast.klrendertex import kl_render_tex
from support.blits import (
    BEFORE,
    BEGUN,
    CLASS,
    ENDED,
    ENDS,
    RED,
    WHITE,
    Exploding,
    Mode,
    Point,
    incorrect,
    pro,
    rec,
    scoped,
    traceback_names,
    vec,
)
from support.children import run_ok
from support.render_tex import loaded_target

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract


# --- the exact backend calls ---------------------------------------------------


def test_blit_at_a_position(backend, pair):
    dst, src = pair
    assert dst.blit(src, (10, 20)) is None
    assert backend.calls == scoped(dst, vec(src, (10, 20)))
    # The colour texture is looked up afresh and handed on as it comes.
    assert backend.calls[2][1] is src.render_texture.texture


@pytest.mark.parametrize(
    "flip, source",
    [(True, (0, 0, 4.0, -2.0)), (False, (0, 0, 4.0, 2.0))],
)
def test_blit_into_a_rectangle(backend, pair, flip, source):
    dst, src = pair
    dst.blit(src, (0, 0, 64, 32), flip=flip)
    assert backend.calls == scoped(dst, rec(src, source, (0, 0, 64, 32)))
    assert [type(n) for n in backend.calls[2][2]] == [int, int, float, float]


@pytest.mark.parametrize(
    "call, draw",
    [
        (lambda d, s: d.fast_blit(s, (1, 2)), lambda s: vec(s, (1, 2))),
        (lambda d, s: d.fast_blit(s, (1, 2), False, None), lambda s: vec(s, (1, 2), None, 0)),
        (lambda d, s: d.fast_blit(s, (1, 2, 3, 4), color=RED), lambda s: rec(s, (0, 0, 4.0, -2.0), (1, 2, 3, 4), RED)),
        (lambda d, s: d.fast_blit(kl_texture=s, dest=(5, 5), flip=[]), lambda s: vec(s, (5, 5), WHITE, 0)),
    ],
)
def test_fast_blit_only_draws(backend, pair, call, draw):
    dst, src = pair
    assert call(dst, src) is None
    assert backend.calls == [draw(src)]


def test_positional_blend_mode_and_flip_sit_apart(backend, pair):
    dst, src = pair
    dst.blit(src, (0, 0), 1)  # blend mode
    dst.fast_blit(src, (0, 0), 0)  # flip
    dst.blit(src, (0, 0), 2, 0, RED)
    assert backend.calls == [
        *scoped(dst, vec(src, (0, 0)), 1),
        vec(src, (0, 0), flip=0),
        *scoped(dst, vec(src, (0, 0), RED, 0), 2),
    ]


@pytest.mark.parametrize(
    "blend_mode, passed",
    [(1, 1), (Mode.ADDITIVE, 1), (1.9, 1), (-2.5, -2), (True, 1), (2**31 - 1, 2**31 - 1), (-(2**31), -(2**31))],
)
@pytest.mark.parametrize("method", ["blit", "blit_texture"])
def test_blend_mode_conversion(backend, pair, blend_mode, passed, method):
    dst, src = pair
    getattr(dst, method)(src, (0, 0), blend_mode)
    assert backend.calls[0] == ("begin_blend_mode", passed)


def test_blit_texture_hands_everything_to_the_display(backend, pair):
    dst, src = pair
    tex = object()
    dst.blit_texture(tex, (5, 6))
    dst.blit_texture(tex, (0, 0, 32, 32), flip=False)
    dst.blit_texture(None, (1, 2, 3), 7, [], None)  # nothing of texture or dest is examined
    dst.blit_texture(src, None, flip=2)  # a KlRenderTexture is not unwrapped
    assert backend.calls == [
        *scoped(dst, pro(tex, (5, 6))),
        *scoped(dst, pro(tex, (0, 0, 32, 32), False)),
        *scoped(dst, pro(None, (1, 2, 3), False, None), 7),
        *scoped(dst, pro(src, None)),
    ]
    assert type(backend.calls[2][3]) is bool


def test_fast_blit_texture_only_draws(backend, pair):
    dst, _ = pair
    dst.fast_blit_texture("tex", (0, 0), 1)
    dst.fast_blit_texture("tex", None, color=RED, flip=None)
    assert backend.calls == [pro("tex", (0, 0)), pro("tex", None, False, RED)]


def test_display_is_found_afresh(backend, pair, monkeypatch):
    dst, _ = pair
    seen = []

    class Display:
        def fast_blit_pro(self, *args):
            seen.append(args)

    monkeypatch.setattr(kelo_state.window, "display", Display())
    dst.fast_blit_texture("tex", (1, 1))
    monkeypatch.setattr(kl_render_tex, "kelo_state", None)
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'window'"):
        dst.fast_blit_texture("tex", (1, 1))
    monkeypatch.delattr(kl_render_tex, "kelo_state")
    with pytest.raises(NameError, match="^name 'kelo_state' is not defined$"):
        dst.blit_texture("tex", (1, 1))
    assert seen == [("tex", (1, 1), True, WHITE)]
    assert [c[0] for c in backend.calls] == ENDED


# --- refusals, and where they happen --------------------------------------------


@pytest.mark.parametrize(
    "call, error, message, calls",
    [
        (lambda d, s: d.blit(None, (0, 0)), TypeError, incorrect("kl_texture", "NoneType", CLASS), BEFORE),
        (lambda d, s: d.blit(5, (0, 0)), TypeError, incorrect("kl_texture", "int", CLASS), BEFORE),
        (lambda d, s: d.blit(s, None), TypeError, "Argument 'dest' must not be None", BEFORE),
        (lambda d, s: d.blit(s, (0, 0), color=[1, 2, 3, 4]), TypeError, incorrect("color", "list"), BEFORE),
        (lambda d, s: d.blit(s, (0, 0), color=Point(1, 2)), TypeError, incorrect("color", "Point"), BEFORE),
        (lambda d, s: d.blit(s, [1, 2]), TypeError, "Expected tuple, got list", ENDED),
        (lambda d, s: d.blit(s, Point(1, 2)), TypeError, "Expected tuple, got Point", ENDED),
        (
            lambda d, s: d.blit(s, (1, 2, 3)),
            ValueError,
            "Invalid dest argument - (1, 2, 3), must be (x, y) or (x, y, width, height)",
            ENDED,
        ),
        (
            lambda d, s: d.blit(s, ()),
            ValueError,
            "Invalid dest argument - (), must be (x, y) or (x, y, width, height)",
            ENDED,
        ),
        (lambda d, s: d.blit(s, (0, 0), 2**31), OverflowError, "value too large to convert to int", BEFORE),
        (lambda d, s: d.blit(s, (0, 0), "1"), TypeError, "an integer is required", BEFORE),
        (lambda d, s: d.blit(s), TypeError, "blit() takes at least 2 positional arguments (1 given)", BEFORE),
        (
            lambda d, s: d.blit(s, (0, 0), 0, 1, None, 6),
            TypeError,
            "blit() takes at most 5 positional arguments (6 given)",
            BEFORE,
        ),
        (
            lambda d, s: d.blit(s, (0, 0), flip=1, fade=2),
            TypeError,
            "blit() got an unexpected keyword argument 'fade'",
            BEFORE,
        ),
        (
            lambda d, s: d.blit(s, (0, 0), 0, kl_texture=s),
            TypeError,
            "blit() got multiple values for keyword argument 'kl_texture'",
            BEFORE,
        ),
        (lambda d, s: d.fast_blit(s, [1, 2]), TypeError, incorrect("dest", "list"), BEFORE),
        (lambda d, s: d.fast_blit(s, Point(1, 2)), TypeError, incorrect("dest", "Point"), BEFORE),
        (lambda d, s: d.fast_blit(s, (0, 0), color=[0]), TypeError, incorrect("color", "list"), BEFORE),
        (lambda d, s: d.fast_blit("src", (0, 0)), TypeError, incorrect("kl_texture", "str", CLASS), BEFORE),
        (lambda d, s: d.fast_blit(None, (0, 0)), AttributeError, "'NoneType' object has no attribute 'height'", BEFORE),
        (lambda d, s: d.fast_blit(s, None), TypeError, "object of type 'NoneType' has no len()", BEFORE),
        (
            lambda d, s: d.fast_blit(s, (1,)),
            ValueError,
            "Invalid dest argument - (1,), must be (x, y) or (x, y, width, height)",
            BEFORE,
        ),
        (
            lambda d, s: d.fast_blit(s, (0, 0), 1, 2, 3),
            TypeError,
            "fast_blit() takes at most 4 positional arguments (5 given)",
            BEFORE,
        ),
        (lambda d, s: d.blit_texture("t", [1, 2]), TypeError, "Expected tuple, got list", ENDED),
        (lambda d, s: d.blit_texture("t", (0, 0), color=Point(1, 2)), TypeError, incorrect("color", "Point"), BEFORE),
        (lambda d, s: d.blit_texture("t", (0, 0), 2**40), OverflowError, "value too large to convert to int", BEFORE),
        (lambda d, s: d.fast_blit_texture("t", [1, 2]), TypeError, "Expected tuple, got list", BEFORE),
        (lambda d, s: d.fast_blit_texture("t", (0, 0), color=[]), TypeError, incorrect("color", "list"), BEFORE),
        (
            lambda d, s: d.fast_blit_texture("t", (0, 0), blend_mode=1),
            TypeError,
            "fast_blit_texture() got an unexpected keyword argument 'blend_mode'",
            BEFORE,
        ),
    ],
)
def test_refusals(backend, pair, call, error, message, calls):
    dst, src = pair
    with pytest.raises(error) as raised:
        call(dst, src)
    assert str(raised.value) == message
    assert [c[0] for c in backend.calls] == calls


@pytest.mark.parametrize(
    "call, error",
    [
        # blend_mode is converted before flip's truth is taken, and both
        # before any type test.
        (lambda d, s: d.blit(None, None, Exploding(), Exploding(), []), ArithmeticError),
        (lambda d, s: d.blit(None, None, 0, Exploding(), []), ZeroDivisionError),
        (lambda d, s: d.blit_texture(None, None, Exploding(), Exploding(), []), ArithmeticError),
        (lambda d, s: d.fast_blit(None, [], Exploding(), []), ZeroDivisionError),
        (lambda d, s: d.fast_blit_texture(None, [], Exploding(), []), ZeroDivisionError),
        (lambda d, s: s.copy(Exploding()), ZeroDivisionError),
    ],
)
def test_conversions_come_first(backend, pair, call, error):
    dst, src = pair
    src.loaded = dst.loaded = False
    with pytest.raises(error):
        call(dst, src)
    assert backend.calls == []


@pytest.mark.parametrize(
    "call",
    [lambda d, s: d.blit(s, (0, 0)), lambda d, s: d.blit_texture("t", (0, 0)), lambda d, s: d.copy()],
)
def test_checked_forms_need_a_loaded_destination(backend, rl, pair, call):
    dst, src = pair
    dst.loaded = False
    with pytest.raises(AssertionError, match="^Render texture not loaded$"):
        call(dst, src)
    assert backend.calls == [] and rl.calls == []


def test_fast_forms_and_sources_skip_the_loaded_check(backend, pair):
    dst, src = pair
    dst.loaded = src.loaded = False
    dst.fast_blit(src, (0, 0))
    dst.fast_blit_texture("t", (0, 0))
    loaded_target().blit(src, (0, 0))
    assert [c[0] for c in backend.calls] == [
        "c_draw_texture_vec",
        "fast_blit_pro",
        *BEGUN,
        "c_draw_texture_vec",
        "end_texture_mode",
        "end_blend_mode",
    ]


def test_without_assertions_blit_draws_whatever_is_held():
    output = run_ok("render_tex", "blit_without_assertions", flags=("-O",))
    assert output.splitlines() == [
        "begin_blend_mode 0",
        "begin_texture_mode None",
        "c_draw_texture_vec tex (0, 0) (255, 255, 255, 255) 1",
        "end_texture_mode",
        "end_blend_mode",
    ]


@pytest.mark.parametrize(
    "failing, calls",
    [
        ("begin_blend_mode", ["begin_blend_mode"]),
        ("begin_texture_mode", [*BEGUN, "end_blend_mode"]),
        ("c_draw_texture_vec", [*BEGUN, "c_draw_texture_vec", *ENDS]),
        ("end_texture_mode", [*BEGUN, "c_draw_texture_vec", *ENDS]),
        ("end_blend_mode", [*BEGUN, "c_draw_texture_vec", *ENDS]),
    ],
)
@pytest.mark.parametrize("method", ["blit", "blits"])
def test_a_failing_backend_stops_blit_and_ends_its_scopes(backend, pair, failing, calls, method):
    dst, src = pair
    backend.fail[failing] = RuntimeError("backend down")
    with pytest.raises(RuntimeError, match="backend down") as raised:
        dst.blit(src, (0, 0)) if method == "blit" else dst.blits([(src, (0, 0))])
    assert [c[0] for c in backend.calls] == calls
    names = traceback_names(raised.value)
    assert f"{CLASS}.{method}" in names
    assert (f"{CLASS}.c_fast_blit" in names) == (failing == "c_draw_texture_vec")
