"""Retained scenes that recompose and present only what changed (see kelo_ui.scene)."""

from typing import Any, SupportsFloat, SupportsIndex, final

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture

_Numbers = tuple[SupportsFloat, ...] | list[SupportsFloat] | Any
_Color = tuple[SupportsIndex, SupportsIndex, SupportsIndex, SupportsIndex] | None

@final
class Item:
    """A render target placed in a Scene: made by Scene.add()."""

    @property
    def source(self) -> KlRenderTexture:
        """The render target the item shows."""
    @property
    def pos(self) -> tuple[float, ...]:
        """Where: (x, y), or (x, y, width, height); move() changes it."""
    area: tuple[float, float, float, float] | None
    """The part of the source's picture shown (None: all of it)."""
    @property
    def tint(self) -> tuple[int, int, int, int]:
        """The tint (r, g, b, a); None sets white."""
    @tint.setter
    def tint(self, value: _Color) -> None: ...
    @property
    def blend_mode(self) -> int:
        """raylib's blend mode it is drawn in, 0 to 7."""
    @blend_mode.setter
    def blend_mode(self, value: SupportsIndex) -> None: ...
    @property
    def clip(self) -> tuple[int, int, int, int] | None:
        """The rectangle of the scene it never draws outside, or None."""
    @clip.setter
    def clip(self, value: _Numbers | None) -> None: ...
    @property
    def z(self) -> float:
        """Its depth: higher is drawn above; ties in the order items were added."""
    @z.setter
    def z(self, value: SupportsFloat) -> None: ...
    @property
    def visible(self) -> bool:
        """Whether it is drawn."""
    @visible.setter
    def visible(self, value: object) -> None: ...
    name: str | None
    """A name for its repr and the messages about it, or None."""
    @property
    def scene(self) -> Scene | None:
        """Its scene, or None once removed or the scene is gone."""
    @property
    def box(self) -> tuple[int, int, int, int] | None:
        """The pixels of the scene it may cover (x, y, width, height), or None."""
    def move(self, pos: _Numbers, /) -> None:
        """Place the item at pos: (x, y) at its picture's size, or (x, y, width, height)."""
    def remove(self) -> None:
        """Take the item out of its scene (nothing when it was already)."""

@final
class Scene:
    """Scene(size, background=Color.Blank): a retained scene, recomposed and
    presented where its items changed."""

    def __new__(cls, size: Any, background: _Color = ...) -> Scene: ...
    @property
    def target(self) -> KlRenderTexture:
        """The KlRenderTexture holding the composed picture (only compose draws into it)."""
    @property
    def size(self) -> tuple[int, int]:
        """(width, height) in whole pixels."""
    @property
    def background(self) -> tuple[int, int, int, int]:
        """What the scene shows where no item does, (r, g, b, a)."""
    @background.setter
    def background(self, value: _Color) -> None: ...
    @property
    def items(self) -> list[Item]:
        """The items, in the order they are drawn."""
    def __len__(self) -> int: ...
    def add(
        self,
        source: KlRenderTexture,
        pos: _Numbers,
        /,
        *,
        area: _Numbers | None = None,
        tint: _Color = ...,
        blend_mode: SupportsIndex = 0,
        clip: _Numbers | None = None,
        name: str | None = None,
    ) -> Item:
        """Place a render target in the scene; returns its Item."""
    def compose(self, full: object = False) -> list[tuple[int, int, int, int]]:
        """Draw what changed (everything with full) into the target; the boxes drawn."""
    def present(self) -> list[tuple[int, int, int, int]]:
        """Compose, then show the scene on the window (what window.present(scene) does)."""
    def invalidate(self, rect: _Numbers | None = None, /) -> None:
        """Damage a rectangle (x, y, width, height), or everything."""
    def item_at(self, point: _Numbers, /) -> Item | None:
        """The topmost visible item at point (x, y), honouring clips and z; None when there is none."""
