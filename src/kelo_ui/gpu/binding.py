"""`md.rl`: the raylib binding as the toolkit uses it.

It is `pyray` (every name not defined here is pyray's own), except where the
window context (`kelo_ui.window.context`) must take part:

- Making and releasing textures and render textures (`load_render_texture`,
  `load_texture`, `load_texture_from_image`, `load_texture_cubemap` and their
  `unload_*`) go through the context. They need the open window and its
  thread (RuntimeError otherwise); what they make belongs to that window and
  is dead (ids zeroed, refused by the drawing) once unloaded, unreachable, or
  its window closed; unloading a dead one does nothing. They refuse what
  raylib would make empty or broken: a render texture below 1x1
  (ValueError), beyond the driver's limits or one whose framebuffer the driver
  cannot complete (RuntimeError, nothing left allocated), a texture raylib
  could not load (RuntimeError). They leave the current drawing target
  current.
- The scopes (`begin_texture_mode`, `end_texture_mode`, `begin_blend_mode`,
  `end_blend_mode`) and `clear_background` are kelo_raylib's: they keep the
  toolkit's scope stacks, and a clear lands above what was drawn before it.
- Every other raylib function that needs the window (drawing, text, shaders,
  the window's own queries) is refused with RuntimeError unless the window is
  open on the calling thread, instead of writing into raylib's freed state.
  Those that act on the GPU at once, outside raylib's batch (updating or
  reading a texture, its filter, a shader's values), draw the batch first.
  Functions that need no window (images, colours, maths, files) and every
  value that is not a function are pyray's own.
- `close_window` closes the toolkit's window; `init_window` is refused:
  `kelo_ui.window.open_window` opens it. `is_window_ready()` is true while a
  window of this process is open and raylib's window is ready.

Objects made and calls made straight through `pyray` are not tracked or
checked: nothing of the above holds for them.
"""

from __future__ import annotations

import os
import types
from typing import Any

import pyray

from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.fast.raylib.kelo_raylib import context

# Families of functions that need no window: they work on memory only.
_WINDOW_FREE = (
    "image_",
    "gen_image_",
    "load_image",
    "unload_image",
    "export_image",
    "is_image_",
    "color_",
    "fade",
    "get_color",
    "get_pixel_",
    "set_pixel_color",
    "vector2_",
    "vector3_",
    "vector4_",
    "matrix_",
    "quaternion_",
    "clamp",
    "lerp",
    "normalize",
    "remap",
    "wrap",
    "float_equals",
    "check_collision_",
    "get_collision_rec",
    "get_random_value",
    "set_random_seed",
    "load_random_sequence",
    "unload_random_sequence",
    "set_trace_log_level",
    "set_trace_log_callback",
    "trace_log",
    "set_config_flags",
    "text_",
    "get_codepoint",
    "load_codepoints",
    "unload_codepoints",
    "load_utf8",
    "unload_utf8",
    "file_exists",
    "directory_exists",
    "is_file_",
    "get_file_",
    "get_directory_path",
    "get_prev_directory_path",
    "get_working_directory",
    "get_application_directory",
    "change_directory",
    "is_path_file",
    "make_directory",
    "load_directory_files",
    "unload_directory_files",
    "load_file_",
    "unload_file_",
    "save_file_",
    "export_data_as_code",
    "compress_data",
    "decompress_data",
    "encode_data_base64",
    "decode_data_base64",
    "compute_",
    "load_wave",
    "unload_wave",
    "wave_",
    "export_wave",
    "is_wave_",
    "mem_",
)
# ... but these of those families draw text with raylib's font or read the GPU.
_NEEDS_THE_WINDOW = frozenset(
    {
        "load_image_from_texture",
        "load_image_from_screen",
        "image_draw_text",
        "image_draw_text_ex",
        "image_text",
        "image_text_ex",
    }
)
# Calls that act on the GPU at once rather than through raylib's batch: the
# batch is drawn first, so that they come after what was drawn before them.
_ACTS_AT_ONCE = frozenset(
    {
        "update_texture",
        "update_texture_rec",
        "gen_texture_mipmaps",
        "set_texture_filter",
        "set_texture_wrap",
        "load_image_from_texture",
        "load_image_from_screen",
        "take_screenshot",
        "set_shader_value",
        "set_shader_value_v",
        "set_shader_value_matrix",
        "set_shader_value_texture",
        "unload_shader",
        "unload_font",
        "unload_model",
        "unload_mesh",
        "unload_material",
        "update_mesh_buffer",
        "rl_read_texture_pixels",
        "rl_read_screen_pixels",
        "rl_update_texture",
        "rl_unload_texture",
        "rl_unload_framebuffer",
        "rl_set_uniform",
        "rl_set_uniform_matrix",
        "rl_set_uniform_sampler",
    }
)


def __getattr__(name: str) -> Any:
    value = getattr(pyray, name)
    if (
        not isinstance(value, types.FunctionType)
        or name[:1].isupper()
        or (name.startswith(_WINDOW_FREE) and name not in _NEEDS_THE_WINDOW)
    ):
        return value
    guarded = context.guard(name, value, name in _ACTS_AT_ONCE)
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


def load_texture(file_name: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> Any:
    """A texture loaded from an image file, owned by the open window."""
    return context.load_texture(os.fsencode(file_name))


def init_window(width: int, height: int, title: str) -> None:
    """Refused: the toolkit's window is opened by kelo_ui.window.open_window."""
    raise RuntimeError("init_window: the toolkit opens raylib's window with kelo_ui.window.open_window")


def close_window() -> None:
    """Close the toolkit's window (kelo_ui.window.close_window)."""
    from kelo_ui.window import close_window as close

    close()
