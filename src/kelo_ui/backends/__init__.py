"""What a drawing backend is: what `kelo_raylib.backend` may be.

`kelo_raylib` forwards each of its drawing functions to the backend's method
of the same name. The backend is the window context (`kelo_ui.window.context`),
which calls raylib's C functions in C++; tests and tools may put another
object there (one that records the calls, say), and None draws nothing.

`DrawingBackend` is that interface, for type checkers; `DRAWING_METHODS`
names its methods: kelo_raylib's functions that Python can call too, in
export order, and the display's `fast_blit_pro`. A test holds the one to
the other, and mypy holds the window context to the protocol.
"""

from __future__ import annotations

from typing import Any, Protocol, SupportsIndex, runtime_checkable

from kelo_ui.fast.raylib import kelo_raylib

DRAWING_METHODS = (*(name for name in kelo_raylib.__pyx_capi__ if hasattr(kelo_raylib, name)), "fast_blit_pro")


@runtime_checkable
class DrawingBackend(Protocol):
    """A drawing backend: each method draws into, or changes, the current
    target as the kelo_raylib function of its name says; a failure raises."""

    def c_clear_background(self, color: Any, /) -> None: ...
    def c_draw_texture_rec(self, texture: Any, source: Any, dest: Any, color: Any, /) -> None: ...
    def c_draw_texture_vec(self, texture: Any, dest: Any, color: Any, flip: object, /) -> None: ...
    def begin_texture_mode(self, render_texture: Any, /) -> None: ...
    def clear_background(self, color: Any, /) -> None: ...
    def end_blend_mode(self) -> None: ...
    def end_texture_mode(self) -> None: ...
    def begin_blend_mode(self, mode: SupportsIndex, /) -> None: ...
    def fast_blit_pro(self, texture: Any, dest: Any, flip: object, color: Any, /) -> None: ...
