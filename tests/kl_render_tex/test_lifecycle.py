"""Construction and release: __init__, the native new, from_rl_render_texture,
kill and destruction, against a recording raylib binding."""

import gc
import math
import sys

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from support.children import run_ok
from support.render_tex import FakeRenderTexture

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"
VECTOR = "kelo_ui.fast.klvector2.klvector2.KlVector2"


@pytest.mark.parametrize(
    "size, loaded_with",
    [((800.0, 600.0), (800, 600)), ((800.9, 600.2), (800, 600)), ((-3.7, 10.0), (-3, 10)), ((0.0, 0.5), (0, 0))],
)
@pytest.mark.parametrize("construct", ["init", "keyword", "new"])
def test_construction_loads_truncated_integer_sizes(rl, size, loaded_with, construct):
    vector = KlVector2(*size)
    if construct == "init":
        rt = KlRenderTexture(vector)
    elif construct == "keyword":
        rt = KlRenderTexture(size=vector)
    else:
        rt = kl_probe.rt_slot("new", vector)
    assert type(rt) is KlRenderTexture
    assert rl.calls == [("load_render_texture", *loaded_with)]
    assert all(type(n) is int for n in rl.calls[0][1:])
    assert rt.render_texture is rl.loaded[0]
    assert rt.size is vector
    assert rt.loaded is True
    assert (rt.width, rt.height) == size


@pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf])
@pytest.mark.parametrize("construct", ["init", "new"])
def test_non_finite_sizes_load_nothing(rl, bad, construct):
    with pytest.raises((ValueError, OverflowError)):
        if construct == "init":
            KlRenderTexture(KlVector2(10.0, bad))
        else:
            kl_probe.rt_slot("new", KlVector2(bad, 10.0))
    assert rl.calls == []


@pytest.mark.parametrize("argument, got", [(None, "NoneType"), ((800, 600), "tuple"), ("800x600", "str")])
def test_init_refuses_what_is_not_a_vector(rl, argument, got):
    with pytest.raises(TypeError) as error:
        KlRenderTexture(argument)
    assert str(error.value) == f"Argument 'size' has incorrect type (expected {VECTOR}, got {got})"
    assert rl.calls == []


def test_failing_load_changes_nothing(rl):
    vector = KlVector2(8.0, 8.0)
    rt = KlRenderTexture(vector)
    first = rt.render_texture
    rl.fail["load_render_texture"] = RuntimeError("no GPU")
    with pytest.raises(RuntimeError, match="no GPU"):
        rt.__init__(KlVector2(1.0, 1.0))
    assert rt.render_texture is first and rt.size is vector and rt.loaded is True
    with pytest.raises(RuntimeError, match="no GPU"):
        kl_probe.rt_slot("new", vector)


def test_md_is_looked_up_at_every_call(rl, monkeypatch):
    import builtins
    import types

    monkeypatch.delattr(kl_render_tex, "md")
    with pytest.raises(NameError) as error:
        KlRenderTexture(KlVector2(1.0, 1.0))
    assert str(error.value) == "name 'md' is not defined"
    # The built-ins are the second place looked in.
    monkeypatch.setattr(builtins, "md", types.SimpleNamespace(rl=rl), raising=False)
    rt = KlRenderTexture(KlVector2(2.0, 3.0))
    assert rl.calls == [("load_render_texture", 2, 3)] and rt.loaded


def test_second_init_loads_again_without_unloading(rl):
    rt = KlRenderTexture(KlVector2(4.0, 4.0))
    rt.__init__(KlVector2(5.0, 6.0))
    assert [call[0] for call in rl.calls] == ["load_render_texture", "load_render_texture"]
    assert rt.render_texture is rl.loaded[1]


def test_subclass_construction(rl):
    class Sub(KlRenderTexture):
        pass

    assert type(Sub(KlVector2(2.0, 2.0))) is Sub
    adopted = Sub.from_rl_render_texture(FakeRenderTexture(3, 4))
    assert type(adopted) is KlRenderTexture


def test_vectors_are_shared(rl):
    vector = KlVector2(16.0, 16.0)
    a, b = KlRenderTexture(vector), KlRenderTexture(vector)
    vector.y = 32.0
    assert a.height == b.height == 32.0 and a.size is b.size


def test_from_rl_render_texture(rl):
    made = FakeRenderTexture(256, 128)
    adopted = [
        KlRenderTexture.from_rl_render_texture(made),
        KlRenderTexture.__new__(KlRenderTexture).from_rl_render_texture(rl_render_texture=made),
    ]
    for rt in adopted:
        assert type(rt) is KlRenderTexture
        assert rt.render_texture is made
        assert type(rt.size) is KlVector2
        assert (rt.size.x, rt.size.y) == (256.0, 128.0)
        assert rt.loaded is True
    assert rl.calls == []


@pytest.mark.parametrize(
    "texture, error",
    [(None, AttributeError), (FakeRenderTexture("wide", 1), TypeError), (FakeRenderTexture(1, None), TypeError)],
)
def test_from_rl_render_texture_failures_unload_nothing(rl, texture, error):
    with pytest.raises(error):
        KlRenderTexture.from_rl_render_texture(texture)
    assert rl.calls == []


def test_kill(rl):
    rt = KlRenderTexture(KlVector2(8.0, 8.0))
    held, size = rt.render_texture, rt.size
    assert rt.kill() is None
    assert rl.calls[1:] == [("unload_render_texture", held)]
    assert rt.loaded is False and rt.render_texture is held and rt.size is size
    with pytest.raises(AssertionError) as error:
        rt.kill()
    assert str(error.value) == "Render texture not loaded"
    assert len(rl.calls) == 2
    del rt
    assert len(rl.calls) == 2  # a killed one is not unloaded again


def test_failing_unload_keeps_loaded(rl):
    rt = KlRenderTexture(KlVector2(8.0, 8.0))
    rl.fail["unload_render_texture"] = RuntimeError("busy")
    with pytest.raises(RuntimeError, match="busy"):
        rt.kill()
    assert rt.loaded is True
    rl.window_ready = False


def test_kill_without_assertions_unloads_whatever_is_held():
    output = run_ok("render_tex", "kill_without_assertions", flags=("-O",))
    assert output.strip() == "[None]"


@pytest.mark.parametrize(
    "ready, expected",
    [(True, ["is_window_ready", "unload_render_texture"]), (False, ["is_window_ready"]), (0, ["is_window_ready"])],
)
def test_destruction_of_a_loaded_target(rl, ready, expected):
    rt = KlRenderTexture(KlVector2(8.0, 8.0))
    held = rt.render_texture
    rl.calls.clear()
    rl.window_ready = ready
    del rt
    assert [call[0] for call in rl.calls] == expected
    if len(expected) == 2:
        assert rl.calls[1][1] is held


def test_destruction_of_empty_and_killed_targets(rl):
    KlRenderTexture.__new__(KlRenderTexture)
    rt = KlRenderTexture(KlVector2(8.0, 8.0))
    rt.kill()
    rl.calls.clear()
    del rt
    assert rl.calls == []


def test_destruction_swallows_exceptions(rl, capsys):
    seen = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = seen.append
    try:
        for member in ("is_window_ready", "unload_render_texture"):
            rt = KlRenderTexture(KlVector2(8.0, 8.0))
            rl.fail = {member: RuntimeError("gone")}
            del rt
    finally:
        sys.unraisablehook = old_hook
    assert seen == []
    assert capsys.readouterr().err == ""


@pytest.mark.parametrize("exception", [KeyboardInterrupt("stop"), SystemExit(3), GeneratorExit()])
def test_destruction_reports_base_exceptions_as_unraisable(rl, capsys, exception):
    seen = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda unraisable: seen.append((unraisable.exc_type, unraisable.object))
    try:
        rt = KlRenderTexture(KlVector2(8.0, 8.0))
        rl.fail["unload_render_texture"] = exception
        del rt
    finally:
        sys.unraisablehook = old_hook
    assert seen == [(type(exception), f"{CLASS}.__dealloc__")]
    assert type(exception).__name__ in capsys.readouterr().err  # printed first


def test_pending_exception_survives_destruction(rl):
    def drop_while_raising():
        rt = KlRenderTexture(KlVector2(8.0, 8.0))  # noqa: F841  (released while the error propagates)
        raise ValueError("original")

    with pytest.raises(ValueError, match="original"):
        drop_while_raising()
    assert [call[0] for call in rl.calls] == ["load_render_texture", "is_window_ready", "unload_render_texture"]


def test_subclass_finaliser_runs_first(rl):
    order = []

    class Finalised(KlRenderTexture):
        def __del__(self):
            order.append(("__del__", self.loaded))

    rt = Finalised(KlVector2(8.0, 8.0))
    rl.calls.clear()
    del rt
    assert order == [("__del__", True)]
    assert [call[0] for call in rl.calls] == ["is_window_ready", "unload_render_texture"]


class Plain(KlRenderTexture):
    pass


class WithFinaliser(KlRenderTexture):
    def __del__(self):
        pass


@pytest.mark.parametrize("cls", [KlRenderTexture, Plain, WithFinaliser])
def test_target_in_a_garbage_cycle_unloads_its_own_render_texture(rl, cls):
    # The release step runs before the collector clears render_texture. (A
    # subclass's own __del__ replaces the finaliser that does it first; then
    # it comes before render_texture is cleared, though other members of the
    # cycle may have been cleared already.)
    rt = cls(KlVector2(8.0, 8.0))
    rt.render_texture.owner = rt  # a cycle through the render texture
    held = id(rt.render_texture)
    rl.loaded.clear()
    gc.collect()  # garbage that earlier tests left
    rl.calls.clear()
    del rt
    gc.collect()
    assert [call[0] for call in rl.calls] == ["is_window_ready", "unload_render_texture"]
    assert id(rl.calls[1][1]) == held


def test_kill_override_reached_from_native_callers(rl):
    killed = []

    class Tracked(KlRenderTexture):
        def kill(self):
            killed.append(self)
            KlRenderTexture.kill(self)

    rt = Tracked(KlVector2(8.0, 8.0))
    kl_probe.rt_slot("kill", rt, 0)
    assert killed == [rt] and rt.loaded is False
    rt.loaded = True
    KlRenderTexture.kill(rt)  # the base class's entry always runs the base body
    assert killed == [rt] and rt.loaded is False
    rt.loaded = True
    kl_probe.rt_slot("kill", rt, 1)
    assert killed == [rt]
