# kelo_raylib: the toolkit's drawing functions, each forwarded to `backend`.
"""The toolkit's drawing functions, each forwarded to the drawing backend.

Every function calls the method of the same name of `backend`, looked up at
every call: the window context (`context`) unless something else was put
there, and then the call is made in C with no Python call in between; with
None nothing is drawn. Native modules call the same functions through
`__pyx_capi__` (`kelo_raylib.h`).
"""

from types import CapsuleType
from typing import Any, SupportsIndex, final

# The drawing backend: the window context by default; any object with a
# method for each function below (and fast_blit_pro), or None to draw nothing.
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

def fast_blit_pro(texture: Any, dest: Any, flip: object, color: Any) -> None:
    """The display's blit: draw a texture into the current target, through `backend`."""

def check_binding(ffi: Any, lib: Any, /) -> None:
    """Check a raylib binding's cffi `ffi` and `lib` against what the window context calls; raises BindingMismatch."""

class BindingMismatch(RuntimeError):
    """The installed raylib binding is not the one the window context was written for."""

@final
class GuardedFunction:
    """A raylib function of the binding as md.rl calls it: refused unless the window is open on the calling thread."""

    __wrapped__: Any
    __name__: str
    __qualname__: str
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...

@final
class WindowContext:
    """The window context: the one owner of the open window's state.

    It holds the window's thread, its GPU objects and why each dead one died,
    the releases other threads left for it, the scope stacks, and the binding
    through which it calls raylib's C functions (checked once, when the first
    window opens: BindingMismatch says what differs). It is the drawing
    backend: it converts its arguments in C++ and refuses, drawing nothing,
    what raylib would draw wrongly: sequences of another length, colour
    channels outside 0..255 or coordinates beyond a float's range
    (ValueError), anything else of the wrong type (TypeError), dead objects,
    no window or another thread (RuntimeError). Its messages name the public
    method being run (KlRenderTexture.blit, ...) and the argument. There is one,
    `context`; it cannot be made from Python.
    """

    @property
    def window(self) -> Any:
        """The toolkit's Window while one is open (or being closed), else None."""
    stand_in: Any
    """What shown_window gives while no window is open."""
    @property
    def is_active(self) -> bool:
        """Whether a window is open for drawing."""
    @property
    def live(self) -> int:
        """How many GPU objects of the window are alive."""
    @property
    def largest_size(self) -> int:
        """The driver's largest texture side (0: unknown)."""
    # The transitions.
    def activate(
        self, window: Any, width: SupportsIndex, height: SupportsIndex, title: str, flags: SupportsIndex, /
    ) -> bool:
        """Open raylib's window and make the context `window`'s; False when raylib could not."""
    def deactivate(self, why: str, /) -> None:
        """End the window, 'closed' or 'forked': its GPU objects die, raylib's window closes, then the window goes."""
    def begin_frame(self) -> None:
        """raylib's BeginDrawing, on the window's thread."""
    def end_frame(self) -> None:
        """raylib's EndDrawing, unless the window closed."""
    def shown_window(self, owner: object, /) -> Any:
        """The window, or `stand_in` while none is open (`owner` is ignored: a property's getter)."""
    def is_window_ready(self) -> bool:
        """Whether a window of this process is open and raylib's window is ready."""
    # The GPU objects.
    def load_render_texture(self, width: SupportsIndex, height: SupportsIndex, /) -> Any:
        """A new render texture owned by the window."""
    def load_texture(self, file_name: bytes, /) -> Any:
        """A texture loaded from an image file, owned by the window."""
    def load_texture_from_image(self, image: Any, /) -> Any:
        """A texture made from an Image, owned by the window."""
    def load_texture_cubemap(self, image: Any, layout: SupportsIndex, /) -> Any:
        """A cubemap texture made from an Image, owned by the window."""
    def unload_render_texture(self, render_texture: Any, /) -> None:
        """Release a render texture; a dead one is left alone."""
    def unload_texture(self, texture: Any, /) -> None:
        """Release a texture; a dead one is left alone."""
    def why_dead(self, cdata: Any, /) -> str | None:
        """Why the toolkit's object that `cdata` belongs to is dead; None when it is alive or not the toolkit's."""
    def run_pending_releases(self) -> None:
        """Release the objects that became unreachable, on the window's thread."""
    def read_rgba(self, render_texture: Any, /) -> tuple[int, int, bytes]:
        """(width, height, RGBA8 bytes, top row first) of a render texture."""
    def make_cell(
        self, page: Any, x: SupportsIndex, y: SupportsIndex, width: SupportsIndex, height: SupportsIndex, /
    ) -> Any:
        """A cell of an atlas page: the part (x, y, width, height) of the page's
        picture, a render texture of its own. Refusals name Atlas.allocate."""
    def make_page(self, width: SupportsIndex, height: SupportsIndex, /) -> Any:
        """A page of an atlas: a render texture owned by the window, cleared to
        (0, 0, 0, 0) without a scope. Refusals name Atlas.allocate."""
    # The scopes.
    def current_target(self) -> Any:
        """The render texture of the innermost texture mode, or None when drawing goes to the window."""
    def end_scopes(self) -> int:
        """End every open scope; returns how many there were."""
    def open_scopes(self) -> int:
        """How many scopes are open: texture and blend modes, and the clips,
        shaders, camera modes and pushed matrices begun in them or on the window."""
    # What md.rl changes of the drawing state: each scope owns its own.
    def begin_scissor_mode(
        self, x: SupportsIndex, y: SupportsIndex, width: SupportsIndex, height: SupportsIndex, /
    ) -> None:
        """Clip the current scope's drawing to a rectangle of its own coordinates (within a cell's area)."""
    def end_scissor_mode(self) -> None:
        """The current scope's own clip again: a cell's area, the clip it found, or none."""
    def begin_shader_mode(self, shader: Any, /) -> None:
        """Draw with a shader in the current scope."""
    def end_shader_mode(self) -> None:
        """Draw with the shader the current scope began with."""
    def begin_mode_2d(self, camera: Any, /) -> None:
        """Draw through a 2D camera in the current scope."""
    def end_mode_2d(self) -> None:
        """End the current scope's innermost 2D camera mode, and what began after it."""
    def begin_mode_3d(self, camera: Any, /) -> None:
        """Draw through a 3D camera in the current scope (refused in an atlas cell)."""
    def end_mode_3d(self) -> None:
        """End the current scope's innermost 3D camera mode, and what began after it."""
    def rl_push_matrix(self) -> None:
        """Push rlgl's current matrix, in the current scope."""
    def rl_pop_matrix(self) -> None:
        """Pop the matrix the current scope pushed last, ending what began after it; nothing when it pushed none."""
    def rl_translatef(self, x: float, y: float, z: float, /) -> None:
        """Translate rlgl's current matrix (finite numbers only)."""
    def rl_rotatef(self, angle: float, x: float, y: float, z: float, /) -> None:
        """Rotate rlgl's current matrix (finite numbers only)."""
    def rl_scalef(self, x: float, y: float, z: float, /) -> None:
        """Scale rlgl's current matrix (finite numbers only)."""
    def rl_mult_matrixf(self, matf: Any, /) -> None:
        """Multiply rlgl's current matrix by 16 floats (m0 to m15): a Matrix, floats, or 16 numbers."""
    def rl_load_identity(self) -> None:
        """Make rlgl's current matrix the identity."""
    def unload_shader(self, shader: Any, /) -> None:
        """Unload a shader, unless a scope draws with it (RuntimeError)."""
    # The drawing backend.
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
    # The compositor's.
    def read_window(self) -> tuple[int, int, bytes]:
        """(width, height, RGBA8 bytes, top row first) of what the window's front buffer shows."""
    def copies_parts(self) -> bool:
        """Whether the window puts parts of a scene on the screen (GLX_MESA_copy_sub_buffer)."""
    def guard(
        self, name: str, function: Any, kind: str, cells: str | None, textures: SupportsIndex, reason: str | None, /
    ) -> GuardedFunction:
        """`function` as md.rl calls it, by its `kind` in kelo_ui.gpu.functions:
        refused unless the window is open on its thread; an atlas cell among the
        parameters whose positions the bits of `textures` give handled as `cells` says."""

# The one window context.
context: WindowContext
# What the window context offers the compositor (kelo_ui.fast.compose): a capsule.
compositor: object
