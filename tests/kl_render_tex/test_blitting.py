"""Blitting render targets and plain textures, and copying, against the
recording drawing backend and raylib binding."""

import collections
import enum

import pytest

from kelo_ui.core.state import kelo_state
from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from kelo_ui.presentation.color import Color
from support.children import run_ok
from support.render_tex import loaded_target, rl  # noqa: F401  (fixture)

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"
WHITE = Color.White
RED = (255, 0, 0, 255)
Point = collections.namedtuple("Point", "x y")


class Mode(enum.IntEnum):
    ADDITIVE = 1


@pytest.fixture
def pair():
    """A destination of 16x16 and a source of 4x2."""
    return loaded_target(16, 16), loaded_target(4, 2)


def scoped(dst, draw, blend_mode=0):
    return [("begin_blend_mode", blend_mode), ("begin_texture_mode", dst.render_texture), draw,
            ("end_texture_mode",), ("end_blend_mode",)]


def vec(src, dest, color=WHITE, flip=1):
    return ("c_draw_texture_vec", src.render_texture.texture, dest, color, flip)


def rec(src, source, dest, color=WHITE):
    return ("c_draw_texture_rec", src.render_texture.texture, source, dest, color)


def pro(texture, dest, flip=True, color=WHITE):
    return ("fast_blit_pro", texture, dest, flip, color)


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
    assert backend.calls == [*scoped(dst, vec(src, (0, 0)), 1), vec(src, (0, 0), flip=0),
                             *scoped(dst, vec(src, (0, 0), RED, 0), 2)]


@pytest.mark.parametrize(
    "blend_mode, passed",
    [(1, 1), (Mode.ADDITIVE, 1), (1.9, 1), (-2.5, -2), (True, 1), (2**31 - 1, 2**31 - 1), (-2**31, -2**31)],
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
    assert backend.calls == [*scoped(dst, pro(tex, (5, 6))), *scoped(dst, pro(tex, (0, 0, 32, 32), False)),
                             *scoped(dst, pro(None, (1, 2, 3), False, None), 7), *scoped(dst, pro(src, None))]
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

BEFORE = []  # nothing drawn or begun
BEGUN = ["begin_blend_mode", "begin_texture_mode"]
ENDS = ["end_texture_mode", "end_blend_mode"]
ENDED = [*BEGUN, *ENDS]  # refused once both scopes were begun: both are ended


def incorrect(name, got, expected="tuple"):
    return f"Argument '{name}' has incorrect type (expected {expected}, got {got})"


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
        (lambda d, s: d.blit(s, (1, 2, 3)), ValueError,
         "Invalid dest argument - (1, 2, 3), must be (x, y) or (x, y, width, height)", ENDED),
        (lambda d, s: d.blit(s, ()), ValueError,
         "Invalid dest argument - (), must be (x, y) or (x, y, width, height)", ENDED),
        (lambda d, s: d.blit(s, (0, 0), 2**31), OverflowError, "value too large to convert to int", BEFORE),
        (lambda d, s: d.blit(s, (0, 0), "1"), TypeError, "an integer is required", BEFORE),
        (lambda d, s: d.blit(s), TypeError, "blit() takes at least 2 positional arguments (1 given)", BEFORE),
        (lambda d, s: d.blit(s, (0, 0), 0, 1, None, 6), TypeError,
         "blit() takes at most 5 positional arguments (6 given)", BEFORE),
        (lambda d, s: d.blit(s, (0, 0), flip=1, fade=2), TypeError,
         "blit() got an unexpected keyword argument 'fade'", BEFORE),
        (lambda d, s: d.blit(s, (0, 0), 0, kl_texture=s), TypeError,
         "blit() got multiple values for keyword argument 'kl_texture'", BEFORE),
        (lambda d, s: d.fast_blit(s, [1, 2]), TypeError, incorrect("dest", "list"), BEFORE),
        (lambda d, s: d.fast_blit(s, Point(1, 2)), TypeError, incorrect("dest", "Point"), BEFORE),
        (lambda d, s: d.fast_blit(s, (0, 0), color=[0]), TypeError, incorrect("color", "list"), BEFORE),
        (lambda d, s: d.fast_blit("src", (0, 0)), TypeError, incorrect("kl_texture", "str", CLASS), BEFORE),
        (lambda d, s: d.fast_blit(None, (0, 0)), AttributeError, "'NoneType' object has no attribute 'height'",
         BEFORE),
        (lambda d, s: d.fast_blit(s, None), TypeError, "object of type 'NoneType' has no len()", BEFORE),
        (lambda d, s: d.fast_blit(s, (1,)), ValueError,
         "Invalid dest argument - (1,), must be (x, y) or (x, y, width, height)", BEFORE),
        (lambda d, s: d.fast_blit(s, (0, 0), 1, 2, 3), TypeError,
         "fast_blit() takes at most 4 positional arguments (5 given)", BEFORE),
        (lambda d, s: d.blit_texture("t", [1, 2]), TypeError, "Expected tuple, got list", ENDED),
        (lambda d, s: d.blit_texture("t", (0, 0), color=Point(1, 2)), TypeError, incorrect("color", "Point"),
         BEFORE),
        (lambda d, s: d.blit_texture("t", (0, 0), 2**40), OverflowError, "value too large to convert to int",
         BEFORE),
        (lambda d, s: d.fast_blit_texture("t", [1, 2]), TypeError, "Expected tuple, got list", BEFORE),
        (lambda d, s: d.fast_blit_texture("t", (0, 0), color=[]), TypeError, incorrect("color", "list"), BEFORE),
        (lambda d, s: d.fast_blit_texture("t", (0, 0), blend_mode=1), TypeError,
         "fast_blit_texture() got an unexpected keyword argument 'blend_mode'", BEFORE),
    ],
)
def test_refusals(backend, pair, call, error, message, calls):
    dst, src = pair
    with pytest.raises(error) as raised:
        call(dst, src)
    assert str(raised.value) == message
    assert [c[0] for c in backend.calls] == calls


class Exploding:
    def __bool__(self):
        raise ZeroDivisionError("truth")

    def __int__(self):
        raise ArithmeticError("int")


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
    assert [c[0] for c in backend.calls] == ["c_draw_texture_vec", "fast_blit_pro", *BEGUN, "c_draw_texture_vec",
                                             "end_texture_mode", "end_blend_mode"]


def test_without_assertions_blit_draws_whatever_is_held():
    output = run_ok("render_tex", "blit_without_assertions", flags=("-O",))
    assert output.splitlines() == ["begin_blend_mode 0", "begin_texture_mode None",
                                   "c_draw_texture_vec tex (0, 0) (255, 255, 255, 255) 1", "end_texture_mode",
                                   "end_blend_mode"]


@pytest.mark.parametrize("failing, calls", [
    ("begin_blend_mode", ["begin_blend_mode"]),
    ("begin_texture_mode", [*BEGUN, "end_blend_mode"]),
    ("c_draw_texture_vec", [*BEGUN, "c_draw_texture_vec", *ENDS]),
    ("end_texture_mode", [*BEGUN, "c_draw_texture_vec", *ENDS]),
    ("end_blend_mode", [*BEGUN, "c_draw_texture_vec", *ENDS]),
])
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


def traceback_names(error):
    tb, names = error.__traceback__, []
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return names


# --- the source: its own height and width, its render texture -------------------


class Scaled(KlRenderTexture):
    """A source that reports twice its size."""

    @property
    def width(self):
        return self.size.x * 2

    @property
    def height(self):
        return int(self.size.y * 2)


@pytest.mark.parametrize("flip, height", [(True, -4), (False, 4)])
def test_subclass_width_and_height_are_honoured(backend, flip, height):
    dst, src = loaded_target(), loaded_target(4, 2, Scaled)
    dst.fast_blit(src, (0, 0, 1, 1), flip)
    assert backend.calls == [rec(src, (0, 0, 8.0, height), (0, 0, 1, 1))]


def test_height_is_read_first_even_for_the_position_form(backend):
    reads = []

    class Watched(KlRenderTexture):
        @property
        def height(self):
            reads.append("height")
            return Negative()

    class Negative:
        def __neg__(self):
            reads.append("neg")
            return self

    src = loaded_target(cls=Watched)
    loaded_target().fast_blit(src, (0, 0))
    with pytest.raises(TypeError):
        loaded_target().fast_blit(src, None, False)
    assert reads == ["height", "neg", "height"]
    assert len(backend.calls) == 1


@pytest.mark.parametrize("dest", [(0, 0), (0, 0, 1, 1)])
def test_source_without_size_or_texture(backend, dest):
    empty = KlRenderTexture.__new__(KlRenderTexture)
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'y'"):
        loaded_target().fast_blit(empty, dest)
    empty.size = KlVector2(1, 1)
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'texture'"):
        loaded_target().fast_blit(empty, dest)
    assert backend.calls == []


def test_size_dropped_while_the_texture_is_looked_up(backend):
    src = loaded_target(4, 2)

    class Meddling:
        @property
        def texture(self):
            src.size = None
            return "tex"

    src.render_texture = Meddling()
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'x'"):
        loaded_target().fast_blit(src, (0, 0, 1, 1))
    assert backend.calls == []


def test_an_object_blits_into_itself(backend):
    rt = loaded_target(4, 4)
    rt.blit(rt, (1, 1))
    assert backend.calls == scoped(rt, vec(rt, (1, 1)))


def test_inside_a_with_block(backend, pair):
    dst, src = pair
    with dst:
        dst.fast_blit(src, (0, 0))
        dst.blit(src, (0, 0))
    assert [c[0] for c in backend.calls] == ["begin_texture_mode", "c_draw_texture_vec", *BEGUN,
                                             "c_draw_texture_vec", "end_texture_mode", "end_blend_mode",
                                             "end_texture_mode"]


# --- native callers and the object's table ---------------------------------------


def test_native_callers_of_slots_0_and_1(backend, pair):
    dst, src = pair
    kl_probe.rt_slot("c_fast_blit", dst, src, (1, 2), 7, None)
    kl_probe.rt_slot("c_fast_blit", dst, src, [1, 2, 3, 4], 0, RED)  # any sized dest from a native caller
    kl_probe.rt_slot("c_fast_blit_texture", dst, "tex", (1, 2, 3), 5, RED)
    assert backend.calls == [vec(src, (1, 2), None, 7), rec(src, (0, 0, 4.0, 2.0), [1, 2, 3, 4], RED),
                             pro("tex", (1, 2, 3), True, RED)]
    with pytest.raises(AttributeError, match="has no attribute 'height'"):
        kl_probe.rt_slot("c_fast_blit", dst, None, (1, 2), 0, None)
    with pytest.raises(TypeError, match=r"object of type 'int' has no len\(\)"):
        kl_probe.rt_slot("c_fast_blit", dst, src, 12, 0, None)


def test_blits_go_through_the_object_table(backend, pair):
    dst, src = pair
    log = []
    kl_probe.use_recording_table(dst, log)
    dst.blit(src, (1, 2))
    dst.fast_blit(src, (3, 4), False, None)
    dst.blit_texture("tex", None, 1)
    dst.fast_blit_texture("tex", (5, 6))
    assert log == [("c_fast_blit", src, (1, 2), 1, WHITE), ("c_fast_blit", src, (3, 4), 0, None),
                   ("c_fast_blit_texture", "tex", None, 1, WHITE), ("c_fast_blit_texture", "tex", (5, 6), 1, WHITE)]
    assert [c[0] for c in backend.calls] == [*BEGUN, "end_texture_mode", "end_blend_mode"] * 2


def test_default_tints_are_the_ones_read_at_import():
    output = run_ok("render_tex", "default_tints_read_at_import")
    assert output.splitlines() == ["c_draw_texture_vec None", "fast_blit_pro (None,)"]


# --- copy -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, flip",
    [((), {}, 1), ((True,), {}, 1), ((False,), {}, 0), ((None,), {}, 0), ((0,), {}, 0), ((), {"flip": []}, 0),
     ((2,), {}, 1)],
)
def test_copy_draws_this_target_into_a_new_one(backend, rl, args, kwargs, flip):
    src = loaded_target(4, 2)
    copied = src.copy(*args, **kwargs)
    assert type(copied) is KlRenderTexture and copied.loaded is True
    assert copied.size is src.size
    assert rl.calls == [("load_render_texture", 4, 2)]
    assert copied.render_texture is rl.loaded[0]
    assert backend.calls == scoped(copied, vec(src, (0, 0), WHITE, flip))


def test_copy_of_a_subclass_is_a_plain_target_drawn_by_its_own_blit(backend, rl):
    class Fancy(KlRenderTexture):
        def blit(self, *args):
            raise AssertionError("never used")

    copied = loaded_target(4, 2, Fancy).copy()
    assert type(copied) is KlRenderTexture
    assert [c[0] for c in backend.calls] == [*BEGUN, "c_draw_texture_vec", "end_texture_mode", "end_blend_mode"]


def test_copy_looks_up_the_blend_mode_afresh(backend, rl, monkeypatch):
    src = loaded_target()
    src.copy()
    rl.BlendMode = type("BlendMode", (), {"BLEND_ALPHA": Mode.ADDITIVE})
    src.copy()
    assert [c for c in backend.calls if c[0] == "begin_blend_mode"] == [("begin_blend_mode", 0),
                                                                         ("begin_blend_mode", 1)]
    monkeypatch.delattr(kl_render_tex, "md")
    with pytest.raises(NameError, match="^name 'md' is not defined$"):
        src.copy()


@pytest.mark.parametrize(
    "break_it, error",
    [
        (lambda rl, src: setattr(src, "size", None), TypeError),  # construction refuses None
        (lambda rl, src: rl.fail.update(load_render_texture=MemoryError()), MemoryError),
        (lambda rl, src: delattr(type(rl), "BlendMode"), AttributeError),
    ],
)
def test_copy_failures_propagate_and_drop_the_new_target(backend, rl, monkeypatch, break_it, error):
    monkeypatch.setattr(type(rl), "BlendMode", rl.BlendMode)
    src = loaded_target()
    break_it(rl, src)
    with pytest.raises(error) as raised:
        src.copy()
    assert backend.calls == []
    assert f"{CLASS}.copy" in traceback_names(raised.value)
    # A copy made before the failure was dropped: the binding unloads it.
    assert [c[0] for c in rl.calls if c[0] != "is_window_ready"].count("unload_render_texture") == \
        len(rl.loaded)


def test_copy_refuses_extra_arguments(rl):
    src = loaded_target()
    with pytest.raises(TypeError, match=r"^copy\(\) takes at most 1 positional argument \(2 given\)$"):
        src.copy(True, False)
    with pytest.raises(TypeError, match="^copy\\(\\) got an unexpected keyword argument 'flipped'$"):
        src.copy(flipped=True)
    assert rl.calls == []
