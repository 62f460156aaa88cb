"""Shared helpers of the KlRenderTexture tests: a recording raylib binding
installed as the module global `md`, and fresh-interpreter runs."""

import gc
import os
import subprocess
import sys
import textwrap
import types

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2


class FakeTexture:
    def __init__(self, width, height):
        self.width = width
        self.height = height


class FakeRenderTexture:
    """What the raylib binding's load_render_texture returns."""

    def __init__(self, width, height, number=0):
        self.texture = FakeTexture(width, height)
        self.id = 100 + number
        self.depth = ("depth", number)

    def __repr__(self):
        return f"FakeRenderTexture({self.texture.width}, {self.texture.height}, id={self.id})"


class RecordingRaylib:
    """A raylib binding that records every call as (name, *args).

    `fail[name] = exception` makes that member raise; `window_ready` is what
    is_window_ready() returns.
    """

    class BlendMode:
        BLEND_ALPHA = 0

    def __init__(self):
        self.calls = []
        self.fail = {}
        self.window_ready = True
        self.loaded = []

    def _record(self, name, *args):
        self.calls.append((name, *args))
        if name in self.fail:
            raise self.fail[name]

    def load_render_texture(self, width, height):
        self._record("load_render_texture", width, height)
        texture = FakeRenderTexture(width, height, len(self.loaded))
        self.loaded.append(texture)
        return texture

    def unload_render_texture(self, render_texture):
        self._record("unload_render_texture", render_texture)

    def is_window_ready(self):
        self._record("is_window_ready")
        return self.window_ready


@pytest.fixture
def rl(monkeypatch):
    """Rebind the module global `md` to a namespace holding a RecordingRaylib."""
    # Targets left in cycles by earlier tests go now, not into this binding.
    gc.collect()
    binding = RecordingRaylib()
    monkeypatch.setattr(kl_render_tex, "md", types.SimpleNamespace(rl=binding))
    return binding


def run_python(code, *flags, env=None):
    """Run `code` in a fresh interpreter; returns the CompletedProcess."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    return subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=full_env,
        timeout=60,
    )


def run_ok(code, *flags):
    """Run `code` in a fresh interpreter and return its stdout; it must succeed."""
    result = run_python(code, *flags)
    assert result.returncode == 0, result.stderr
    return result.stdout


def leaks(function, runs=1000):
    """Blocks still allocated after `runs` more calls of `function`, once warm.

    A reference leaked per call shows as at least `runs`; free lists and
    caches settle within the warm-up.
    """
    for _ in range(300):
        function()
    before = sys.getallocatedblocks()
    for _ in range(runs):
        function()
    return sys.getallocatedblocks() - before


def loaded_target(width=8, height=8, cls=KlRenderTexture):
    """A loaded target around a FakeRenderTexture, made without the binding."""
    rt = cls.__new__(cls)
    rt.render_texture = FakeRenderTexture(width, height)
    rt.size = KlVector2(float(width), float(height))
    rt.loaded = True
    return rt
