"""Demo: render a small scene through KlRenderTexture and save it as demo.png.

Opens a hidden window (on a private virtual X server when there is no
display), composes render targets into one scene, writes the scene to
demo.png in the current folder and closes the window.
"""

import os
import sys

from kelo_ui.core.modules import rl
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.presentation.color import Color
from kelo_ui.presentation.pixels import save_png
from kelo_ui.window import open_window

WIDTH, HEIGHT = 320, 240
BACKGROUND = (28, 30, 46, 255)


def target(width, height, color):
    rt = KlRenderTexture(KlVector2(width, height))
    rt.clear(color)
    return rt


def plain_texture(image):
    texture = rl.load_texture_from_image(image)
    rl.unload_image(image)
    return texture


def render(path):
    """Draw the scene and save it; returns the one-line summary."""
    scene = target(WIDTH, HEIGHT, BACKGROUND)

    # A tile whose dark band marks its top-left corner, so flips show.
    tile = target(64, 64, Color.Orange)
    band = target(32, 16, Color.DarkBrown)
    tile.blit(band, (0, 0))
    corner = target(16, 16, None)
    with corner:
        corner.fast_clear(Color.Maroon)
    with tile:
        tile.fast_blit(corner, (48, 48))
    glow = target(64, 64, (0, 70, 160, 255))
    veil = target(64, 64, (255, 255, 255, 110))
    twin = tile.copy()

    # Top row: at a position, mirrored (flip off), scaled into a rectangle.
    scene.blit(tile, (16, 16))
    scene.blit(tile, (96, 16), flip=False)
    scene.blit(tile, (176, 16, 128, 64))
    # Middle row: tinted, an additive glow over a tile, a veil, the copy.
    scene.blit(tile, (16, 96), color=(120, 200, 255, 255))
    scene.blit(tile, (96, 96))
    scene.blit(glow, (112, 112, 48, 48), blend_mode=rl.BlendMode.BLEND_ADDITIVE)
    scene.blit(twin, (176, 96))
    scene.blit(veil, (208, 112, 48, 48))
    # Bottom row: plain textures made from images.
    checker = plain_texture(rl.gen_image_checked(64, 64, 8, 8, Color.White, Color.DarkGray))
    label = plain_texture(rl.image_text("kelo_ui", 20, Color.RayWhite))
    try:
        # Images are stored top-down, so they are drawn without the flip.
        scene.blit_texture(checker, (16, 176, 96, 48), flip=False)
        scene.blit_texture(label, (128, 190), flip=False)
        scene.blit_texture(label, (128, 212), flip=False, color=Color.Gold)
    finally:
        rl.unload_texture(checker)
        rl.unload_texture(label)

    save_png(scene, path)
    return (f"{WIDTH}x{HEIGHT} scene, 7 render targets: 10 blits (at positions, into rectangles, "
            f"flipped and not, tinted, additive, translucent), 1 copy, 3 plain-texture blits")


def main():
    path = os.path.abspath("demo.png")
    with open_window(WIDTH, HEIGHT, "kelo_ui demo", hidden=True):
        summary = render(path)
    print(path)
    print(summary)


if __name__ == "__main__":
    sys.exit(main())
