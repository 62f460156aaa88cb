"""The runtime's function objects, seen through KlRenderTexture's methods and
the module's unpickling function: introspection, defaults, binding and
pickling."""

import inspect
import pickle

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.presentation.color import Color

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

MODULE = "kelo_ui.fast.klrendertex.kl_render_tex"

METHODS = [
    # name, parameters after self, __defaults__
    ("blit", ["kl_texture", "dest", "blend_mode", "flip", "color"], (0, True, Color.White)),
    ("fast_blit", ["kl_texture", "dest", "flip", "color"], (True, Color.White)),
    ("blit_texture", ["texture", "dest", "blend_mode", "flip", "color"], (0, True, Color.White)),
    ("fast_blit_texture", ["texture", "dest", "flip", "color"], (True, Color.White)),
    ("clear", ["color"], None),
    ("fast_clear", ["color"], None),
    ("fill", ["color"], None),
    ("kill", [], None),
    ("get_rect", [], None),
    ("get_height", [], None),
    ("get_width", [], None),
    ("copy", ["flip"], (True,)),
    ("__enter__", [], None),
    ("__exit__", ["exc_type", "exc_val", "exc_tb"], None),
    ("fast_blits", ["blits"], None),
    ("blits", ["blits", "blend_mode"], (0,)),
    ("blit_region", ["kl_texture", "area", "dest", "blend_mode", "flip", "color"], (0, True, Color.White)),
    ("fast_blit_region", ["kl_texture", "area", "dest", "flip", "color"], (True, Color.White)),
]


@pytest.mark.parametrize("name, params, defaults", METHODS)
def test_method_introspection(name, params, defaults):
    function = KlRenderTexture.__dict__[name]
    assert function.__name__ == name
    assert function.__qualname__ == f"KlRenderTexture.{name}"
    assert function.__module__ == MODULE
    assert function.__doc__ is None
    assert function.__defaults__ == defaults
    assert function.__kwdefaults__ is None
    expected_annotations = {"texture": "object"} if name in ("blit_texture", "fast_blit_texture") else {}
    assert function.__annotations__ == expected_annotations
    assert function.__code__.co_varnames == ("self", *params)
    assert function.__code__.co_argcount == len(params) + 1
    signature = inspect.signature(function)
    assert list(signature.parameters) == ["self", *params]
    shown_defaults = tuple(p.default for p in signature.parameters.values() if p.default is not inspect.Parameter.empty)
    assert shown_defaults == (defaults or ())


def test_defaults_are_the_objects_read_at_import():
    # The shown default is Color.White itself, not a copy.
    assert KlRenderTexture.blit.__defaults__[2] is Color.White
    assert KlRenderTexture.copy.__defaults__ is KlRenderTexture.copy.__defaults__


def test_function_objects_bind_like_python_functions():
    rt = KlRenderTexture.__new__(KlRenderTexture)
    bound = rt.get_width
    assert bound.__self__ is rt
    assert bound.__func__ is KlRenderTexture.get_width
    assert KlRenderTexture.get_width.__get__(None, KlRenderTexture) is KlRenderTexture.get_width
    assert repr(KlRenderTexture.kill).startswith("<function KlRenderTexture.kill at ")
    static = KlRenderTexture.from_rl_render_texture
    assert static is rt.from_rl_render_texture
    assert static.__qualname__ == "KlRenderTexture.from_rl_render_texture"
    assert inspect.signature(static).parameters.keys() == {"rl_render_texture"}
    unpickle = kl_render_tex.__pyx_unpickle_KlRenderTexture
    assert unpickle.__qualname__ == "__pyx_unpickle_KlRenderTexture"
    assert unpickle.__code__.co_varnames == ("__pyx_type", "__pyx_checksum", "__pyx_state")


def test_function_objects_pickle_by_reference():
    assert pickle.loads(pickle.dumps(kl_render_tex.__pyx_unpickle_KlRenderTexture)) is (
        kl_render_tex.__pyx_unpickle_KlRenderTexture
    )
