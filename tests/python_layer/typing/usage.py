"""Typed use of the native modules: mypy checks this file against the stubs.

Each `type: ignore` marks a misuse that the stubs must refuse; mypy runs with
--warn-unused-ignores, so a stub that lets one through fails the check.
"""

import pickle

from kelo_ui.backends import DrawingBackend
from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klshader.klshader import KlShader
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.color import Color


def compose(dst: KlRenderTexture, src: KlRenderTexture) -> KlRenderTexture:
    dst.clear(Color.Black)
    dst.fill(None)
    dst.blit(src, (10, 20))
    dst.blit(src, (0.5, 0, 64, 32), 1, False, Color.Red)
    dst.blit_texture(src.texture, None, flip=0)
    with dst as target:
        target.fast_blit(src, (1, 2))
        target.fast_blit_texture(object(), (1, 2, 3, 4), color=None)
        target.fast_clear(Color.Blank)
    width: float = dst.get_width() + dst.width
    rect: KlRect = dst.get_rect()
    size: KlVector2 | None = dst.size
    assert width >= 0 and rect.w >= 0 and size is not None
    dst.loaded = False
    return src.copy(flip=False)


def misuse(dst: KlRenderTexture, src: KlRenderTexture) -> None:
    dst.blit(src, [1, 2])  # type: ignore[arg-type]
    dst.blit(None, (1, 2))  # type: ignore[arg-type]
    dst.clear()  # type: ignore[call-arg]
    dst.copy(True, False)  # type: ignore[call-arg]
    dst.width = 5.0  # type: ignore[misc]
    dst.size = (1, 2)  # type: ignore[assignment]
    KlVector2("1", 2)  # type: ignore[arg-type]


def made() -> list[object]:
    rt = KlRenderTexture(KlVector2(8, 8))
    adopted: KlRenderTexture = KlRenderTexture.from_rl_render_texture(rt.render_texture)
    again = kl_render_tex.__pyx_unpickle_KlRenderTexture(KlRenderTexture, 0xD7BABC0, None)
    kelo_raylib.backend = None
    kelo_raylib.c_clear_background(Color.White)
    return [adopted, again, pickle.loads(pickle.dumps(rt)), KlRect(0, 0, 1, 1), KlShader(3), kl_render_tex.md]


def backends() -> list[DrawingBackend]:
    # The window context is the drawing backend the toolkit ships.
    return [kelo_raylib.context, object()]  # type: ignore[list-item]


def newcomer() -> None:
    # The names the package itself exports carry their types.
    import kelo_ui

    scene: kelo_ui.KlRenderTexture = kelo_ui.KlRenderTexture(kelo_ui.KlVector2(4, 4))
    with kelo_ui.open_window(8, 8, hidden=True) as window:
        window.present(scene)
        window.present()  # type: ignore[call-arg]


def scenes(cell: KlRenderTexture) -> list[tuple[int, int, int, int]]:
    import kelo_ui

    scene = kelo_ui.Scene(KlVector2(64, 48), Color.Black)
    item = scene.add(cell, (1, 2), tint=Color.Gold, blend_mode=1, clip=(0, 0, 32, 32), name="icon")
    item.move((4, 4, 16, 16))
    item.z = 2
    item.visible = False
    item.area = (0, 0, 2, 2)
    top: kelo_ui.scene.Item | None = scene.item_at((3, 3))
    scene.add(cell)  # type: ignore[call-arg]
    scene.add(cell, (0, 0), depth=1)  # type: ignore[call-arg]
    item.pos = (1, 1)  # type: ignore[misc]
    assert top is None or top.scene is scene
    return scene.compose(full=True) + scene.compose()
