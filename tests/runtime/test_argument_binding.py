"""Argument binding of the native functions, seen through KlRenderTexture's
methods: arity and keyword messages, keyword binding, and the type test of
the instance argument."""

import pytest

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from support.render_tex import sized_target

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"


@pytest.mark.parametrize("name", ["get_width", "get_height", "get_rect", "kill", "__enter__"])
def test_binding_of_methods_without_parameters(name):
    rt = sized_target()
    method = getattr(rt, name)
    with pytest.raises(TypeError) as error:
        method(1)
    assert str(error.value) == f"{name}() takes exactly 0 positional arguments (1 given)"
    with pytest.raises(TypeError) as error:
        method(2, 3)
    assert str(error.value) == f"{name}() takes exactly 0 positional arguments (2 given)"
    with pytest.raises(TypeError) as error:
        method(color=1, other=2)
    assert str(error.value) == f"{name}() got an unexpected keyword argument 'color'"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda rt: rt.clear(), "clear() takes exactly 1 positional argument (0 given)"),
        (lambda rt: rt.fill(None, None), "fill() takes exactly 1 positional argument (2 given)"),
        (lambda rt: rt.clear(colour=None), "clear() takes exactly 1 positional argument (0 given)"),
        (lambda rt: rt.clear(None, colour=None), "clear() got an unexpected keyword argument 'colour'"),
        (lambda rt: rt.fast_clear(None, color=None), "fast_clear() got multiple values for keyword argument 'color'"),
        (lambda rt: rt.__exit__(None, exc_tb=None), "__exit__() takes exactly 3 positional arguments (1 given)"),
        (lambda rt: rt.__exit__(1, 2, 3, 4), "__exit__() takes exactly 3 positional arguments (4 given)"),
        (lambda rt: KlRenderTexture.get_width(), "get_width() needs an argument"),
        (lambda rt: KlRenderTexture.clear(color=None), "clear() needs an argument"),
        (
            lambda rt: KlRenderTexture.get_width(5),
            f"descriptor 'get_width' for '{CLASS}' objects doesn't apply to a 'int' object",
        ),
        (
            lambda rt: KlRenderTexture.kill(None),
            f"descriptor 'kill' for '{CLASS}' objects doesn't apply to a 'NoneType' object",
        ),
        (
            lambda rt: KlRenderTexture.from_rl_render_texture(),
            "from_rl_render_texture() takes exactly 1 positional argument (0 given)",
        ),
        (lambda rt: KlRenderTexture(), "__init__() takes exactly 1 positional argument (0 given)"),
        (lambda rt: KlRenderTexture(1, 2), "__init__() takes exactly 1 positional argument (2 given)"),
        (lambda rt: KlRenderTexture(sz=1), "__init__() takes exactly 1 positional argument (0 given)"),
        (lambda rt: KlRenderTexture(None, size=1), "__init__() got multiple values for keyword argument 'size'"),
    ],
)
def test_argument_binding_messages(call, message):
    with pytest.raises(TypeError) as error:
        call(sized_target())
    assert str(error.value) == message


@pytest.mark.usefixtures("backend")
def test_keyword_arguments_bind_by_name():
    rt = sized_target()
    assert rt.__exit__(exc_tb=None, exc_val=None, exc_type=None) is None
    assert rt.fast_clear.__func__ is KlRenderTexture.fast_clear


METHOD_NAMES = [
    "blit",
    "fast_blit",
    "blit_texture",
    "fast_blit_texture",
    "clear",
    "fast_clear",
    "fill",
    "kill",
    "get_rect",
    "get_height",
    "get_width",
    "copy",
    "__enter__",
    "__exit__",
    "__reduce__",
    "__setstate__",
    "fast_blits",
    "blits",
    "blit_region",
    "fast_blit_region",
]


@pytest.mark.parametrize("name", METHOD_NAMES)
@pytest.mark.parametrize("stranger", [5, None, KlVector2(1.0, 2.0), "rt"])
def test_no_method_reads_a_stranger_as_a_record(name, stranger):
    function = KlRenderTexture.__dict__[name]
    with pytest.raises(TypeError) as error:
        function(stranger, None, None, None)
    kind = type(stranger)
    kind_name = kind.__name__ if kind.__module__ == "builtins" else f"{kind.__module__}.{kind.__name__}"
    assert str(error.value) == f"descriptor '{name}' for '{CLASS}' objects doesn't apply to a '{kind_name}' object"


@pytest.mark.usefixtures("backend")
@pytest.mark.parametrize("name", METHOD_NAMES)
def test_junk_arguments_raise_cleanly(name):
    rt = KlRenderTexture.__new__(KlRenderTexture)
    method = getattr(rt, name)
    for args, kwargs in [((), {}), ((object(),), {}), ((1,) * 7, {}), ((), {"bogus": 1}), ((None, None), {})]:
        try:
            method(*args, **kwargs)
        except (TypeError, AssertionError, AttributeError, NotImplementedError, NameError, ImportError):
            pass
