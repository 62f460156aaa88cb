"""Fixtures of the tests that draw for real in this process (the pixel tests):
the window they draw under, raylib, and a first picture."""

import pytest

from kelo_ui.core import modules
from kelo_ui.window import context
from support.display import BLUE, RED, drawing_window, target


@pytest.fixture(scope="module")
def window():
    """One window for a module that asks for it; closed again at the module's
    end, so that the next module finds none."""
    with drawing_window() as window:
        yield window


@pytest.fixture
def no_scope_left(window):
    """Each test ends with no scope open."""
    yield
    assert context.open_scopes() == 0


@pytest.fixture
def rl():
    return modules.rl


@pytest.fixture
def stripes(rl):
    """STRIPES drawn with raylib itself, so that no toolkit blit is involved."""
    rt = target(2, 2, RED)
    with rt:
        rl.draw_rectangle(0, 0, 2, 1, BLUE)
    return rt
