"""The named colours."""

import pytest

from kelo_ui.presentation.color import Color


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
