"""Retained scenes: a frame costs what changed.

A `Scene(size, background=Color.Blank)` keeps a list of items, each a render
target placed in it (`scene.add(source, pos, ...)`), and a render target of
its own, `scene.target`, holding the composed picture. `scene.compose()`
draws only what changed since the last compose (the damage) and returns it
as a list of `(x, y, width, height)`; `window.present(scene)` composes and
puts only those boxes on the window where the platform allows.

Every change of an item (`move`, `area`, `tint`, `blend_mode`, `clip`, `z`,
`visible`, `remove`) damages what it covered before and after, and drawing
into a source (a `with` scope on it, a clear, a blit into it, a copy) damages
the items that show it on its own: the window context tells the scene.

The scene is native (`kelo_ui.fast.compose.compose`): the damage, the grid
that finds the items a box shows, and the plan of what to draw are kept in
C++, so a frame costs a small constant plus its damage, never a walk over
every item.
"""

from __future__ import annotations

from kelo_ui.fast.compose.compose import Item, Scene

__all__ = ["Item", "Scene"]
