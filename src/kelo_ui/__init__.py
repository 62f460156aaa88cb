"""kelo_ui: a user-interface toolkit that draws through raylib.

The names a program starts with are here, loaded when first used (importing
`kelo_ui` itself loads no native module and no raylib):

```python
from kelo_ui import Color, KlRenderTexture, KlVector2, open_window

with open_window(320, 200, hidden=True) as window:
    scene = KlRenderTexture(KlVector2(320, 200))
    scene.clear(Color.DarkBlue)
    window.present(scene)
```
"""

import importlib

# Not typing's: importing typing would cost every program a few milliseconds.
TYPE_CHECKING = False

# Each name, and the module it lives in.
_EXPORTS = {
    "KlRenderTexture": "kelo_ui.fast.klrendertex.kl_render_tex",
    "KlVector2": "kelo_ui.fast.klvector2.klvector2",
    "KlRect": "kelo_ui.fast.klrect.klrect",
    "Color": "kelo_ui.presentation.color",
    "open_window": "kelo_ui.window",
    "close_window": "kelo_ui.window",
    "current_window": "kelo_ui.window",
    "Window": "kelo_ui.window",
    "read_rgba": "kelo_ui.presentation.pixels",
    "read_array": "kelo_ui.presentation.pixels",
    "read_image": "kelo_ui.presentation.pixels",
    "save_png": "kelo_ui.presentation.pixels",
    "Atlas": "kelo_ui.atlas",
    "Scene": "kelo_ui.scene",
    "blit_nine_slice": "kelo_ui.presentation.nine_slice",
}
__all__ = sorted(_EXPORTS)

if TYPE_CHECKING:
    # "as": names a type checker takes as exported.
    from kelo_ui.atlas import Atlas as Atlas
    from kelo_ui.fast.klrect.klrect import KlRect as KlRect
    from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture as KlRenderTexture
    from kelo_ui.fast.klvector2.klvector2 import KlVector2 as KlVector2
    from kelo_ui.presentation.color import Color as Color
    from kelo_ui.presentation.nine_slice import blit_nine_slice as blit_nine_slice
    from kelo_ui.presentation.pixels import read_array as read_array
    from kelo_ui.presentation.pixels import read_image as read_image
    from kelo_ui.presentation.pixels import read_rgba as read_rgba
    from kelo_ui.presentation.pixels import save_png as save_png
    from kelo_ui.scene import Scene as Scene
    from kelo_ui.window import Window as Window
    from kelo_ui.window import close_window as close_window
    from kelo_ui.window import current_window as current_window
    from kelo_ui.window import open_window as open_window


def __getattr__(name: str) -> object:
    module = _EXPORTS.get(name)
    if module is None:
        raise AttributeError(f"module 'kelo_ui' has no attribute {name!r}")
    value = getattr(importlib.import_module(module), name)
    globals()[name] = value  # found once
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_EXPORTS))
