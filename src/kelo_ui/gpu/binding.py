"""`md.rl`: the raylib binding as the toolkit uses it.

It is `pyray` (every name not defined here is pyray's own), except that the
functions that make and release textures and render textures go through the
open window (`ownership`):

- they need an open window and its thread, and raise RuntimeError otherwise;
- what they make belongs to that window, lives in memory the toolkit keeps,
  and is dead (ids zeroed, refused by the drawing backends) once unloaded,
  unreachable, or its window closed; unloading a dead one does nothing;
- they refuse what raylib would make empty or broken: a render texture below
  1x1 (ValueError), beyond the driver's limits or one whose framebuffer the
  driver cannot complete (RuntimeError, nothing left allocated), a texture
  raylib could not load (RuntimeError);
- they leave the current drawing target current.

`is_window_ready()` is true while a window of this process is open and
raylib's window is ready.

Objects made straight through `pyray` are not tracked: nothing of the above
holds for them.
"""

from __future__ import annotations

import operator
import os
from typing import Any

import pyray
from raylib import ffi
from raylib import rl as lib

from kelo_ui.gpu import ownership

_TEXTURE = ffi.typeof("Texture")
_RENDER_TEXTURE = ffi.typeof("RenderTexture")


def __getattr__(name: str) -> Any:
    return getattr(pyray, name)


def __dir__() -> list[str]:
    return sorted(set(dir(pyray)) | set(globals()))


def is_window_ready() -> bool:
    return ownership.current() is not None and bool(lib.IsWindowReady())


def load_render_texture(width: int, height: int) -> Any:
    """A new render texture of width x height, owned by the open window."""
    return ownership.for_gpu_work("load_render_texture").load_render_texture(width, height)


def unload_render_texture(render_texture: Any) -> None:
    """Release a render texture; one that is already dead is left alone."""
    _unload("unload_render_texture", render_texture, _RENDER_TEXTURE)


def load_texture(file_name: str) -> Any:
    """A texture loaded from an image file, owned by the open window."""
    name = os.fsdecode(os.fspath(file_name))  # an exact str: its conversion below runs no code
    objects = ownership.for_gpu_work("load_texture")
    return objects.load_texture("load_texture", lambda: pyray.load_texture(name))


def load_texture_from_image(image: Any) -> Any:
    """A texture made from an Image, owned by the open window."""
    objects = ownership.for_gpu_work("load_texture_from_image")
    return objects.load_texture("load_texture_from_image", lambda: pyray.load_texture_from_image(image))


def load_texture_cubemap(image: Any, layout: int) -> Any:
    """A cubemap texture made from an Image, owned by the open window."""
    layout = operator.index(layout)  # may run code: before any raylib call
    objects = ownership.for_gpu_work("load_texture_cubemap")
    return objects.load_texture("load_texture_cubemap", lambda: pyray.load_texture_cubemap(image, layout))


def unload_texture(texture: Any) -> None:
    """Release a texture; one that is already dead is left alone."""
    _unload("unload_texture", texture, _TEXTURE)


def _unload(function: str, cdata: Any, kind: Any) -> None:
    if isinstance(cdata, ffi.CData) and ffi.typeof(cdata) is kind and cdata.id == 0:
        return  # dead: its GPU object is gone, whoever's window is open now
    ownership.for_gpu_work(function).unload(function, cdata, kind)
