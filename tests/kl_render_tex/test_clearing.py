"""The drawing scope and the clears, against a recording drawing backend."""

import collections

import pytest

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from support.children import run_ok
from support.render_tex import FakeRenderTexture

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

RED = (255, 0, 0, 255)
Colour = collections.namedtuple("Colour", "r g b a")


def loaded(cls=KlRenderTexture):
    rt = cls.__new__(cls)
    rt.render_texture = FakeRenderTexture(8, 8)
    rt.size = KlVector2(8.0, 8.0)
    rt.loaded = True
    return rt


def scoped_clear(rt, color):
    return [("begin_texture_mode", rt.render_texture), ("c_clear_background", color), ("end_texture_mode",)]


def test_with_block_begins_and_ends_texture_mode(backend):
    rt = loaded()
    with rt as bound:
        assert bound is rt
        assert backend.calls == [("begin_texture_mode", rt.render_texture)]
        rt.fast_clear(RED)
    assert backend.calls[1:] == [("c_clear_background", RED), ("end_texture_mode",)]


def test_with_block_lets_the_exception_through(backend):
    rt = loaded()
    with pytest.raises(KeyError, match="inside"):
        with rt:
            raise KeyError("inside")
    assert backend.calls[-1] == ("end_texture_mode",)
    assert rt.__exit__(KeyError, KeyError("x"), None) is None


@pytest.mark.parametrize("name", ["clear", "fill"])
@pytest.mark.parametrize("color", [RED, None])
def test_clear_and_fill_draw_in_their_own_scope(backend, name, color):
    rt = loaded()
    assert getattr(rt, name)(color) is None
    assert backend.calls == scoped_clear(rt, color)
    backend.calls.clear()
    getattr(rt, name)(color=color)
    assert backend.calls == scoped_clear(rt, color)


@pytest.mark.parametrize("color", [RED, None])
def test_fast_clear_draws_into_the_current_target(backend, color):
    loaded().fast_clear(color)
    assert backend.calls == [("c_clear_background", color)]


@pytest.mark.parametrize("name", ["clear", "fast_clear", "fill"])
@pytest.mark.parametrize("color, got", [([0, 0, 0, 0], "list"), (Colour(1, 2, 3, 4), "Colour"), (0, "int")])
def test_colour_must_be_a_tuple(backend, name, color, got):
    rt = loaded()
    rt.loaded = False  # the type test comes before the loaded check
    with pytest.raises(TypeError) as error:
        getattr(rt, name)(color)
    assert str(error.value) == f"Argument 'color' has incorrect type (expected tuple, got {got})"
    assert backend.calls == []


@pytest.mark.parametrize(
    "call",
    [
        lambda rt: rt.__enter__(),
        lambda rt: rt.clear(RED),
        lambda rt: rt.fill(RED),
        lambda rt: rt.fast_clear(RED),
        lambda rt: kl_probe.rt_slot("clear", rt, RED, 0),
        lambda rt: kl_probe.rt_slot("fill", rt, RED, 1),
        lambda rt: kl_probe.rt_slot("fast_clear", rt, RED, 1),
    ],
)
def test_not_loaded(backend, call):
    with pytest.raises(AssertionError) as error:
        call(KlRenderTexture.__new__(KlRenderTexture))
    assert str(error.value) == "Render texture not loaded"
    assert backend.calls == []


def test_unchecked_operations_ignore_loaded(backend):
    rt = KlRenderTexture.__new__(KlRenderTexture)
    rt.__exit__(None, None, None)
    kl_probe.rt_slot("c_clear", rt, RED)
    kl_probe.rt_slot("c_fast_clear", rt, None)
    assert backend.calls == [("end_texture_mode",), *scoped_clear(rt, RED), ("c_clear_background", None)]


def test_without_assertions_the_scope_opens_on_whatever_is_held():
    output = run_ok("render_tex", "scope_without_assertions", flags=("-O",))
    assert output.splitlines() == ["begin_texture_mode None", "end_texture_mode"]


@pytest.mark.parametrize(
    "failing, call, expected",
    [
        ("begin_texture_mode", lambda rt: rt.clear(RED), ["begin_texture_mode"]),
        # the texture mode begun is ended after the failure
        (
            "c_clear_background",
            lambda rt: rt.fill(RED),
            ["begin_texture_mode", "c_clear_background", "end_texture_mode"],
        ),
        (
            "end_texture_mode",
            lambda rt: rt.clear(RED),
            ["begin_texture_mode", "c_clear_background", "end_texture_mode"],
        ),
        ("c_clear_background", lambda rt: rt.fast_clear(RED), ["c_clear_background"]),
        ("begin_texture_mode", lambda rt: rt.__enter__(), ["begin_texture_mode"]),
        ("end_texture_mode", lambda rt: rt.__exit__(None, None, None), ["end_texture_mode"]),
    ],
)
def test_backend_failure_stops_and_ends_the_scopes_begun(backend, failing, call, expected):
    rt = loaded()
    backend.fail[failing] = RuntimeError("backend down")
    with pytest.raises(RuntimeError, match="backend down"):
        call(rt)
    assert [c[0] for c in backend.calls] == expected


def test_failed_enter_skips_the_block(backend):
    backend.fail["begin_texture_mode"] = RuntimeError("no")
    ran = []
    with pytest.raises(RuntimeError):
        with loaded():
            ran.append(True)
    assert ran == [] and [c[0] for c in backend.calls] == ["begin_texture_mode"]


class Counting(KlRenderTexture):
    seen = []

    def clear(self, color):
        Counting.seen.append(("clear", color))

    def fast_clear(self, color):
        Counting.seen.append(("fast_clear", color))

    def fill(self, color):
        Counting.seen.append(("fill", color))
        KlRenderTexture.fill(self, color)


@pytest.mark.parametrize("name", ["clear", "fast_clear", "fill"])
def test_native_callers_reach_overrides(backend, name):
    rt = loaded(Counting)
    Counting.seen = []
    kl_probe.rt_slot(name, rt, RED, 0)
    assert Counting.seen == [(name, RED)]
    # fill's override calls up: the base body runs once, without recursing.
    assert backend.calls == (scoped_clear(rt, RED) if name == "fill" else [])
    backend.calls.clear()
    kl_probe.rt_slot(name, rt, RED, 1)
    assert Counting.seen == [(name, RED)]
    assert backend.calls != []


def test_override_exception_propagates(backend):
    class Raising(KlRenderTexture):
        def clear(self, color):
            raise ArithmeticError("override failed")

    with pytest.raises(ArithmeticError):
        kl_probe.rt_slot("clear", loaded(Raising), RED, 0)


def test_clears_go_through_the_object_table(backend):
    # A native subclass's table that replaces c_fast_clear changes every clear.
    rt = loaded()
    log = []
    kl_probe.use_recording_table(rt, log)
    rt.clear(RED)
    rt.fill(None)
    rt.fast_clear(RED)
    kl_probe.rt_slot("c_clear", rt, RED)
    assert log == [("c_fast_clear", RED), ("c_fast_clear", None), ("c_fast_clear", RED), ("c_fast_clear", RED)]
    assert [c[0] for c in backend.calls] == ["begin_texture_mode", "end_texture_mode"] * 3
