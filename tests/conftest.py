"""Fixtures shared by the whole suite.

The tests are grouped in folders by layer, each a package; the helpers they
share are the package `support` beside this file, imported as
`from support.<module> import ...` from every folder.
"""

import gc
import pathlib
import sys
import types

import pytest

from kelo_ui.backends import DRAWING_METHODS
from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.raylib import kelo_raylib

# pytest's default import mode puts this folder on sys.path already; saying so
# here keeps `support` importable whichever mode runs the suite.
_TESTS = str(pathlib.Path(__file__).resolve().parent)
if _TESTS not in sys.path:
    sys.path.insert(0, _TESTS)

# Every method a drawing backend is called with: kelo_raylib's drawing
# functions and the display's fast_blit_pro.
BACKEND_METHODS = DRAWING_METHODS


class RecordingBackend:
    """A drawing backend that records each call as the tuple (name, *args)
    in `calls`. `fail[name] = exception` makes that method raise the given
    exception instance after recording the call."""

    def __init__(self):
        self.calls = []
        self.fail = {}

    def _record(self, name, args):
        self.calls.append((name, *args))
        error = self.fail.get(name)
        if error is not None:
            raise error


def _recorder(name):
    def method(self, *args):
        self._record(name, args)

    method.__name__ = method.__qualname__ = name
    return method


for _name in BACKEND_METHODS:
    setattr(RecordingBackend, _name, _recorder(_name))


@pytest.fixture
def backend():
    """A RecordingBackend installed as kelo_raylib.backend for one test; the
    previous backend is put back afterwards."""
    previous = kelo_raylib.backend
    recorder = RecordingBackend()
    kelo_raylib.backend = recorder
    try:
        yield recorder
    finally:
        kelo_raylib.backend = previous


@pytest.fixture
def rl(monkeypatch):
    """kl_render_tex's module global `md` rebound to a namespace holding a
    RecordingRaylib (the drawing tests' own `rl` is the real binding)."""
    from support.render_tex import RecordingRaylib

    # Targets left in cycles by earlier tests go now, not into this binding.
    gc.collect()
    binding = RecordingRaylib()
    monkeypatch.setattr(kl_render_tex, "md", types.SimpleNamespace(rl=binding))
    return binding
