"""Copying a render target against the recording drawing backend and raylib
binding: a new target drawn by a blit of this one."""

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from support.blits import BEGUN, CLASS, WHITE, Mode, scoped, traceback_names, vec
from support.render_tex import loaded_target

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract


# --- copy -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, flip",
    [
        ((), {}, 1),
        ((True,), {}, 1),
        ((False,), {}, 0),
        ((None,), {}, 0),
        ((0,), {}, 0),
        ((), {"flip": []}, 0),
        ((2,), {}, 1),
    ],
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
    assert [c for c in backend.calls if c[0] == "begin_blend_mode"] == [
        ("begin_blend_mode", 0),
        ("begin_blend_mode", 1),
    ]
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
    assert [c[0] for c in rl.calls if c[0] != "is_window_ready"].count("unload_render_texture") == len(rl.loaded)


def test_copy_refuses_extra_arguments(rl):
    src = loaded_target()
    with pytest.raises(TypeError, match=r"^copy\(\) takes at most 1 positional argument \(2 given\)$"):
        src.copy(True, False)
    with pytest.raises(TypeError, match="^copy\\(\\) got an unexpected keyword argument 'flipped'$"):
        src.copy(flipped=True)
    assert rl.calls == []
