"""Blits against the recording drawing backend, by their source: its own
height and width, its render texture, a target blitting into itself; native
callers of the slots and the object's table; the default tints."""

import pytest

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from support.blits import BEGUN, RED, WHITE, pro, rec, scoped, vec
from support.children import run_ok
from support.render_tex import loaded_target

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract


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
    assert [c[0] for c in backend.calls] == [
        "begin_texture_mode",
        "c_draw_texture_vec",
        *BEGUN,
        "c_draw_texture_vec",
        "end_texture_mode",
        "end_blend_mode",
        "end_texture_mode",
    ]


# --- native callers and the object's table ---------------------------------------


def test_native_callers_of_slots_0_and_1(backend, pair):
    dst, src = pair
    kl_probe.rt_slot("c_fast_blit", dst, src, (1, 2), 7, None)
    kl_probe.rt_slot("c_fast_blit", dst, src, [1, 2, 3, 4], 0, RED)  # any sized dest from a native caller
    kl_probe.rt_slot("c_fast_blit_texture", dst, "tex", (1, 2, 3), 5, RED)
    assert backend.calls == [
        vec(src, (1, 2), None, 7),
        rec(src, (0, 0, 4.0, 2.0), [1, 2, 3, 4], RED),
        pro("tex", (1, 2, 3), True, RED),
    ]
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
    assert log == [
        ("c_fast_blit", src, (1, 2), 1, WHITE),
        ("c_fast_blit", src, (3, 4), 0, None),
        ("c_fast_blit_texture", "tex", None, 1, WHITE),
        ("c_fast_blit_texture", "tex", (5, 6), 1, WHITE),
    ]
    assert [c[0] for c in backend.calls] == [*BEGUN, "end_texture_mode", "end_blend_mode"] * 2


def test_default_tints_are_the_ones_read_at_import():
    output = run_ok("render_tex", "default_tints_read_at_import")
    assert output.splitlines() == ["c_draw_texture_vec None", "fast_blit_pro (None,)"]
