"""KlRect and KlShader: construction, attributes, repr and equality."""

import struct

import pytest

from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klshader.klshader import KlShader
from kelo_ui.fast.probe import kl_probe

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract


def float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def test_rect_constructor_and_attributes():
    rect = KlRect(1, 2, w=3.5, h=0.1)
    assert (rect.x, rect.y, rect.w, rect.h) == (1.0, 2.0, 3.5, float32(0.1))
    assert (KlRect().x, KlRect().h) == (0.0, 0.0)
    rect.w = 10
    assert rect.w == 10.0
    assert repr(KlRect(0, 0, 800, 600)) == "KlRect(0.0, 0.0, 800.0, 600.0)"
    assert KlRect(1, 2, 3, 4) == kl_probe.rect_new(1, 2, 3, 4) != KlRect(1, 2, 3, 5)


@pytest.mark.parametrize(
    ("call", "error"),
    [
        (lambda: KlRect(1, 2, 3, "4"), TypeError),
        (lambda: KlRect(1, 2, 3, 4, 5), TypeError),
        (lambda: KlRect(q=1), TypeError),
        (lambda: setattr(KlRect(), "x", None), TypeError),
        (lambda: delattr(KlRect(), "h"), TypeError),
        (lambda: KlShader(-1), OverflowError),
        (lambda: KlShader(2**32), OverflowError),
        (lambda: KlShader(1.0), TypeError),
        (lambda: KlShader(1, 2), TypeError),
        (lambda: delattr(KlShader(), "id"), TypeError),
    ],
)
def test_rect_and_shader_refuse_bad_input(call, error):
    with pytest.raises(error):
        call()


def test_shader():
    assert KlShader().id == 0
    shader = KlShader(id=2**32 - 1)
    assert shader.id == 2**32 - 1
    shader.id = 5
    assert repr(shader) == "KlShader(id=5)"
