"""The runtime's conversions at the boundary: C ints from Python objects and
truth values."""

import enum

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

from kelo_ui.fast.probe import kl_probe
from support.render_tex import loaded_target

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract


class IntSubclass(int):
    pass


class ReturnsSubclass:
    def __int__(self):
        return IntSubclass(7)


class ReturnsFloat:
    def __int__(self):
        return 7.5


class Flag(enum.IntEnum):
    ONE = 1


@pytest.mark.parametrize(
    "value, expected",
    [
        (1, 1),
        (True, 1),
        (Flag.ONE, 1),
        (IntSubclass(5), 5),
        (1.9, 1),
        (-1.9, -1),
        (2**31 - 1, 2**31 - 1),
        (-(2**31), -(2**31)),
    ],
)
def test_int32_conversion(value, expected):
    assert kl_probe.as_int32(value) == expected


@pytest.mark.parametrize(
    "value, error, message",
    [
        ("1", TypeError, "an integer is required"),
        (None, TypeError, "an integer is required"),
        (2**31, OverflowError, "value too large to convert to int"),
        (-(2**31) - 1, OverflowError, "value too large to convert to int"),
        (2**100, OverflowError, "value too large to convert to int"),
        (ReturnsFloat(), TypeError, "__int__ returned non-int (type float)"),
        (float("inf"), OverflowError, None),
    ],
)
def test_int32_conversion_errors(value, error, message):
    with pytest.raises(error) as raised:
        kl_probe.as_int32(value)
    if message is not None:
        assert str(raised.value) == message


def test_int_subclass_from_dunder_int_is_deprecated():
    with pytest.warns(
        DeprecationWarning,
        match=r"^__int__ returned non-int \(type IntSubclass\)\.  The ability "
        "to return an instance of a strict subclass of int is deprecated",
    ):
        assert kl_probe.as_int32(ReturnsSubclass()) == 7


def test_int64_conversion():
    assert kl_probe.as_int64(0xD7BABC0) == 226208704
    assert kl_probe.as_int64(-1) == -1
    with pytest.raises(OverflowError):
        kl_probe.as_int64(2**63)
    with pytest.raises(TypeError, match="an integer is required"):
        kl_probe.as_int64(b"1")


# --- truth values ----------------------------------------------------------------


class Sized:
    """Truth from __len__ (a negative or huge length makes bool() raise)."""

    def __init__(self, length):
        self.length = length

    def __len__(self):
        return self.length

    def __repr__(self):
        return f"Sized({self.length})"


class Truthy:
    """Truth from __bool__, which may return what is not a bool."""

    def __init__(self, value):
        self.value = value

    def __bool__(self):
        return self.value

    def __repr__(self):
        return f"Truthy({self.value!r})"


class Refusing:
    def __bool__(self):
        raise LookupError("no truth")


ANYTHING = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.floats(),
    st.complex_numbers(),
    st.text(max_size=2),
    st.binary(max_size=2),
    st.lists(st.none(), max_size=2),
    st.tuples(st.integers()),
    st.just(()),
    st.dictionaries(st.integers(), st.none(), max_size=1),
    st.frozensets(st.integers(), max_size=1),
    st.fractions(),
    st.decimals(allow_nan=False),
    st.sampled_from([Flag.ONE, IntSubclass(0), object(), Refusing()]),
    st.one_of(st.integers(-2, 2), st.just(2**70)).map(Sized),
    st.sampled_from([True, False, 1, None]).map(Truthy),
)


def flag(value):
    """A flip as a drawing backend receives it: 1 or 0."""
    assert type(value) is int and value in (0, 1)
    return value == 1


def drawn(backend, name):
    """The one call of `name` the backend received."""
    [call] = [call for call in backend.calls if call[0] == name]
    return call


def probe_truth(value, dst, src, backend):
    return kl_probe.truth(value)


def take_loaded(value, dst, src, backend):
    dst.loaded = value
    return dst.loaded


def restore_loaded(value, dst, src, backend):
    dst.__setstate__((value, None, None))
    return dst.loaded


def blit(value, dst, src, backend):
    dst.blit(src, (0, 0), 0, value)
    return flag(drawn(backend, "c_draw_texture_vec")[4])


def fast_blit(value, dst, src, backend):
    dst.fast_blit(src, (0, 0), value)
    return flag(drawn(backend, "c_draw_texture_vec")[4])


def blit_texture(value, dst, src, backend):
    dst.blit_texture("tex", (0, 0), 0, value)
    flip = drawn(backend, "fast_blit_pro")[3]
    assert type(flip) is bool
    return flip


def fast_blit_texture(value, dst, src, backend):
    dst.fast_blit_texture("tex", (0, 0), value)
    flip = drawn(backend, "fast_blit_pro")[3]
    assert type(flip) is bool
    return flip


def fast_blits(value, dst, src, backend):
    dst.fast_blits([(src, (0, 0), value)])
    return flag(drawn(backend, "c_draw_texture_vec")[4])


def copy(value, dst, src, backend):
    src.copy(value)
    return flag(drawn(backend, "c_draw_texture_vec")[4])


# Every place that takes a truth value, and what it made of it.
TRUTH_TAKERS = [
    probe_truth,
    take_loaded,
    restore_loaded,
    blit,
    fast_blit,
    blit_texture,
    fast_blit_texture,
    fast_blits,
    copy,
]


@pytest.mark.parametrize("take", TRUTH_TAKERS, ids=[take.__name__ for take in TRUTH_TAKERS])
@settings(derandomize=True, database=None, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(value=ANYTHING)
@example(value=Sized(0)).via("falsy by length")
@example(value=Sized(-1)).via("a length that bool() refuses")
@example(value=Truthy(1)).via("__bool__ returning an int")
@example(value=Refusing()).via("__bool__ raising")
def test_truth_is_what_bool_makes_of_it(backend, rl, take, value):
    backend.calls.clear()
    try:
        expected = bool(value)
    except Exception as error:
        with pytest.raises(type(error)) as raised:
            take(value, loaded_target(16, 16), loaded_target(4, 2), backend)
        assert str(raised.value) == str(error)
    else:
        assert take(value, loaded_target(16, 16), loaded_target(4, 2), backend) is expected
