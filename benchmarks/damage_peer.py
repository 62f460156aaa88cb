"""The peer of `make bench-damage`: pygame-ce's LayeredDirty drawing the same
scenes with the same changes, in a process of its own (SDL_VIDEODRIVER=dummy,
pygame-ce from its own environment; it never imports kelo_ui).

Each widget is a DirtySprite whose image is a 64x24 Surface filled with its
colour; a change fills the image with the new colour, moves the rect and
sets `dirty = 1`. The group is LayeredDirty with its defaults; its
background is given once with `group.clear(screen, background)`, and a
frame is the changes and `group.draw(screen)`. The group's own `_use_update`
(False: it has switched to drawing the whole screen) is noted after every
timed frame.

The rows the toolkit has and the peer has not (a full recomposition, a
present) still run here, untimed, so that both go through the same scenes.

Prints one JSON line: {"pygame": version, "counts": {N: {row: {"ms": [...],
"full_screen": frames}}}}."""

import json
import os
import sys
import time

import pygame

import damage_scene as damage

assert "kelo_ui" not in sys.modules


def main():
    cycles, block, settle, warmup = map(int, sys.argv[1:5])
    if os.environ.get("SDL_VIDEODRIVER") != "dummy":
        raise SystemExit("damage_peer.py runs with SDL_VIDEODRIVER=dummy")
    pygame.display.init()
    results = {}
    for count, size in damage.CASES:
        screen = pygame.display.set_mode(size)
        background = pygame.Surface(size)
        background.fill(damage.BACKGROUND)
        widgets = damage.Widgets(count, size)
        group = pygame.sprite.LayeredDirty()
        sprites = []
        for place, fill in zip(widgets.places, widgets.colours, strict=True):
            sprite = pygame.sprite.DirtySprite()
            sprite.image = pygame.Surface(damage.WIDGET)
            sprite.image.fill(fill)
            sprite.rect = sprite.image.get_rect(topleft=place)
            sprites.append(sprite)
        group.add(*sprites)
        group.clear(screen, background)
        group.draw(screen)

        def frame(changes):
            for index, x, y, fill in changes:
                sprite = sprites[index]
                sprite.image.fill(fill)
                sprite.rect.topleft = (x, y)
                sprite.dirty = 1
            group.draw(screen)

        times = {row: [] for row in damage.PEER_ROWS}
        full_screen = dict.fromkeys(damage.PEER_ROWS, 0)
        for row, timed, checked in damage.schedule(size, cycles, block, settle, warmup):
            changes = widgets.changes(damage.changed(row, count))
            started = time.perf_counter()
            frame(changes)
            elapsed = (time.perf_counter() - started) * 1e3
            if not timed or row not in times:
                continue
            times[row].append(elapsed)
            full_screen[row] += not group._use_update
            if checked and pygame.image.tobytes(screen, "RGBA") != widgets.picture():
                raise SystemExit(f"pygame-ce, N = {count}, {row}: the screen is not the scene")
        results[count] = {row: {"ms": times[row], "full_screen": full_screen[row]} for row in times}
    pygame.display.quit()
    print(json.dumps({"pygame": pygame.version.ver, "counts": results}))


if __name__ == "__main__":
    main()
