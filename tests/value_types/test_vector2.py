"""KlVector2: construction, attributes, repr and equality."""

import pytest

from kelo_ui.fast.klvector2.klvector2 import KlVector2

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract


class Vector2Sub(KlVector2):
    pass


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
    vector = KlVector2(7, 8)
    with pytest.raises(TypeError, match=message):
        vector.__init__(*args, **kwargs)
    assert vector == KlVector2(7, 8)  # a refused call changes nothing


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
        _ = KlVector2(1, 2) < KlVector2(3, 4)
    with pytest.raises(TypeError, match="unhashable"):
        hash(KlVector2())


def test_vector2_subclass_without_init_still_has_a_record():
    class NoInit(KlVector2):
        def __init__(self):
            pass

    vector = NoInit()
    assert (vector.x, vector.y) == (0.0, 0.0)
