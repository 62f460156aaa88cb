"""The named colours: RGBA tuples, and raylib's own palette."""

import pytest

from kelo_ui.presentation.color import Color

COLORS = {name: value for name, value in vars(Color).items() if not name.startswith("_")}


@pytest.mark.parametrize("name", COLORS)
def test_colours_are_rgba_tuples(name):
    value = COLORS[name]
    assert type(value) is tuple and len(value) == 4
    assert all(type(channel) is int and 0 <= channel <= 255 for channel in value)


def test_the_colours_are_raylibs_palette():
    # The binding names its colours in capitals (RAYWHITE for RayWhite).
    pyray = pytest.importorskip("pyray")
    palette = {
        name: value
        for name, value in vars(pyray).items()
        if type(value) is tuple and len(value) == 4 and all(type(channel) is int for channel in value)
    }
    assert {name.upper(): value for name, value in COLORS.items()} == palette
