"""`python -m kelo_ui` renders its settings panel headless and saves it as demo.png."""

import os
import subprocess
import sys

from kelo_ui import __main__ as demo
from kelo_ui.core.modules import rl
from support.display import near, need_display


def test_demo_renders_the_panel(tmp_path):
    need_display(own_server=True)  # run as on a machine without a screen
    env = {name: value for name, value in os.environ.items() if name != "DISPLAY"}
    result = subprocess.run(
        [sys.executable, "-m", "kelo_ui"], capture_output=True, text=True, cwd=tmp_path, env=env, timeout=120
    )
    assert result.returncode == 0, result.stderr
    path = tmp_path / "demo.png"
    lines = result.stdout.splitlines()
    assert lines[0] == str(path) and len(lines) == 2 and lines[1].startswith(f"{demo.WIDTH}x{demo.HEIGHT} ")

    image = rl.load_image(str(path))
    try:
        assert (image.width, image.height, image.format) == (demo.WIDTH, demo.HEIGHT, 7)
        data = bytes(rl.ffi.buffer(image.data, demo.WIDTH * demo.HEIGHT * 4))
    finally:
        rl.unload_image(image)

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

    # The same white button cache, tinted by its state; the hovered one glows
    # (the additive glow brightens what is around it), the other does not.
    (ax, ay), (bx, by) = place["apply"], place["cancel"]
    assert [at(ax + 6, ay + 14), at(bx + 6, by + 14)] == [demo.HOVER_TINT, demo.IDLE_TINT]
    glowing, plain = at(ax + 42, ay - 3), at(bx + 42, by - 3)
    assert plain == demo.PANEL and glowing[2] > demo.PANEL[2] + 20

    # The drop shadow darkens the backdrop under the panel; a row's far left
    # is bare backdrop, as the gradient is vertical.
    shadow, bare = at(x + width // 2, y + height + 4), at(2, y + height + 4)
    assert all(s < b for s, b in zip(shadow[:3], bare[:3], strict=True))

    # The tooltip lets the panel show through: its colour mixed with the panel's.
    tx, ty = place["tooltip"]
    alpha = demo.TIP_ALPHA / 255
    mixed = tuple(round(t * alpha + p * (1 - alpha)) for t, p in zip(demo.TIP[:3], demo.PANEL[:3], strict=True))
    assert near(at(tx + 3, ty + 6)[:3], mixed, 2), (at(tx + 3, ty + 6), mixed)
