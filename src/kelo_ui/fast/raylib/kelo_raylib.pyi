# kelo_raylib: the toolkit's drawing functions, each forwarded to `backend`.
"""The toolkit's drawing functions, each forwarded to the drawing backend.

Every function calls the method of the same name of `backend`, looked up at
every call: with the native backend (`NativeBackend`) that call is made in C
with no Python call in between; with None nothing is drawn. A window
installs its backend here while it is open (`kelo_ui.window`). Native
modules call the same functions through `__pyx_capi__` (`kelo_raylib.h`).
"""

from types import CapsuleType
from typing import Any, Self, SupportsIndex, final

# The drawing backend: an object with a method for each function below (and
# fast_blit_pro for the display), or None to draw nothing.
backend: Any
# The functions for native callers: name -> capsule named by its signature.
__pyx_capi__: dict[str, CapsuleType]

def c_clear_background(color: Any) -> None:
    """Clear the current target to `color` (None: (0, 0, 0, 0))."""
def c_draw_texture_rec(texture: Any, source: Any, dest: Any, color: Any) -> None:
    """Draw the part `source` (x, y, width, height) of `texture` scaled into the rectangle `dest`, tinted `color`.

    A negative source height draws it upside down.
    """
def c_draw_texture_vec(texture: Any, dest: Any, color: Any, flip: SupportsIndex) -> None:
    """Draw `texture` at its own size at the position `dest`, tinted `color`; upside down when `flip` is true."""
def begin_texture_mode(render_texture: Any) -> None:
    """Make `render_texture` the current target; scopes nest."""
def clear_background(color: Any) -> None:
    """Clear the current target to `color` (None: (0, 0, 0, 0))."""
def end_blend_mode() -> None:
    """End the innermost blend mode: the enclosing one (alpha with none) is in force again."""
def end_texture_mode() -> None:
    """End the innermost texture mode: the enclosing target (or the window) is current again."""
def begin_blend_mode(blend_mode: SupportsIndex) -> None:
    """Draw with raylib's blend mode `blend_mode` (0 alpha to 7) until its end; scopes nest."""

class BindingMismatch(RuntimeError):
    """The installed raylib binding is not the one the native backend was written for."""

@final
class NativeBackend:
    """The drawing backend that calls raylib's C functions directly.

    Made from the binding's cffi `ffi` and `lib` (`raylib.ffi`, `raylib.rl`),
    which it checks once against the structs and function types it was
    written for (BindingMismatch says what differs). It converts its
    arguments in C++ and refuses, drawing nothing, what raylib would draw
    wrongly: sequences of another length (ValueError), colour channels
    outside 0..255 or coordinates beyond a float's range (OverflowError),
    anything else of the wrong type (TypeError), dead textures, a closed
    window or another thread (RuntimeError).
    """

    def __new__(cls, ffi: Any, lib: Any) -> Self:
        """Check the binding and take its functions' addresses; raises BindingMismatch when they differ."""
    def c_clear_background(self, color: Any, /) -> None:
        """Clear the current target to `color` (None: (0, 0, 0, 0))."""
    def clear_background(self, color: Any, /) -> None:
        """Clear the current target to `color` (None: (0, 0, 0, 0))."""
    def c_draw_texture_vec(self, texture: Any, dest: Any, color: Any, flip: object, /) -> None:
        """Draw the binding's `Texture` at `dest` (x, y), tinted `color` (None: white); upside down when `flip`."""
    def c_draw_texture_rec(self, texture: Any, source: Any, dest: Any, color: Any, /) -> None:
        """Draw the part `source` of the binding's `Texture` into the rectangle `dest`, tinted `color`."""
    def begin_texture_mode(self, render_texture: Any, /) -> None:
        """Make the binding's `RenderTexture` the current target, on the scope stack."""
    def end_texture_mode(self) -> None:
        """Leave the innermost target: the enclosing one (or the window) is current; harmless with none open."""
    def begin_blend_mode(self, mode: SupportsIndex, /) -> None:
        """Enter raylib's blend mode `mode`, 0 to 7 (others raise ValueError), on the scope stack."""
    def end_blend_mode(self) -> None:
        """Leave the innermost blend mode; harmless with none open."""
    def fast_blit_pro(self, texture: Any, dest: Any, flip: object, color: Any, /) -> None:
        """The display's blit: a `Texture`, a `RenderTexture` or a KlRenderTexture drawn into the current target.

        `dest` (x, y) at its own size, (x, y, w, h) scaled into the
        rectangle, None at (0, 0); any other length raises ValueError.
        """
    # The window's side (see kelo_ui.backends).
    def attach(self, objects: Any, /) -> None:
        """The calling thread becomes the only one that may draw; `objects` are the window's GPU objects."""
    def detach(self, reason: object, /) -> None:
        """Forget the scopes without a raylib call; from then on every drawing call raises RuntimeError saying `reason`."""
    def current_target(self) -> Any:
        """The render texture of the innermost texture mode, or None when drawing goes to the window."""
    def forget_target(self, render_texture: Any, /) -> None:
        """A render texture being released leaves the scope stack (the enclosing target is current if it was)."""
    def end_scopes(self) -> int:
        """End every open scope; returns how many there were."""
    def open_scopes(self) -> int:
        """How many scopes are open."""
    def note_pending_releases(self) -> None:
        """From any thread: the next drawing call on the window's thread runs the window's pending releases first."""
