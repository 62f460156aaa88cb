"""`md.rl`: the raylib binding as the toolkit uses it.

It is `pyray`, each of whose functions is declared in
`kelo_ui.gpu.functions` by what md.rl does with it; this module does what
that table says, and every name it does not declare is pyray's own:

- Functions that need no window (images in memory, maths, files, text,
  audio) are pyray's own.
- Every other function is refused with RuntimeError unless the window is
  open on the calling thread, instead of writing into raylib's freed state.
  Its arguments are made plain before it runs (whatever code converting them
  needs runs first, and the window is asked again after it).
  - One that draws needs somewhere to draw: a target's scope (`with rt:`) or
    the window's frame (`with window.frame():`).
  - One that acts on the GPU at once, outside raylib's batch (updating a
    texture, a shader's values, drawing a model), draws the batch first; one
    that reads GPU memory waits for the driver too.
  - One that may resize the window is refused inside a target's scope.
  - A texture argument that is dead is refused; an atlas cell acts on its
    area of its page exactly, or is refused (ValueError), as the table says.
- The scopes' state (texture, blend, scissor, shader and camera modes, and
  rlgl's matrix stack) is the window context's: scopes own it.
- Textures and render textures (`load_render_texture`, `load_texture`,
  `load_texture_from_image`, `load_texture_cubemap` and their `unload_*`) are
  made and released through the window context and belong to the window.
- `close_window` closes the toolkit's window; `is_window_ready()` is true
  while a window of this process is open; `clear_background` is
  kelo_raylib's; `unload_shader` refuses a shader a scope draws with.
- Functions that would change what the scopes or the toolkit own behind
  their back (`init_window`, rlgl's state switches and raw GPU objects,
  GLFW's own API) raise RuntimeError saying what to use instead.

Objects made and calls made straight through `pyray` are not tracked or
checked: nothing of the above holds for them.
"""

from __future__ import annotations

import os
import types
from typing import Any

import pyray
import raylib

from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.fast.raylib.kelo_raylib import context
from kelo_ui.gpu import functions as _functions

# The C types through which a function takes a texture (an atlas cell may be one).
_TEXTURES = frozenset({"struct Texture", "struct RenderTexture", "struct Texture *", "struct RenderTexture *"})
# pyray names each C function of the binding so.
_C_NAMES = {pyray._underscore(name): name for name in dir(raylib.rl) if not name.startswith("_")}


def _texture_parameters(name: str) -> int:
    """The positions of the parameters through which `name` takes a texture, as bits."""
    c_name = _C_NAMES.get(name)
    if c_name is None:
        return 0
    try:
        arguments = raylib.ffi.typeof(getattr(raylib.rl, c_name)).args
    except (AttributeError, TypeError):
        return 0
    return sum(1 << at for at, argument in enumerate(arguments) if argument.cname in _TEXTURES)


def __getattr__(name: str) -> Any:
    value = getattr(pyray, name)
    # A function the table does not know (a newer binding's) needs the window.
    kind = _functions.KINDS.get(name, _functions.WINDOW)
    if not isinstance(value, types.FunctionType) or name[:1].isupper() or kind == _functions.FREE:
        return value
    cells = _functions.CELLS.get(name)
    reason = _functions.REFUSALS.get(name) or _functions.CELL_REFUSALS.get(name)
    guarded = context.guard(name, value, kind, cells, _texture_parameters(name), reason)
    globals()[name] = guarded  # made once
    return guarded


def __dir__() -> list[str]:
    return sorted(set(dir(pyray)) | set(globals()))


is_window_ready = context.is_window_ready
load_render_texture = context.load_render_texture
unload_render_texture = context.unload_render_texture
load_texture_from_image = context.load_texture_from_image
load_texture_cubemap = context.load_texture_cubemap
unload_texture = context.unload_texture

begin_texture_mode = kelo_raylib.begin_texture_mode
end_texture_mode = kelo_raylib.end_texture_mode
begin_blend_mode = kelo_raylib.begin_blend_mode
end_blend_mode = kelo_raylib.end_blend_mode
clear_background = kelo_raylib.clear_background
begin_scissor_mode = context.begin_scissor_mode
end_scissor_mode = context.end_scissor_mode
begin_shader_mode = context.begin_shader_mode
end_shader_mode = context.end_shader_mode
begin_mode_2d = context.begin_mode_2d
end_mode_2d = context.end_mode_2d
begin_mode_3d = context.begin_mode_3d
end_mode_3d = context.end_mode_3d
rl_push_matrix = context.rl_push_matrix
rl_pop_matrix = context.rl_pop_matrix
rl_translatef = context.rl_translatef
rl_rotatef = context.rl_rotatef
rl_scalef = context.rl_scalef
rl_mult_matrixf = context.rl_mult_matrixf
rl_load_identity = context.rl_load_identity
unload_shader = context.unload_shader
get_render_width = context.get_render_width
get_render_height = context.get_render_height


def load_texture(file_name: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> Any:
    """A texture loaded from an image file, owned by the open window."""
    return context.load_texture(os.fsencode(file_name))


def close_window() -> None:
    """Close the toolkit's window (kelo_ui.window.close_window)."""
    from kelo_ui.window import close_window as close

    close()
