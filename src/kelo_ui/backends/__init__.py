"""What a drawing backend is: what `kelo_raylib.backend` may be.

`kelo_raylib` forwards each of its drawing functions to the backend's method
of the same name. The backend is the window context (`kelo_ui.window.context`),
which calls raylib's C functions in C++; tests and tools may put another
object there (one that records the calls, say), and None draws nothing.

A backend has the drawing methods `DRAWING_METHODS`: kelo_raylib's functions
that Python can call too, in export order, and the display's `fast_blit_pro`.
"""

from __future__ import annotations

from kelo_ui.fast.raylib import kelo_raylib

DRAWING_METHODS = (*(name for name in kelo_raylib.__pyx_capi__ if hasattr(kelo_raylib, name)), "fast_blit_pro")
