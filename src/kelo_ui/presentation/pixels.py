"""Reading a render target's pixels back from the GPU, and saving them as PNG.

Rows come back top-down: row 0 is y = 0 as drawn in texture mode. (OpenGL
stores a render texture bottom-up; that is undone here.) Reading needs the
window that the target was made under to be open, and its thread.
"""

from __future__ import annotations

import os
import struct
import zlib

from kelo_ui.core import modules
from kelo_ui.gpu import memory, ownership
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture

RGBA8 = 7  # raylib's PIXELFORMAT_UNCOMPRESSED_R8G8B8A8


def read_rgba(target: KlRenderTexture) -> tuple[int, int, bytes]:
    """`(width, height, data)`: the target's pixels as RGBA8 bytes, top row first.

    Raises TypeError for anything but a KlRenderTexture, ValueError for a
    target that is not loaded, RuntimeError when no window is open, when
    called from another thread than the window's, or when the target is dead
    (unloaded, or its window closed).
    """
    if not isinstance(target, KlRenderTexture):
        raise TypeError(f"read_rgba needs a KlRenderTexture, not {type(target).__name__}")
    if not target.loaded:
        raise ValueError("read_rgba: the render texture is not loaded")
    rl = modules.rl
    if not rl.is_window_ready():
        raise RuntimeError("read_rgba needs an open window (kelo_ui.window.open_window)")
    ownership.for_gpu_work("read_rgba")
    render_texture = target.render_texture  # held: the view below points into it
    texture = target.texture
    if texture.id == 0:
        why = memory.why_dead(texture) or "it has no GPU texture (was it made without a window?)"
        raise RuntimeError(f"read_rgba: the render texture is dead: {why}")
    # Draws still waiting in raylib's batch belong in the picture.
    rl.rl_draw_render_batch_active()
    image = rl.load_image_from_texture(texture)
    try:
        if not image.data:
            raise RuntimeError("read_rgba: raylib read no pixels back")
        if image.format != RGBA8:
            rl.image_format(image, RGBA8)
        width, height = image.width, image.height
        stride = width * 4
        stored = rl.ffi.buffer(image.data, stride * height)
        data = b"".join(stored[row * stride:(row + 1) * stride] for row in range(height - 1, -1, -1))
    finally:
        rl.unload_image(image)
    return width, height, data


def encode_png(width: int, height: int, data: bytes) -> bytes:
    """A PNG file of RGBA8 pixels, top row first."""
    if width < 1 or height < 1:
        raise ValueError(f"a PNG image is at least 1x1, not {width}x{height}")
    stride = width * 4
    if len(data) != stride * height:
        raise ValueError(f"{width}x{height} RGBA8 pixels take {stride * height} bytes, got {len(data)}")

    def chunk(kind: bytes, body: bytes) -> bytes:
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    # Each row starts with its filter type: 0, none.
    rows = b"".join(b"\0" + data[y * stride:(y + 1) * stride] for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8 bits per channel, RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 6))
            + chunk(b"IEND", b""))


def save_png(target: KlRenderTexture, path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> str | bytes:
    """Write the target's pixels (as read_rgba reads them) to a PNG file at
    `path`, a file system path (a file descriptor is refused); returns the
    path written."""
    if isinstance(path, int) or not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"save_png: path must be a file system path, not {type(path).__name__}")
    path = os.fspath(path)
    png = encode_png(*read_rgba(target))
    with open(path, "wb") as file:
        file.write(png)
    return path
