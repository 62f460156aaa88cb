# KlRenderTexture: an off-screen render target drawn through raylib.
"""KlRenderTexture, an off-screen render target of the kelo_ui toolkit.

A widget draws once into a render target of its own, its cache, and the
caches are blitted into a scene. All drawing goes through
`kelo_ui.fast.raylib.kelo_raylib`, whose `backend` decides what drawing
means; GPU objects are made through `md.rl` (`kelo_ui.core.modules.rl`) and
belong to the open window. See docs/guide.md.
"""

from collections.abc import Iterable
from types import CapsuleType
from typing import Any, ClassVar, Self, SupportsInt, TypeAlias

from typing_extensions import disjoint_base

from kelo_ui.core import modules
from kelo_ui.core.annotations import Annotations as Annotations
from kelo_ui.core.state import kelo_state as kelo_state
from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.color import Color as Color

md = modules
__test__: dict[str, Any]

# The tint: None, or exactly a tuple (r, g, b, a); a named tuple is refused.
_Tint: TypeAlias = tuple[int, int, int, int] | None
# Where to draw: exactly a tuple, (x, y) or (x, y, width, height).
_Dest: TypeAlias = tuple[float, float] | tuple[float, float, float, float]
# One blit of fast_blits and blits: (kl_texture, dest[, flip[, color]]).
_Blit: TypeAlias = (
    tuple[KlRenderTexture | None, _Dest | None]
    | tuple[KlRenderTexture | None, _Dest | None, object]
    | tuple[KlRenderTexture | None, _Dest | None, object, _Tint]
)

# A native record: it cannot share a class with another record type.
@disjoint_base
class KlRenderTexture:
    """An off-screen render target: a raylib render texture, its size and a `loaded` flag.

    `with rt:` makes it the current target for the block (scopes nest).
    Colours are None or exactly a tuple `(r, g, b, a)`; a `dest` is exactly a
    tuple, `(x, y)` (the source at its own size) or `(x, y, width, height)`
    (scaled into the rectangle). Checked operations raise
    `AssertionError("Render texture not loaded")` on a target that is not
    loaded (unless Python runs with -O); a dead one (unloaded, or its window
    closed) raises RuntimeError. Native modules call its methods by slot
    through `kl_render_tex.h`.
    """

    __pyx_vtable__: ClassVar[CapsuleType]
    def __init__(self, size: KlVector2) -> None:
        """A new render target of `size` (truncated to integers), made through `md.rl`.

        It needs an open window, whose thread must call (RuntimeError
        otherwise) and which then owns it; below 1x1 raises ValueError,
        beyond the driver's largest texture RuntimeError. `size` is kept, not
        copied. Destruction unloads it while the window is open.
        """
    @property
    def texture(self) -> Any:
        """The held render texture's colour texture (`render_texture.texture`)."""
    @property
    def id(self) -> Any:
        """The held render texture's framebuffer id (`render_texture.id`); 0 once dead."""
    @property
    def depth(self) -> Any:
        """The held render texture's depth texture (`render_texture.depth`)."""
    @property
    def width(self) -> float:
        """The width, `size.x`."""
    @property
    def height(self) -> float:
        """The height, `size.y`."""
    @property
    def render_texture(self) -> Any:
        """The raylib render texture this target holds (the binding's `RenderTexture`), or None."""
    @render_texture.setter
    def render_texture(self, value: Any) -> None: ...
    @render_texture.deleter
    def render_texture(self) -> None: ...
    @property
    def size(self) -> KlVector2 | None:
        """The size as a KlVector2 (`x` the width, `y` the height), shared with whoever made the target."""
    @size.setter
    def size(self, value: KlVector2 | None) -> None: ...
    @size.deleter
    def size(self) -> None: ...
    @property
    def loaded(self) -> bool:
        """Whether the render texture is held and not killed."""
    @loaded.setter
    def loaded(self, value: object) -> None: ...
    @staticmethod
    def from_rl_render_texture(rl_render_texture: Any) -> KlRenderTexture:
        """A loaded target that adopts a render texture the binding already made.

        Its size is the render texture's; one made straight through `pyray`
        is not tracked by the window.
        """
    def blit(
        self,
        kl_texture: KlRenderTexture,
        dest: _Dest,
        blend_mode: SupportsInt = 0,
        flip: object = True,
        color: _Tint = ...,
    ) -> None:
        """Draw `kl_texture` into this target at `dest`, in scopes of its own.

        Checks that this target is loaded, begins blend mode `blend_mode`
        (raylib's number, 0 alpha) and texture mode on this target, draws and
        ends both; a failure after the scopes were begun leaves them begun.
        `flip` (default True) shows a render texture the right way up;
        `color` is the tint (None is white; default Color.White).
        """
    def fast_blit(
        self, kl_texture: KlRenderTexture | None, dest: _Dest | None, flip: object = True, color: _Tint = ...
    ) -> None:
        """Draw `kl_texture` at `dest` into whatever target is current: no scopes, no checks.

        The third positional parameter is `flip` (where `blit`'s is `blend_mode`).
        """
    def blit_texture(
        self,
        texture: object,
        dest: tuple[Any, ...] | None,
        blend_mode: SupportsInt = 0,
        flip: object = True,
        color: _Tint = ...,
    ) -> None:
        """As `blit`, for any texture: drawn by `kelo_state.window.display.fast_blit_pro`.

        A raylib `Texture`, `RenderTexture` or a KlRenderTexture; a texture
        made from an image is the right way up with `flip=False`. `dest` None
        draws at (0, 0).
        """
    def fast_blit_texture(
        self, texture: object, dest: tuple[Any, ...] | None, flip: object = True, color: _Tint = ...
    ) -> None:
        """As `fast_blit`, for any texture: drawn by `kelo_state.window.display.fast_blit_pro`."""
    def clear(self, color: _Tint) -> None:
        """Clear this target to `color` in its own texture mode (None: every pixel (0, 0, 0, 0))."""
    def fast_clear(self, color: _Tint) -> None:
        """Clear the current target (whatever it is) to `color`; checks that this one is loaded."""
    def fill(self, color: _Tint) -> None:
        """A second name for `clear`."""
    def kill(self) -> None:
        """Release the render texture (`md.rl.unload_render_texture`) and clear `loaded`.

        Touches no GPU object of any other target; on a dead target it does
        no harm.
        """
    def get_rect(self) -> KlRect:
        """`KlRect(0, 0, width, height)`."""
    def get_height(self) -> float:
        """The height, `size.y`."""
    def get_width(self) -> float:
        """The width, `size.x`."""
    def copy(self, flip: object = True) -> KlRenderTexture:
        """A new, independent KlRenderTexture of the same size (the same vector) with this one drawn into it.

        Drawn by the new target's `blit` at (0, 0) with alpha blending;
        always of the base class.
        """
    def __enter__(self) -> Self:
        """Begin texture mode on this target: it is current until the block ends."""
    def __exit__(self, exc_type: object, exc_val: object, exc_tb: object) -> None:
        """End this target's texture mode: the enclosing target (or the window) is current again."""
    def fast_blits(self, blits: Iterable[_Blit]) -> None:
        """Draw each item `(kl_texture, dest[, flip[, color]])` as `fast_blit` would, into the current target.

        A failing item raises its own exception with a note naming its
        index; the items before it stay drawn.
        """
    def blits(self, blits: Iterable[_Blit], blend_mode: SupportsInt = 0) -> None:
        """Draw the items as `fast_blits` does, inside one blend-mode and one texture-mode scope on this target.

        Like `blit`, it ends the scopes it began when it fails.
        """
    def blit_region(
        self,
        kl_texture: KlRenderTexture,
        area: tuple[float, float, float, float],
        dest: _Dest,
        blend_mode: SupportsInt = 0,
        flip: object = True,
        color: _Tint = ...,
    ) -> None:
        """Draw the part `area` (x, y, width, height; top-left origin, as the picture is blitted) of `kl_texture`.

        As `blit` of a target holding exactly that part: into this target, in
        its own blend-mode and texture-mode scopes, at `dest` (x, y) or into
        (x, y, width, height). An area reaching outside the source, or below
        1x1, raises ValueError; every argument is checked before anything is
        drawn.
        """
    def fast_blit_region(
        self,
        kl_texture: KlRenderTexture,
        area: tuple[float, float, float, float],
        dest: _Dest,
        flip: object = True,
        color: _Tint = ...,
    ) -> None:
        """Draw the part `area` of `kl_texture` into the current target, as `fast_blit` of a target holding it would."""
    def __reduce__(self) -> tuple[Any, ...]: ...
    def __setstate__(self, __pyx_state: tuple[Any, ...]) -> None: ...

def __pyx_unpickle_KlRenderTexture(
    __pyx_type: type[KlRenderTexture], __pyx_checksum: SupportsInt, __pyx_state: tuple[Any, ...] | None
) -> KlRenderTexture:
    """Rebuild a pickled target without running `__init__` (nothing is loaded);
    a pickle of another layout raises pickle.PickleError."""
