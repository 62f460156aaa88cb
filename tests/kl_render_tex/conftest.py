"""Fixtures of the KlRenderTexture tests beyond the suite's own."""

import pytest

from support.render_tex import loaded_target


@pytest.fixture
def pair():
    """A destination of 16x16 and a source of 4x2."""
    return loaded_target(16, 16), loaded_target(4, 2)
