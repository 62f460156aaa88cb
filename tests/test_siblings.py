"""The sibling components: KlVector2, KlRect, KlShader, the colours, the
raylib binding's stand-in and the toolkit state."""

import copy
import ctypes
import pickle
import struct
import subprocess
import sys
import textwrap

import pytest

from kelo_ui.core import modules
from kelo_ui.core.state import kelo_state
from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klshader.klshader import KlShader
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.color import Color

TYPES = {"KlVector2": KlVector2, "KlRect": KlRect, "KlShader": KlShader}
is_64_bit = struct.calcsize("P") == 8

capsule_is_valid = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object, ctypes.c_char_p)(
    ("PyCapsule_IsValid", ctypes.pythonapi)
)


def float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


class Vector2Sub(KlVector2):
    pass


# --- records and method tables ----------------------------------------------------


@pytest.mark.skipif(not is_64_bit, reason="the record sizes are those of a 64-bit build")
def test_record_sizes_are_40_bytes_natively_and_for_python():
    assert kl_probe.record_sizes() == {"KlVector2": 40, "KlRect": 40, "KlShader": 40}
    assert {name: t.__basicsize__ for name, t in TYPES.items()} == {name: 40 for name in TYPES}


@pytest.mark.parametrize("name", TYPES)
def test_method_table_is_an_unnamed_capsule_in_the_type_dict(name):
    table = TYPES[name].__dict__["__pyx_vtable__"]
    assert capsule_is_valid(table, None) == 1


@pytest.mark.parametrize("name", TYPES)
def test_types_are_named_and_subclassable(name):
    cls = TYPES[name]
    assert f"{cls.__module__}.{cls.__qualname__}" == f"kelo_ui.fast.{name.lower()}.{name.lower()}.{name}"
    assert issubclass(type(name + "Sub", (cls,), {}), cls)


def test_vector2_new_slot():
    vector = kl_probe.vector2_new(800, 600.5)
    assert type(vector) is KlVector2
    assert (vector.x, vector.y) == (800.0, 600.5)


def test_rect_new_slot_stores_single_precision():
    rect = kl_probe.rect_new(0.1, 2, 3.5, -4)
    assert type(rect) is KlRect
    assert (rect.x, rect.y, rect.w, rect.h) == (float32(0.1), 2.0, 3.5, -4.0)


def test_shader_get_id_slot():
    assert kl_probe.shader_get_id(KlShader(7)) == 7
    with pytest.raises(TypeError):
        kl_probe.shader_get_id(KlVector2())


# --- KlVector2 ------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("args", "kwargs", "expected"),
    [
        ((), {}, (0.0, 0.0)),
        ((1,), {}, (1.0, 0.0)),
        ((800, 600), {}, (800.0, 600.0)),
        ((), {"y": 2.5}, (0.0, 2.5)),
        ((1.5,), {"y": True}, (1.5, 1.0)),
    ],
)
def test_vector2_constructor(args, kwargs, expected):
    vector = KlVector2(*args, **kwargs)
    assert (vector.x, vector.y) == expected
    assert type(vector.x) is float


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        (("1",), {}, "argument 'x' must be a number, not str"),
        ((1, None), {}, "argument 'y' must be a number, not NoneType"),
        ((1, 2, 3), {}, r"^KlVector2\(\) takes at most 2 positional arguments \(3 given\)$"),
        ((), {"z": 1}, "unexpected keyword argument 'z'"),
        ((1,), {"x": 2}, r"^KlVector2\(\) got multiple values for keyword argument 'x'$"),
    ],
)
def test_vector2_constructor_refuses_bad_input(args, kwargs, message):
    with pytest.raises(TypeError, match=message):
        KlVector2(*args, **kwargs)


def test_vector2_attributes():
    vector = KlVector2()
    vector.x = 3
    vector.y = 4.25
    assert (vector.x, vector.y) == (3.0, 4.25)
    with pytest.raises(TypeError, match="must be a number"):
        vector.x = "3"
    with pytest.raises(TypeError, match="cannot be deleted"):
        del vector.y
    assert (vector.x, vector.y) == (3.0, 4.25)


def test_vector2_repr_equality_and_hash():
    assert repr(KlVector2(800, 600)) == "KlVector2(800.0, 600.0)"
    assert repr(Vector2Sub(0.5, -1)) == "Vector2Sub(0.5, -1.0)"
    assert KlVector2(1, 2) == KlVector2(1.0, 2.0) == Vector2Sub(1, 2)
    assert KlVector2(1, 2) != KlVector2(2, 1)
    assert KlVector2(1, 2) != (1.0, 2.0)
    with pytest.raises(TypeError):
        KlVector2(1, 2) < KlVector2(3, 4)
    with pytest.raises(TypeError, match="unhashable"):
        hash(KlVector2())


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_vector2_pickles(protocol):
    vector = KlVector2(800.25, -600)
    clone = pickle.loads(pickle.dumps(vector, protocol))
    assert type(clone) is KlVector2 and clone == vector and clone is not vector


def test_vector2_subclass_pickles_and_copies_with_its_attributes():
    vector = Vector2Sub(1, 2)
    vector.label = "size"
    for clone in (pickle.loads(pickle.dumps(vector)), copy.copy(vector), copy.deepcopy(vector)):
        assert type(clone) is Vector2Sub
        assert clone == vector and clone.label == "size"


def test_vector2_subclass_without_init_still_has_a_record():
    class NoInit(KlVector2):
        def __init__(self):
            pass

    vector = NoInit()
    assert (vector.x, vector.y) == (0.0, 0.0)


# --- KlRect and KlShader ------------------------------------------------------------------


def test_rect_constructor_and_attributes():
    rect = KlRect(1, 2, w=3.5, h=0.1)
    assert (rect.x, rect.y, rect.w, rect.h) == (1.0, 2.0, 3.5, float32(0.1))
    assert (KlRect().x, KlRect().h) == (0.0, 0.0)
    rect.w = 10
    assert rect.w == 10.0
    assert repr(KlRect(0, 0, 800, 600)) == "KlRect(0.0, 0.0, 800.0, 600.0)"
    assert KlRect(1, 2, 3, 4) == kl_probe.rect_new(1, 2, 3, 4) != KlRect(1, 2, 3, 5)
    assert pickle.loads(pickle.dumps(rect)) == rect


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
    assert pickle.loads(pickle.dumps(shader)).id == 5


# --- the Python core -------------------------------------------------------------------------

COLORS = {name: value for name, value in vars(Color).items() if not name.startswith("_")}


@pytest.mark.parametrize("name", COLORS)
def test_colours_are_rgba_tuples(name):
    value = COLORS[name]
    assert type(value) is tuple and len(value) == 4
    assert all(type(channel) is int and 0 <= channel <= 255 for channel in value)


def test_named_colours():
    assert Color.White == (255, 255, 255, 255)
    assert Color.Black == (0, 0, 0, 255)
    assert Color.Blank == (0, 0, 0, 0)
    assert {"Red", "Green", "Blue", "Gray"} <= COLORS.keys()


def test_missing_raylib_binding_says_how_to_install_it():
    # A fresh interpreter in which the binding cannot be imported.
    result = subprocess.run([sys.executable, "-c", textwrap.dedent("""
        import sys
        sys.modules["pyray"] = None
        from kelo_ui.core import modules
        assert not hasattr(modules.rl, "__wrapped__")
        modules.rl.load_render_texture(8, 8)
    """)], capture_output=True, text=True, timeout=60)
    assert result.returncode == 1
    assert "ImportError" in result.stderr and "pip install raylib" in result.stderr


def test_fast_blit_pro_forwards_to_the_backend(backend):
    texture = object()
    display = kelo_state.window.display
    assert display.fast_blit_pro(texture, (1, 2), True, Color.White) is None
    assert backend.calls == [("fast_blit_pro", texture, (1, 2), True, Color.White)]
    backend.fail["fast_blit_pro"] = RuntimeError("blit failed")
    with pytest.raises(RuntimeError, match="blit failed"):
        display.fast_blit_pro(texture, (1, 2, 3, 4), False, None)


def test_fast_blit_pro_without_backend_does_nothing():
    assert kelo_raylib.backend is None
    assert kelo_state.window.display.fast_blit_pro(object(), (0, 0), False, None) is None


def test_window_can_be_replaced(monkeypatch):
    monkeypatch.setattr(kelo_state, "window", None)
    assert kelo_state.window is None
