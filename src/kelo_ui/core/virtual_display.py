"""What stands in for a display when the process has none.

raylib's GLFW build (the PyPI package `raylib`) opens its window through X11;
on a machine without a screen the toolkit starts a private Xvfb for the
process, points `DISPLAY` at it while it runs, and stops it afterwards.
raylib's SDL build (the PyPI package `raylib-sdl`) needs no X server: SDL's
offscreen video driver makes its window an EGL surface in memory. Mesa's
software OpenGL does the drawing either way.
"""

from __future__ import annotations

import ctypes
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path
from typing import IO

INSTALL_HINT = (
    "install Xvfb (Debian or Ubuntu: `apt-get install xvfb libgl1-mesa-dri`; the kelo_ui sources' "
    "scripts/setup-display does it) or set DISPLAY to a running X server"
)

OFFSCREEN_INSTALL_HINT = (
    "raylib's SDL build draws offscreen through EGL: install Mesa's EGL and software OpenGL (Debian or "
    "Ubuntu: `apt-get install libegl1 libgl1 libgl1-mesa-dri`), or set DISPLAY to a running X server"
)

START_TIMEOUT = 20.0


def _binding_distributions() -> set[str]:
    """The distributions of the raylib binding that are installed, read from
    their metadata beside the module: importlib.metadata is slow to import."""
    import importlib.util

    spec = importlib.util.find_spec("raylib")
    if spec is None or not spec.submodule_search_locations:
        return set()
    found = set()
    for folder in {Path(location).parent for location in spec.submodule_search_locations}:
        for name, prefix in (("raylib", "raylib-"), ("raylib-sdl", "raylib_sdl-")):
            if any(folder.glob(f"{prefix}[0-9]*.dist-info")):
                found.add(name)
    return found


def sdl_binding() -> bool:
    """True when the installed raylib binding is raylib's SDL build (the PyPI
    package raylib-sdl) rather than its GLFW build (raylib)."""
    installed = _binding_distributions()
    if "raylib-sdl" not in installed:
        return False
    if "raylib" not in installed:
        return True
    # Both were installed, the later over the other's files: the GLFW build is
    # the one whose C library carries GLFW's own functions. The window has
    # loaded the binding already.
    import raylib

    return not hasattr(raylib.rl, "glfwInit")


def wanted() -> bool:
    """True when raylib's window needs a stand-in for a display (`stand_in()`):
    the process has no X server, nor, for the SDL build, a Wayland one."""
    if not sys.platform.startswith(("linux", "freebsd", "openbsd", "netbsd")) or os.environ.get("DISPLAY"):
        return False
    return not (os.environ.get("WAYLAND_DISPLAY") and sdl_binding())


def stand_in() -> VirtualDisplay | OffscreenDisplay:
    """What the installed binding opens its window on without a display, not
    started yet: SDL's offscreen driver for the SDL build, else an Xvfb."""
    return OffscreenDisplay() if sdl_binding() else VirtualDisplay()


def _parent_death_signal() -> Callable[[], None] | None:
    """A pre-exec hook that has the kernel stop the server when its parent dies,
    so that a process killed outright leaves no server behind. (Strictly, when
    the thread that started it ends: windows open on the main thread only.)"""
    if not sys.platform.startswith("linux"):
        return None
    prctl = ctypes.CDLL(None, use_errno=True).prctl  # resolved before the fork
    pr_set_pdeathsig = 1

    def hook() -> None:
        prctl(pr_set_pdeathsig, signal.SIGTERM)

    return hook


class _Environment:
    """Changes to os.environ for a window, undone when it closes."""

    def __init__(self) -> None:
        self._saved: dict[str, str | None] = {}
        self.forgotten = False  # a forked child's copy: what it stands for is the parent's

    def _set(self, name: str, value: str) -> None:
        self._saved.setdefault(name, os.environ.get(name))
        os.environ[name] = value

    def _leave_environment(self) -> None:
        for name, value in self._saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value
        self._saved.clear()


class OffscreenDisplay(_Environment):
    """SDL's offscreen video driver, chosen for raylib's SDL build through
    `SDL_VIDEODRIVER` while its window is open. No process: `process` is None."""

    name = "offscreen"
    process = None
    install_hint = OFFSCREEN_INSTALL_HINT

    def start(self, width: int = 1024, height: int = 768) -> None:
        """Choose SDL's offscreen driver, unless the process chose a driver
        itself. Fails, saying what to install, where EGL cannot be loaded:
        raylib would end the process on its own."""
        try:
            ctypes.CDLL("libEGL.so.1")
        except OSError as error:
            raise RuntimeError(
                f"no display: DISPLAY is not set and EGL could not be loaded ({error}); {OFFSCREEN_INSTALL_HINT}"
            ) from None
        if not (os.environ.get("SDL_VIDEODRIVER") or os.environ.get("SDL_VIDEO_DRIVER")):
            self._set("SDL_VIDEODRIVER", "offscreen")

    def stop(self) -> None:
        """Undo the environment changes; idempotent."""
        self._leave_environment()

    def forget(self) -> None:
        """In a forked child: the same, there being no process to leave."""
        self._leave_environment()
        self.forgotten = True

    def __repr__(self) -> str:
        return f"<OffscreenDisplay {'chosen' if self._saved else 'not chosen'}>"


class VirtualDisplay(_Environment):
    """A running Xvfb and the environment changes made for it."""

    install_hint = INSTALL_HINT

    def __init__(self) -> None:
        super().__init__()
        self.process: subprocess.Popen[bytes] | None = None
        self.number = -1
        self._log: IO[bytes] | None = None
        self._runtime_dir: str | None = None

    @property
    def name(self) -> str:
        return f":{self.number}"

    def start(self, width: int = 1024, height: int = 768) -> None:
        """Start Xvfb on a free display number (it picks one itself) with a
        screen of at least width x height, and point DISPLAY at it. Whatever
        stops it half-way (an interrupt included) stops the server too; so
        does stop(), whatever it finds started."""
        executable = shutil.which("Xvfb")
        if executable is None:
            raise RuntimeError(f"no display: DISPLAY is not set and Xvfb was not found on PATH; {INSTALL_HINT}")
        try:
            self._launch(executable, width, height)
            self._enter_environment()
        except BaseException:
            self.stop()
            raise

    def _launch(self, executable: str, width: int, height: int) -> None:
        self._log = tempfile.TemporaryFile(prefix="kelo_ui-xvfb-")
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                [executable, "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp"],
                pass_fds=(write_end,),
                stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL,
                stderr=self._log,
                # Its own session: a Ctrl-C meant for the application must not
                # take the display away under it.
                start_new_session=True,
                preexec_fn=_parent_death_signal(),
            )
            os.close(write_end)
            write_end = -1
            # Xvfb writes the display number once it accepts connections.
            self.number = self._await_number(read_end)
        finally:
            os.close(read_end)
            if write_end != -1:
                os.close(write_end)

    def _await_number(self, read_end: int) -> int:
        assert self.process is not None
        received = b""
        deadline = time.monotonic() + START_TIMEOUT
        while not received.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                raise RuntimeError(f"Xvfb did not start within {START_TIMEOUT:g} s{self._log_tail()}")
            chunk = os.read(read_end, 32)
            if not chunk:
                self.process.wait(timeout=5)
                raise RuntimeError(
                    f"Xvfb exited with status {self.process.returncode} before it was ready{self._log_tail()}"
                )
            received += chunk
        return int(received)

    def _log_tail(self) -> str:
        if self._log is None:
            return ""
        self._log.seek(0)
        lines = self._log.read().decode(errors="replace").strip().splitlines()[-5:]
        return ":\n  " + "\n  ".join(lines) if lines else ""

    def _enter_environment(self) -> None:
        self._set("DISPLAY", self.name)
        if not os.environ.get("XDG_RUNTIME_DIR"):
            # Mesa probes for Wayland and complains on stderr without one.
            self._runtime_dir = tempfile.mkdtemp(prefix="kelo_ui-runtime-")
            self._set("XDG_RUNTIME_DIR", self._runtime_dir)

    def stop(self) -> None:
        """Stop the server and undo the environment changes; idempotent."""
        if self.forgotten:
            return
        self._leave_environment()
        if self._runtime_dir is not None:
            shutil.rmtree(self._runtime_dir, ignore_errors=True)
            self._runtime_dir = None
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self._log is not None:
            self._log.close()

    def forget(self) -> None:
        """In a forked child: undo the environment changes and leave the
        server, which is the parent's, running."""
        self._leave_environment()
        self._runtime_dir = None  # the parent's to remove
        self.forgotten = True

    def __repr__(self) -> str:
        if self.process is None:
            return "<VirtualDisplay (not started)>"
        state = "running" if self.process.poll() is None else "stopped"
        return f"<VirtualDisplay {self.name} pid={self.process.pid} {state}>"
