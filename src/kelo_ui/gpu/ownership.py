"""The GPU objects of the open window, and the one thread that may touch them.

Every Texture and RenderTexture made through `md.rl` belongs to the window
open when it was made (`WindowObjects`). It dies when it is unloaded, when
nothing refers to it any more, or when its window closes; dying zeroes its
GPU ids in place (`memory`), so that no later call, kill or destruction can
reach a GPU object of another target or another window through it.

Only the window's thread makes, draws and releases. An object whose last
reference goes away on another thread (or that the collector frees there) is
released later on the window's thread: at its next frame, GPU object or
drawing call, or when it closes.

Raylib binds the window's framebuffer while it makes or releases a render
texture; every change made here draws raylib's pending batch first and binds
the current target again afterwards, so a change inside a scope leaves the
scope's target current.
"""

from __future__ import annotations

import ctypes
import operator
import threading
import weakref
from collections import deque
from typing import Any

from raylib import ffi
from raylib import rl as lib

from kelo_ui.gpu import memory

_TEXTURE = ffi.typeof("Texture")
_RENDER_TEXTURE = ffi.typeof("RenderTexture")
_GL_MAX_TEXTURE_SIZE = 0x0D33
_GL_MAX_RENDERBUFFER_SIZE = 0x84E8

_current: WindowObjects | None = None

NO_WINDOW = "no window is open; GPU objects are made under one (kelo_ui.window.open_window)"


def current() -> WindowObjects | None:
    """The open window's objects, or None."""
    return _current


def for_gpu_work(function: str) -> WindowObjects:
    """The open window's objects, on the window's thread, with raylib's
    window open; RuntimeError otherwise, naming `function`."""
    objects = _current
    if objects is None:
        raise RuntimeError(f"{function}: {NO_WINDOW}")
    objects.check_thread(function)
    objects.check_ready(function)
    return objects


def _gl_limit(name: int) -> int | None:
    """An integer limit of the GL driver, read through the GL library
    raylib draws with; None where that library is not found."""
    for library in ("libGL.so.1", "libGL.so"):
        try:
            get_integer = ctypes.CDLL(library).glGetIntegerv
        except (OSError, AttributeError):
            continue
        value = ctypes.c_int(0)
        get_integer(ctypes.c_uint(name), ctypes.byref(value))
        return value.value or None
    return None


class _Tracked:
    """A live object: its slot, and a weak reference to the view handed out."""

    __slots__ = ("slab", "index", "kind", "reference")

    def __init__(self, slab: memory.Slab, index: int, kind: Any, reference: weakref.ref[Any]):
        self.slab, self.index, self.kind, self.reference = slab, index, kind, reference


def _zero(cdata: Any, kind: Any) -> None:
    cdata.id = 0
    if kind is _RENDER_TEXTURE:
        cdata.texture.id = 0
        cdata.depth.id = 0


class WindowObjects:
    """The GPU objects of one open window."""

    def __init__(self, backend: Any):
        self.backend = backend
        self.thread = threading.get_ident()
        self._live: dict[int, _Tracked] = {}
        self._pending: deque[int] = deque()  # slots left unreachable, released on the window's thread
        largest = [_gl_limit(_GL_MAX_TEXTURE_SIZE), _gl_limit(_GL_MAX_RENDERBUFFER_SIZE)]
        self.largest_size = min((size for size in largest if size), default=None)

    def use_backend(self, backend: Any) -> None:
        """The window draws through `backend` from now on."""
        self.backend = backend
        if self._pending:
            backend.note_pending_releases()

    @property
    def live(self) -> int:
        """How many objects of this window are alive."""
        return len(self._live)

    # --- the drawing thread -------------------------------------------------------

    def check_ready(self, function: str) -> None:
        """Right before every raylib call: this window is still the open one
        and raylib's window is open (raylib may have closed it itself, and
        code run since the last check may have closed it): without it,
        raylib's GL state is freed memory."""
        if _current is not self or not lib.IsWindowReady():
            raise RuntimeError(f"{function}: raylib has no open window (it was closed); {NO_WINDOW}")

    def check_thread(self, function: str) -> None:
        if threading.get_ident() != self.thread:
            raise RuntimeError(f"{function}: called from thread {threading.get_ident()}, but the window's GPU "
                               f"objects are made, drawn and released on its own thread ({self.thread}) only")

    # --- made -----------------------------------------------------------------------

    def _adopt(self, value: Any, kind: Any) -> Any:
        """The view of a new slot holding `value`, tracked as alive."""
        slab, index = (memory.render_textures if kind is _RENDER_TEXTURE else memory.textures).take(value)
        view = slab.view(index)
        address = memory.address_of(view)
        self._live[address] = _Tracked(slab, index, kind, weakref.ref(view, lambda _: self._unreachable(address)))
        return view

    def _changing(self, function: str, work: Any) -> Any:
        """Run `work` (a raylib call that makes or releases a GPU object,
        whose arguments convert without running code) with the batch drawn
        first and the current framebuffer bound again afterwards."""
        self.check_ready(function)
        lib.rlDrawRenderBatchActive()
        active = lib.rlGetActiveFramebuffer()
        try:
            return work()
        finally:
            if lib.rlGetActiveFramebuffer() != active:
                lib.rlEnableFramebuffer(active)

    def load_render_texture(self, width: Any, height: Any) -> Any:
        function = "load_render_texture"
        width, height = operator.index(width), operator.index(height)  # may run code: before any raylib call
        self.run_pending_releases()
        if width < 1 or height < 1:
            raise ValueError(f"load_render_texture: a render texture is at least 1x1, not {width}x{height}")
        if self.largest_size is not None and max(width, height) > self.largest_size:
            raise RuntimeError(f"load_render_texture: {width}x{height} is beyond the driver's largest texture "
                               f"({self.largest_size}x{self.largest_size})")
        made = self._changing(function, lambda: lib.LoadRenderTexture(width, height))
        if made.id == 0 or made.texture.id == 0 or not self._changing(function,
                                                                         lambda: lib.rlFramebufferComplete(made.id)):
            self._changing(function, lambda: lib.UnloadRenderTexture(made))
            raise RuntimeError(f"load_render_texture: the driver cannot complete a {width}x{height} framebuffer")
        return self._adopt(made, _RENDER_TEXTURE)

    def load_texture(self, function: str, load: Any) -> Any:
        """A texture made by `load()`, a raylib call; RuntimeError when raylib
        made none."""
        self.run_pending_releases()
        made = self._changing(function, load)
        if made.id == 0:
            raise RuntimeError(f"{function}: raylib made no texture (its messages above say why)")
        return self._adopt(made, _TEXTURE)

    # --- released -------------------------------------------------------------------

    def _release(self, cdata: Any, kind: Any, reason: int, function: str = "release") -> None:
        """Release a live object's GPU side. Its ids are zeroed before raylib
        is called, so an interruption leaks the GPU object rather than leave
        ids that a later object may be given."""
        self.check_ready(function)
        lib.rlDrawRenderBatchActive()  # draws still pending may read from it
        if kind is _RENDER_TEXTURE:
            self.backend.forget_target(cdata)
        held = ffi.new(f"{kind.cname} *", cdata)[0]
        address = memory.address_of(cdata)
        tracked = self._live.get(address)
        _zero(cdata, kind)
        if tracked is not None:
            tracked.slab.reasons[tracked.index] = reason
            del self._live[address]  # only once dead: an interrupted release leaves it for release_all
        if kind is _RENDER_TEXTURE:
            active = lib.rlGetActiveFramebuffer()
            lib.UnloadRenderTexture(held)
            lib.rlEnableFramebuffer(0 if active == held.id else active)
        else:
            lib.UnloadTexture(held)

    def unload(self, function: str, cdata: Any, kind: Any) -> None:
        """The explicit release of a Texture or RenderTexture; a dead one (id
        0) is left as it is."""
        if not (isinstance(cdata, ffi.CData) and ffi.typeof(cdata) is kind):
            raise TypeError(f"{function}: expected a raylib {kind.cname.removeprefix('struct ')}, "
                            f"not {type(cdata).__name__}")
        if kind is _TEXTURE and memory.render_textures.find(memory.address_of(cdata)) is not None:
            raise ValueError(f"{function}: this texture belongs to a render texture; unload the render texture")
        self.run_pending_releases()
        if cdata.id != 0:
            self._release(cdata, kind, memory.UNLOADED, function)

    def _unreachable(self, address: int) -> None:
        # Any thread, at any moment the last view goes: only noted here.
        if address in self._live:
            self._pending.append(address)
            self.backend.note_pending_releases()

    def run_pending_releases(self) -> None:
        """Release the objects that became unreachable (on the window's
        thread); one whose release fails stays pending."""
        while self._pending:
            tracked = self._live.get(self._pending[0])
            if tracked is not None:
                self._release(tracked.slab.view(tracked.index), tracked.kind, memory.UNREACHABLE)
            self._pending.popleft()

    def release_all(self, reason: int) -> None:
        """Every object dies without a GPU call: the window's context is
        going (closed), or is another process's (forked)."""
        self._pending.clear()
        # Each leaves the table only once it is dead: an interrupted close
        # leaves the rest for the next one.
        for address, tracked in list(self._live.items()):
            _zero(tracked.slab.view(tracked.index), tracked.kind)
            tracked.slab.reasons[tracked.index] = reason
            del self._live[address]

    def why_dead(self, cdata: Any) -> str | None:
        return memory.why_dead(cdata)


def open_objects(backend: Any) -> WindowObjects:
    """The objects of a window that has just opened on this thread."""
    global _current
    _current = WindowObjects(backend)
    return _current


def close_objects(reason: int) -> None:
    """The open window's objects die (see WindowObjects.release_all)."""
    global _current
    if _current is not None:
        _current.release_all(reason)
        _current = None
