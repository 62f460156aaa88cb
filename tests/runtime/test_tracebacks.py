"""Traceback entries that the native functions add for their own frames."""

import traceback

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"


def test_traceback_entries_have_frames_of_their_own():
    rt = KlRenderTexture.__new__(KlRenderTexture)
    frames = []
    for _ in range(2):
        with pytest.raises(AttributeError) as error:
            rt.get_width()
        frames.append(error.value.__traceback__.tb_next.tb_frame)
    # A frame is shared by nothing: what one traceback's user does to it stays there.
    assert frames[0] is not frames[1] and frames[0].f_code is frames[1].f_code
    assert frames[0].f_globals is vars(kl_render_tex)


def test_traceback_entries_name_the_native_path():
    rt = KlRenderTexture.__new__(KlRenderTexture)
    with pytest.raises(AttributeError) as error:
        rt.get_width()
    frames = traceback.extract_tb(error.value.__traceback__)
    native = [(frame.name, frame.filename) for frame in frames if frame.name.startswith("kelo_ui")]
    assert native == [(f"{CLASS}.get_width", "src/kelo_ui/fast/klrendertex/kl_render_tex")] * 2
