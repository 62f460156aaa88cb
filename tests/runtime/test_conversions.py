"""The runtime's conversions at the boundary: C ints from Python objects and
truth values."""

import enum

import pytest

from kelo_ui.fast.probe import kl_probe


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
    [(1, 1), (True, 1), (Flag.ONE, 1), (IntSubclass(5), 5), (1.9, 1), (-1.9, -1), (2**31 - 1, 2**31 - 1),
     (-(2**31), -(2**31))],
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
    with pytest.warns(DeprecationWarning, match=r"^__int__ returned non-int \(type IntSubclass\)\.  The ability "
                                                "to return an instance of a strict subclass of int is deprecated"):
        assert kl_probe.as_int32(ReturnsSubclass()) == 7


def test_int64_conversion():
    assert kl_probe.as_int64(0xD7BABC0) == 226208704
    assert kl_probe.as_int64(-1) == -1
    with pytest.raises(OverflowError):
        kl_probe.as_int64(2**63)
    with pytest.raises(TypeError, match="an integer is required"):
        kl_probe.as_int64(b"1")


def test_truth_values():
    class Falsy:
        def __len__(self):
            return 0

    class Broken:
        def __bool__(self):
            raise ValueError("no")

    assert [kl_probe.truth(v) for v in (True, False, None, 2, [], Falsy())] == [True, False, False, True, False,
                                                                               False]
    with pytest.raises(ValueError):
        kl_probe.truth(Broken())
