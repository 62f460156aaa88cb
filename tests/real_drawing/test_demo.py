"""`python -m kelo_ui` renders its scene headless and saves it as demo.png."""

import os
import subprocess
import sys

from kelo_ui.core.modules import rl
from kelo_ui.presentation.color import Color
from support.display import need_display

BACKGROUND = (28, 30, 46, 255)


def test_demo_renders_the_scene(tmp_path):
    need_display(own_server=True)  # run as on a machine without a screen
    env = {name: value for name, value in os.environ.items() if name != "DISPLAY"}
    result = subprocess.run([sys.executable, "-m", "kelo_ui"], capture_output=True, text=True, cwd=tmp_path,
                            env=env, timeout=120)
    assert result.returncode == 0, result.stderr
    path = tmp_path / "demo.png"
    lines = result.stdout.splitlines()
    assert lines[0] == str(path) and len(lines) == 2 and "320x240" in lines[1]

    image = rl.load_image(str(path))
    try:
        assert (image.width, image.height, image.format) == (320, 240, 7)
        data = bytes(rl.ffi.buffer(image.data, 320 * 240 * 4))
    finally:
        rl.unload_image(image)

    def at(x, y):
        return tuple(data[(y * 320 + x) * 4:(y * 320 + x) * 4 + 4])

    # The tile's dark band marks its top-left corner: upright at (16, 16),
    # mirrored by the blit without flip at (96, 16).
    assert [at(0, 0), at(319, 239)] == [BACKGROUND, BACKGROUND]
    assert [at(20, 20), at(20, 75)] == [Color.DarkBrown, Color.Orange]
    assert [at(100, 20), at(100, 75)] == [Color.Orange, Color.DarkBrown]
