"""kelo_ui.core: the raylib binding's stand-in and the toolkit state."""

import subprocess
import sys

import pytest

from kelo_ui.core import heap
from kelo_ui.core.state import kelo_state
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.color import Color
from support.children import run_python


def test_missing_raylib_binding_says_how_to_install_it():
    # A fresh interpreter in which the binding cannot be imported.
    result = run_python("modules", "without_the_raylib_binding")
    assert result.returncode == 1
    assert "ImportError" in result.stderr and "pip install raylib" in result.stderr


def test_the_package_loads_its_names_when_first_used():
    loaded, same = run_python("modules", "the_package_alone").stdout.splitlines()
    assert (loaded, same) == ("[]", "True")


def test_fast_blit_pro_forwards_to_the_backend(backend):
    texture = object()
    display = kelo_state.window.display
    assert display.fast_blit_pro(texture, (1, 2), True, Color.White) is None
    assert backend.calls == [("fast_blit_pro", texture, (1, 2), True, Color.White)]
    backend.fail["fast_blit_pro"] = RuntimeError("blit failed")
    with pytest.raises(RuntimeError, match="blit failed"):
        display.fast_blit_pro(texture, (1, 2, 3, 4), False, None)


def test_fast_blit_pro_without_a_window(monkeypatch):
    # The window context refuses; a backend of None draws nothing.
    assert kelo_raylib.backend is kelo_raylib.context and kelo_state.window.is_open is False
    with pytest.raises(RuntimeError, match="^fast_blit_pro: no window is open"):
        kelo_state.window.display.fast_blit_pro(object(), (0, 0), False, None)
    monkeypatch.setattr(kelo_raylib, "backend", None)
    assert kelo_state.window.display.fast_blit_pro(object(), (0, 0), False, None) is None


def test_an_allocation_without_a_window_is_refused_as_atlas_allocate():
    from kelo_ui.atlas import Atlas
    from kelo_ui.fast.klvector2.klvector2 import KlVector2

    with pytest.raises(RuntimeError, match="^Atlas.allocate: no window is open"):
        Atlas(KlVector2(16, 16)).allocate(KlVector2(4, 4))


def _modules():
    import pkgutil

    import kelo_ui

    return [m.name for m in pkgutil.walk_packages(kelo_ui.__path__, "kelo_ui.") if m.name != "kelo_ui.__main__"]


def test_every_module_imports_first():
    # Whichever module a program imports first, the toolkit's modules that
    # import each other (the state and the window among them) must load.
    failed = {}
    for name in _modules():
        result = subprocess.run([sys.executable, "-c", f"import {name}"], capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            failed[name] = result.stderr.strip().splitlines()[-1]
    assert failed == {}


class FakeLibc:
    """glibc's two heap calls, recorded; mallopt answers `accepts`."""

    def __init__(self, accepts):
        self.accepts, self.calls = accepts, []

    def mallopt(self, option, value):
        self.calls.append(("mallopt", option, value))
        return int(self.accepts)

    def malloc_trim(self, pad):
        self.calls.append(("malloc_trim", pad))
        return 1


@pytest.mark.parametrize(
    "libc, started_with, calls",
    [
        (FakeLibc(True), None, [("mallopt", -1, 64 << 20), ("mallopt", -1, 128 << 10), ("malloc_trim", 0)]),
        (FakeLibc(True), "4096", [("mallopt", -1, 64 << 20), ("mallopt", -1, 4096), ("malloc_trim", 0)]),
        (FakeLibc(True), "junk", [("mallopt", -1, 64 << 20), ("mallopt", -1, 128 << 10), ("malloc_trim", 0)]),
        (FakeLibc(False), None, [("mallopt", -1, 64 << 20)]),  # refused: nothing to put back
        (None, None, []),  # not glibc
    ],
)
def test_heap_pinned_and_put_back(monkeypatch, libc, started_with, calls):
    monkeypatch.setattr(heap, "_glibc", lambda: libc)
    if started_with is None:
        monkeypatch.delenv("MALLOC_TRIM_THRESHOLD_", raising=False)
    else:
        monkeypatch.setenv("MALLOC_TRIM_THRESHOLD_", started_with)
    unpin = heap.pin()
    assert (unpin is None) == (len(calls) < 2)
    if unpin is not None:
        unpin()
    assert (libc.calls if libc else []) == calls
