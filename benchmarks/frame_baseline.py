"""The baseline of `make bench-frame`: the scene as a program writes it by
hand without the toolkit. pyray draws each widget once into a render texture
of its own; every frame composes them with raw cffi DrawTextureRec calls on
prebuilt structs, then waits for the rasteriser. This process never imports
kelo_ui and keeps the C library's default heap settings.

Prints one JSON line: {count: {"ms": [frame times], "hash": scene digest}}."""

import hashlib
import json
import sys
import time

import pyray
import raylib

import frame_scene as scene

assert "kelo_ui" not in sys.modules


def main():
    frames = int(sys.argv[1])
    rl, ffi = raylib.rl, raylib.ffi
    pyray.set_trace_log_level(pyray.LOG_WARNING)
    pyray.set_config_flags(pyray.FLAG_WINDOW_HIDDEN)
    pyray.init_window(64, 64, "bench-frame baseline")
    finish = scene.gl_finish()
    target = rl.LoadRenderTexture(*scene.SCENE)
    results = {}
    for count in scene.COUNTS:
        widgets = []
        for index in range(count):
            widget = rl.LoadRenderTexture(*scene.WIDGET)
            pyray.begin_texture_mode(widget)
            pyray.clear_background((0, 0, 0, 0))
            scene.draw_widget(pyray, index)
            pyray.end_texture_mode()
            widgets.append(widget)
        width, height = scene.WIDGET
        textures = [ffi.new("Texture *", widget.texture)[0] for widget in widgets]
        source = ffi.new("Rectangle *", (0, 0, width, -height))[0]
        places = [ffi.new("Vector2 *", place)[0] for place in scene.positions(count)]
        white = ffi.new("Color *", scene.WHITE)[0]
        background = ffi.new("Color *", scene.BACKGROUND)[0]
        draw = rl.DrawTextureRec
        times = []
        for _ in range(frames):
            started = time.perf_counter()
            rl.BeginTextureMode(target)
            rl.ClearBackground(background)
            for texture, place in zip(textures, places, strict=True):
                draw(texture, source, place, white)
            rl.EndTextureMode()
            finish()
            times.append((time.perf_counter() - started) * 1e3)
        image = rl.LoadImageFromTexture(target.texture)
        stride = scene.SCENE[0] * 4
        stored = bytes(ffi.buffer(image.data, stride * scene.SCENE[1]))
        rl.UnloadImage(image)
        # Top row first, as the toolkit reads a target back.
        top_down = b"".join(stored[row * stride : (row + 1) * stride] for row in reversed(range(scene.SCENE[1])))
        digest = hashlib.sha256(top_down).hexdigest()
        results[count] = {"ms": times, "hash": digest}
        for widget in widgets:
            rl.UnloadRenderTexture(widget)
    pyray.close_window()
    print(json.dumps(results))


if __name__ == "__main__":
    main()
