"""What the native value types share: record sizes, method tables, names and
subclassing, the slots that other native modules call, and round trips
through pickle and copy."""

import copy
import ctypes
import pickle
import struct

import pytest

from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klshader.klshader import KlShader
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

TYPES = {"KlVector2": KlVector2, "KlRect": KlRect, "KlShader": KlShader}
is_64_bit = struct.calcsize("P") == 8

capsule_is_valid = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object, ctypes.c_char_p)(
    ("PyCapsule_IsValid", ctypes.pythonapi)
)


def float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


@pytest.mark.skipif(not is_64_bit, reason="the record sizes are those of a 64-bit build")
def test_record_sizes_are_40_bytes_natively_and_for_python():
    assert kl_probe.record_sizes() == {"KlVector2": 40, "KlRect": 40, "KlShader": 40}
    assert {name: t.__basicsize__ for name, t in TYPES.items()} == {name: 40 for name in TYPES}


@pytest.mark.parametrize("name", TYPES)
def test_method_table_is_an_unnamed_capsule_in_the_type_dict(name):
    table = TYPES[name].__dict__["__pyx_vtable__"]
    assert capsule_is_valid(table, None) == 1


@pytest.mark.parametrize("name, hashable", [("KlVector2", False), ("KlRect", False), ("KlShader", True)])
def test_types_are_named_and_subclassable(name, hashable):
    cls = TYPES[name]
    assert f"{cls.__module__}.{cls.__qualname__}" == f"kelo_ui.fast.{name.lower()}.{name.lower()}.{name}"
    assert issubclass(type(name + "Sub", (cls,), {}), cls)
    # Those that compare by value are not hashable; the shader keeps identity.
    assert (cls.__hash__ is not None) == hashable


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


# --- round trips ------------------------------------------------------------------


class Vector2Sub(KlVector2):
    pass


def labelled(value):
    value.label = "kept"
    return value


FIELDS = {KlVector2: ("x", "y"), KlRect: ("x", "y", "w", "h"), KlShader: ("id",)}
VALUES = {
    "KlVector2": lambda: KlVector2(800.25, -600),
    "KlRect": lambda: KlRect(1, 2, 3.5, 0.1),
    "KlShader": lambda: KlShader(2**32 - 1),
    "subclass-with-attributes": lambda: labelled(Vector2Sub(1, 2)),
}
WAYS = {
    f"pickle-{protocol}": lambda value, protocol=protocol: pickle.loads(pickle.dumps(value, protocol))
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1)
}
WAYS.update(copy=copy.copy, deepcopy=copy.deepcopy)


def contents(value):
    """The type, the record's fields and the instance dictionary (if any)."""
    record_type = next(kind for kind in FIELDS if isinstance(value, kind))
    return type(value), [getattr(value, name) for name in FIELDS[record_type]], getattr(value, "__dict__", None)


@pytest.mark.parametrize("way", WAYS.values(), ids=WAYS.keys())
@pytest.mark.parametrize("make", VALUES.values(), ids=VALUES.keys())
def test_round_trips_give_an_equal_new_value(make, way):
    value = make()
    clone = way(value)
    assert clone is not value
    assert contents(clone) == contents(value)
