"""`python -m kelo_ui` renders its settings panel headless and saves it as demo.png;
with --frames it animates the panel as a retained Scene and saves the last frame."""

import os
import re
import subprocess
import sys

import pytest

from kelo_ui import __main__ as demo
from kelo_ui.core.modules import rl
from kelo_ui.presentation.pixels import read_rgba
from support.display import near, need_display

FRAME_LINE = re.compile(r"frame (\d+): \d+\.\d\d ms, (\d+) px damaged in (\d+) box(?:es)? \((\d+\.\d)% of the scene\)")


@pytest.mark.parametrize(
    "args, frames, hovered",
    [
        ([], 0, "apply"),
        (["--frames", "3"], 3, "cancel"),
    ],
    ids=["still", "frames"],
)
def test_demo_renders_the_panel(tmp_path, window, args, frames, hovered):
    need_display(own_server=True)  # run as on a machine without a screen
    env = {name: value for name, value in os.environ.items() if name != "DISPLAY"}
    result = subprocess.run(
        [sys.executable, "-m", "kelo_ui", *args], capture_output=True, text=True, cwd=tmp_path, env=env, timeout=120
    )
    assert result.returncode == 0, result.stderr
    path = tmp_path / "demo.png"
    lines = result.stdout.splitlines()
    assert len(lines) == frames + 2 and lines[-2] == str(path), lines
    assert lines[-1].startswith(f"{demo.WIDTH}x{demo.HEIGHT} ")

    # A line a frame, each drawing again only part of the scene; the summary
    # gives their average.
    scene_area = demo.WIDTH * demo.HEIGHT
    damaged = []
    for number, line in enumerate(lines[:frames], 1):
        found = FRAME_LINE.fullmatch(line)
        assert found and int(found[1]) == number, line
        drawn = int(found[2])
        assert 0 < drawn < scene_area and found[4] == f"{100 * drawn / scene_area:.1f}", line
        damaged.append(drawn)
    if frames:
        assert f", {frames} frames " in lines[-1] and f" {sum(damaged) / frames:.0f} px damaged per frame " in lines[-1]

    image = rl.load_image(str(path))
    try:
        assert (image.width, image.height, image.format) == (demo.WIDTH, demo.HEIGHT, 7)
        data = bytes(rl.ffi.buffer(image.data, demo.WIDTH * demo.HEIGHT * 4))
    finally:
        rl.unload_image(image)

    # The picture is the scene as it stands at the end composed whole, from
    # new caches: what each frame left undrawn was still right. Without
    # frames, the retained scene's still picture is the same as the blits'.
    brightness, pointer_at = demo.pose(frames, frames or 1)
    scene, _, _ = demo.retained(brightness, pointer_at)
    assert scene.compose() == [(0, 0, demo.WIDTH, demo.HEIGHT)]
    composed = read_rgba(scene.target)[2]
    differing = [at for at in range(0, len(data), 4) if data[at : at + 4] != composed[at : at + 4]]
    assert not differing, f"{len(differing)} pixels differ, the first at {divmod(differing[0] // 4, demo.WIDTH)[::-1]}"

    def at(x, y):
        offset = (y * demo.WIDTH + x) * 4
        return tuple(data[offset : offset + 4])

    # The translucent parts are composed so that the scene stays opaque.
    assert set(data[3::4]) == {255}
    x, y, width, height = demo.PANEL_RECT
    place = demo.layout()
    assert at(x + 100, y + 190) == demo.PANEL

    # The checked box is filled with the accent colour, the other one hollow.
    cx, cy = place["night light"]
    ux, uy = place["reduce motion"]
    assert [at(cx + 8, cy + 1), at(ux + 8, uy + 8), at(ux + 8, uy)] == [demo.ACCENT, demo.PANEL, demo.MUTED]

    # The knob where the slider's value puts it: its accent centre in a white
    # ring, the bare track past it.
    sx, sy = place["brightness slider"]
    knob = sx + 8 + round(184 * brightness / 100)
    assert [at(knob, sy + 8), at(knob + 6, sy + 8), at(knob + 12, sy + 8)] == [demo.ACCENT, demo.TEXT, demo.TRACK]

    # The same white button cache, tinted by its state; the hovered one glows
    # (the additive glow brightens what is around it), the other does not.
    (ax, ay), (bx, by) = place[hovered], place[{"apply": "cancel", "cancel": "apply"}[hovered]]
    assert [at(ax + 6, ay + 14), at(bx + 6, by + 14)] == [demo.HOVER_TINT, demo.IDLE_TINT]
    glowing, plain = at(ax + 42, ay - 3), at(bx + 42, by - 3)
    assert plain == demo.PANEL and glowing[2] > demo.PANEL[2] + 20

    # The drop shadow darkens the backdrop under the panel; a row's far left
    # is bare backdrop, as the gradient is vertical.
    shadow, bare = at(x + width // 2, y + height + 4), at(2, y + height + 4)
    assert all(s < b for s, b in zip(shadow[:3], bare[:3], strict=True))

    # Apply's tooltip, shown while Apply is hovered, lets the panel show
    # through: its colour mixed with the panel's.
    tx, ty = place["tooltip"]
    alpha = demo.TIP_ALPHA / 255 if hovered == "apply" else 0
    mixed = tuple(round(t * alpha + p * (1 - alpha)) for t, p in zip(demo.TIP[:3], demo.PANEL[:3], strict=True))
    assert near(at(tx + 3, ty + 6)[:3], mixed, 2), (at(tx + 3, ty + 6), mixed)
