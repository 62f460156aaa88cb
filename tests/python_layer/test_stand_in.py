"""What stands in for a missing display: which raylib build is installed, and
the environment that SDL's offscreen driver is chosen through. No window
opens here."""

import os
import sys

import pytest

from kelo_ui.core import virtual_display
from kelo_ui.core.virtual_display import OffscreenDisplay, VirtualDisplay


@pytest.fixture
def site(tmp_path, monkeypatch):
    """A site-packages holding a stand-in raylib module, found first; returns
    a function that adds dist-info folders and says whether its binding has
    GLFW's functions."""
    monkeypatch.syspath_prepend(str(tmp_path))
    monkeypatch.delitem(sys.modules, "raylib", raising=False)

    def make(dist_infos, glfw):
        (tmp_path / "raylib").mkdir()
        (tmp_path / "raylib" / "__init__.py").write_text(
            "class rl:\n    glfwInit = None\n" if glfw else "class rl:\n    pass\n"
        )
        for name in dist_infos:
            (tmp_path / name).mkdir()

    return make


@pytest.mark.parametrize(
    "dist_infos, glfw, sdl",
    [
        (["raylib-6.2.0.0.dist-info"], True, False),
        (["raylib_sdl-6.2.0.0.dist-info"], False, True),
        # A build without metadata (from source): taken for the GLFW one.
        ([], False, False),
        # Both installed, the later over the other's files: the C library decides.
        (["raylib-6.2.0.0.dist-info", "raylib_sdl-6.2.0.0.dist-info"], True, False),
        (["raylib-6.2.0.0.dist-info", "raylib_sdl-6.2.0.0.dist-info"], False, True),
        # Another package's metadata beside it is no binding.
        (["raylib_tools-1.0.dist-info"], False, False),
    ],
    ids=["glfw", "sdl", "no-metadata", "both-glfw-won", "both-sdl-won", "other-package"],
)
def test_which_binding(site, dist_infos, glfw, sdl):
    site(dist_infos, glfw)
    assert virtual_display.sdl_binding() is sdl
    assert type(virtual_display.stand_in()) is (OffscreenDisplay if sdl else VirtualDisplay)


@pytest.mark.parametrize(
    "environment, sdl, wanted",
    [
        ({}, False, True),
        ({}, True, True),
        ({"DISPLAY": ":0"}, True, False),
        ({"DISPLAY": ":0"}, False, False),
        # SDL opens its window on a Wayland compositor itself; GLFW's build needs X.
        ({"WAYLAND_DISPLAY": "wayland-0"}, True, False),
        ({"WAYLAND_DISPLAY": "wayland-0"}, False, True),
    ],
)
def test_wanted(monkeypatch, environment, sdl, wanted):
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        monkeypatch.delenv(name, raising=False)
    for name, value in environment.items():
        monkeypatch.setenv(name, value)
    monkeypatch.setattr(virtual_display, "sdl_binding", lambda: sdl)
    assert virtual_display.wanted() is (wanted and sys.platform.startswith("linux"))


@pytest.fixture
def egl(monkeypatch):
    """ctypes.CDLL as if EGL were installed, on any machine."""
    loaded = []
    monkeypatch.setattr(virtual_display.ctypes, "CDLL", loaded.append)
    return loaded


DRIVERS = ("SDL_VIDEODRIVER", "SDL_VIDEO_DRIVER")


@pytest.mark.parametrize(
    "before, during",
    [
        ({}, {"SDL_VIDEODRIVER": "offscreen"}),
        # A driver the process chose itself is left alone, under either name.
        ({"SDL_VIDEODRIVER": "x11"}, {"SDL_VIDEODRIVER": "x11"}),
        ({"SDL_VIDEO_DRIVER": "wayland"}, {"SDL_VIDEO_DRIVER": "wayland"}),
        ({"SDL_VIDEODRIVER": ""}, {"SDL_VIDEODRIVER": "offscreen"}),
    ],
)
@pytest.mark.parametrize("end", ["stop", "forget"])
def test_offscreen_environment(monkeypatch, egl, before, during, end):
    for name in DRIVERS:
        monkeypatch.delenv(name, raising=False)
    for name, value in before.items():
        monkeypatch.setenv(name, value)
    server = OffscreenDisplay()
    server.start(64, 64)
    assert egl == ["libEGL.so.1"]
    assert {name: os.environ[name] for name in DRIVERS if name in os.environ} == during
    getattr(server, end)()
    assert {name: os.environ[name] for name in DRIVERS if name in os.environ} == before
    os.environ["SDL_VIDEODRIVER"] = "changed later"
    server.stop()  # again, or after a fork's forget: changes nothing
    assert os.environ["SDL_VIDEODRIVER"] == "changed later"


def test_offscreen_without_egl(monkeypatch):
    def refuse(name):
        raise OSError(f"{name}: cannot open shared object file")

    monkeypatch.setattr(virtual_display.ctypes, "CDLL", refuse)
    monkeypatch.delenv("SDL_VIDEODRIVER", raising=False)
    with pytest.raises(RuntimeError, match=r"EGL could not be loaded \(libEGL.so.1: .*apt-get install libegl1"):
        OffscreenDisplay().start()
    assert "SDL_VIDEODRIVER" not in os.environ
