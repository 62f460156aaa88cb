"""Reading a render target's pixels back from the GPU, and saving them as PNG.

Rows come back top-down: row 0 is y = 0 as drawn in texture mode. (OpenGL
stores a render texture bottom-up; that is undone here.) Reading needs the
window that the target was made under to be open, and its thread.
"""

from __future__ import annotations

import os
import struct
import zlib
from typing import Any

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.raylib.kelo_raylib import context


def read_rgba(target: KlRenderTexture) -> tuple[int, int, bytes]:
    """`(width, height, data)`: the target's pixels as RGBA8 bytes, top row first.

    What raylib still holds in its batch is drawn first, and the driver
    finishes everything it was asked, so the pixels are exactly those drawn
    so far. Raises TypeError for anything but a KlRenderTexture;
    AssertionError("Render texture not loaded") for a target that is not
    loaded, as its own checked methods do (unless Python runs with -O);
    RuntimeError when no window is open, when called from another thread
    than the window's, or when the target is dead (unloaded, or its window
    closed).
    """
    if not isinstance(target, KlRenderTexture):
        raise TypeError(f"read_rgba: target must be a KlRenderTexture, not {type(target).__name__}")
    return context.read_rgba(target)  # type: ignore[no-any-return]


def read_array(target: KlRenderTexture) -> Any:
    """The target's pixels as a numpy array of height x width x 4 (RGBA, uint8),
    top row first. Needs numpy (`pip install numpy`, or `pip install
    kelo_ui[numpy]`); raises as read_rgba does."""
    try:
        import numpy
    except ImportError as error:
        raise ImportError(f"read_array needs numpy: pip install numpy ({error})") from error
    width, height, data = read_rgba(target)
    return numpy.frombuffer(data, dtype=numpy.uint8).reshape(height, width, 4)


def read_image(target: KlRenderTexture) -> Any:
    """The target's pixels as a Pillow image (mode "RGBA"). Needs Pillow (`pip
    install pillow`, or `pip install kelo_ui[pillow]`); raises as read_rgba
    does."""
    try:
        from PIL import Image
    except ImportError as error:
        raise ImportError(f"read_image needs Pillow: pip install pillow ({error})") from error
    width, height, data = read_rgba(target)
    return Image.frombytes("RGBA", (width, height), data)


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
    rows = b"".join(b"\0" + data[y * stride : (y + 1) * stride] for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8 bits per channel, RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b"")


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
