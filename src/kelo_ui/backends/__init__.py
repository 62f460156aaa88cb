"""The drawing backends: what `kelo_raylib.backend` may be while a window is open.

`kelo_raylib` forwards each of its drawing functions to the backend's method
of the same name. A window's backend draws for real and keeps the window's
drawing scopes; there are two, with the same meaning and the same pixels:

- `kelo_raylib.NativeBackend`, which calls raylib's C functions in C++;
- `RaylibBackend` (`kelo_ui.backends.raylib_backend`), which calls them
  through the binding, from Python.

A window's backend has the nine drawing methods (`DRAWING_METHODS`) and the
methods by which the window and its GPU objects keep it in step
(`WINDOW_METHODS`):

- `attach(objects)`: the calling thread becomes the only one that may draw;
  `objects` (the window's `WindowObjects`) is asked why a dead object is
  dead, and runs the releases that other threads left for the window.
- `detach(reason)`: forget the scopes without a raylib call; from then on
  every drawing call raises RuntimeError, saying `reason`.
- `current_target()`: the render texture of the innermost texture mode, or
  None when drawing goes to the window.
- `forget_target(render_texture)`: a render texture that is being released
  leaves the scope stack; when it was current, the enclosing target (or the
  window) becomes current, and stays so until the released one's scope ends
  (its end still pairs with its begin).
- `end_scopes()`: end every open scope; returns how many there were.
- `open_scopes()`: how many scopes are open.
- `note_pending_releases()`: from any thread: the next drawing call on the
  window's thread runs the window's pending releases first.

`NoWindowBackend` stands in when no window is open: every drawing call
raises RuntimeError.
"""

from __future__ import annotations

import warnings
from typing import Any

from kelo_ui.fast.raylib import kelo_raylib

# kelo_raylib's functions that forward to the backend (those of its exports
# that Python can call too, in export order), and the display's blit.
DRAWING_METHODS = (*(name for name in kelo_raylib.__pyx_capi__ if hasattr(kelo_raylib, name)), "fast_blit_pro")
WINDOW_METHODS = (
    "attach",
    "detach",
    "current_target",
    "forget_target",
    "end_scopes",
    "open_scopes",
    "note_pending_releases",
)
BACKEND_KINDS = ("best", "native", "python")


def is_backend(candidate: object) -> bool:
    """Whether `candidate` can be a window's backend: an object (not a class)
    with every method."""
    return not isinstance(candidate, type) and all(callable(getattr(candidate, name, None)) for name in DRAWING_METHODS + WINDOW_METHODS)


def make_backend(kind: str = "best") -> Any:
    """A new drawing backend for a window; the one place that picks it.

    - "native": `kelo_raylib.NativeBackend`, which calls raylib's C functions
      directly; raises `kelo_raylib.BindingMismatch` when the installed
      binding is not the one it was written for.
    - "python": `RaylibBackend`, which calls them through the binding.
    - "best" (what open_window uses): the native backend when the binding
      allows it, else the Python one, with a RuntimeWarning saying why.
    """
    if kind not in BACKEND_KINDS:
        raise ValueError(f"backend kind must be one of {', '.join(map(repr, BACKEND_KINDS))}, not {kind!r}")
    if kind != "python":
        import raylib

        try:
            return kelo_raylib.NativeBackend(raylib.ffi, raylib.rl)
        except kelo_raylib.BindingMismatch as error:
            if kind == "native":
                raise
            warnings.warn(f"kelo_ui draws through the Python raylib backend: {error}", RuntimeWarning,
                          stacklevel=2)
    from kelo_ui.backends.raylib_backend import RaylibBackend

    return RaylibBackend()
