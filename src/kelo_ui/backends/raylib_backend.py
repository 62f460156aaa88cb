"""The drawing backend that calls raylib's C functions through the binding, from Python.

`kelo_ui.window.open_window` installs the native backend
(`kelo_raylib.NativeBackend`, the same calls made in C++) and this one only
when the installed binding does not match that one; both draw the same
pixels and keep the same scopes. The calls go straight to the C library under
the `pyray` binding (`raylib.rl`): the objects that `pyray` makes (render
textures, textures) are that library's own structures, and the tuples the
toolkit passes for vectors, rectangles and colours convert on the way in.

Meaning of the arguments, in raylib's terms:

- colours are `(r, g, b, a)` tuples of 0..255; a tint of None means white
  (no tint), a clear colour of None means fully transparent;
- a render texture stores its rows bottom-up, so drawing its colour texture
  with a negative source height (a flip) shows it the right way up;
- blend modes are raylib's `BlendMode` (0 alpha to 7 custom separate).

Scopes nest: `begin_texture_mode(rt)` makes `rt` current and
`end_texture_mode()` makes the enclosing target current again (the window
when there is none); blend modes likewise, alpha (0) with none open. A
transition that changes nothing makes no raylib call, so raylib does not
draw its batch for it.
"""

from __future__ import annotations

import operator
import threading
from collections.abc import Sequence
from typing import Any

from raylib import ffi
from raylib import rl as lib

from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture

WHITE = (255, 255, 255, 255)
BLANK = (0, 0, 0, 0)
ORIGIN = (0.0, 0.0)
BLEND_MODES = range(min(ffi.typeof("BlendMode").relements.values()),
                    max(ffi.typeof("BlendMode").relements.values()) + 1)

_TEXTURE = ffi.typeof("Texture")
_RENDER_TEXTURE = ffi.typeof("RenderTexture")
_PLAIN_NUMBERS = frozenset((int, float))
_get_ident = threading.get_ident


def colour_texture(texture: Any) -> Any:
    """The raylib Texture to draw for `texture`: a KlRenderTexture's or a
    raylib RenderTexture's colour texture, anything else as it is."""
    if isinstance(texture, KlRenderTexture):
        return texture.texture
    if isinstance(texture, ffi.CData) and ffi.typeof(texture) is _RENDER_TEXTURE:
        return texture.texture
    return texture


def _settled(ctype: str, value: Any) -> Any:
    """`value` in a form whose conversion at the call runs no Python code:
    a tuple of plain numbers or a cdata as it is, anything else converted now.
    A conversion may run code (`__float__`, `__index__`, `__getitem__`) that
    releases the texture about to be drawn; it must not run after the
    texture's id was checked."""
    if value.__class__ is tuple:
        for item in value:
            if item.__class__ not in _PLAIN_NUMBERS:
                break
        else:
            return value
    elif isinstance(value, ffi.CData):
        return value
    return ffi.new(f"{ctype} *", value)[0]


class RaylibBackend:
    """Draws into raylib's current target, keeping the window's scopes."""

    def __init__(self) -> None:
        # The render textures begun, innermost last; None where one was
        # released inside its scope (its end is still to come).
        self._targets: list[Any] = []
        self._blends: list[int] = []   # the blend modes begun, innermost last
        self._objects: Any = None      # the window's WindowObjects while attached
        self._thread: int | None = None
        self._detached = "the backend is not attached to a window"
        self._pending = False
        self._plain_tint: Any = WHITE

    # --- the window's side ------------------------------------------------------

    def attach(self, objects: Any) -> None:
        self._targets, self._blends = [], []
        self._objects, self._thread, self._pending = objects, threading.get_ident(), False

    def detach(self, reason: str) -> None:
        self._targets, self._blends = [], []
        self._objects, self._thread, self._detached = None, None, reason

    def current_target(self) -> Any:
        return next((target for target in reversed(self._targets) if target is not None), None)

    def _current_id(self) -> int:
        current = self.current_target()
        return 0 if current is None else current.id

    def _blend_mode(self) -> int:
        """The innermost open blend mode; raylib's default (alpha, 0) when none is."""
        return self._blends[-1] if self._blends else 0

    def forget_target(self, render_texture: Any) -> None:
        self._window_thread("forget_target")
        ident = render_texture.id
        if ident == 0:
            return
        previous = self._current_id()
        self._targets = [None if target is not None and target.id == ident else target for target in self._targets]
        self._make_current(previous)

    def end_scopes(self) -> int:
        self._window_thread("end_scopes")
        ended = len(self._targets) + len(self._blends)
        if self._targets:
            self._targets = []
            lib.EndTextureMode()
        if self._blends:
            self._blends = []
            lib.EndBlendMode()
        return ended

    def open_scopes(self) -> int:
        return len(self._targets) + len(self._blends)

    def note_pending_releases(self) -> None:
        self._pending = True

    # --- checks -------------------------------------------------------------------

    def _window_thread(self, function: str) -> None:
        if self._thread != threading.get_ident():
            self._refuse(function)

    def _refuse(self, function: str) -> None:
        if self._objects is None:
            raise RuntimeError(f"{function}: raylib has no open window to draw into ({self._detached})")
        raise RuntimeError(f"{function}: called from thread {threading.get_ident()}, but the window draws "
                           f"on its own thread ({self._thread}) only")

    def _check(self, function: str) -> None:
        """At the start of every drawing call: the window's thread and its
        pending releases."""
        if self._thread != _get_ident():
            self._refuse(function)
        if self._pending:
            self._pending = False
            self._objects.run_pending_releases()

    def _ready(self, function: str) -> None:
        """Right before raylib is called, after the conversions (which may run
        code that closes the window or detaches this backend): raylib's
        window (raylib may have closed it itself) and this backend's."""
        if self._thread is None:
            self._refuse(function)
        if not lib.IsWindowReady():
            raise RuntimeError(f"{function}: raylib has no open window to draw into")

    def _alive(self, function: str, parameter: str, cdata: Any, ctype: Any) -> None:
        """A Texture or RenderTexture whose GPU object is gone (id 0) is
        refused, saying why; objects of other types are left to cffi."""
        if getattr(cdata, "id", None) == 0 or (ctype is _RENDER_TEXTURE and getattr(
                getattr(cdata, "texture", None), "id", None) == 0):
            if isinstance(cdata, ffi.CData) and ffi.typeof(cdata) is ctype:
                why = self._objects.why_dead(cdata) if self._objects is not None else None
                raise RuntimeError(f"{function}: {parameter} is dead: {why or 'it has no GPU object (id 0)'}")

    # --- scopes -------------------------------------------------------------------

    def _make_current(self, previous_id: int) -> None:
        """After the stack changed, with the target `previous_id` current
        before (0: the window): make the innermost live target (or the
        window) current, unless it is the same."""
        current = self.current_target()
        if current is None:
            if previous_id != 0:
                lib.EndTextureMode()
        elif current.id != previous_id:
            lib.BeginTextureMode(current)

    def begin_texture_mode(self, render_texture: Any) -> None:
        self._check("begin_texture_mode")
        if not (isinstance(render_texture, ffi.CData) and ffi.typeof(render_texture) is _RENDER_TEXTURE):
            raise TypeError(f"begin_texture_mode: render_texture must be a raylib RenderTexture, "
                            f"not {type(render_texture).__name__}")
        self._alive("begin_texture_mode", "render_texture", render_texture, _RENDER_TEXTURE)
        self._ready("begin_texture_mode")
        if render_texture.id != self._current_id():
            lib.BeginTextureMode(render_texture)
        self._targets.append(render_texture)

    def end_texture_mode(self) -> None:
        self._check("end_texture_mode")
        self._ready("end_texture_mode")
        if not self._targets:
            lib.EndTextureMode()  # nothing of ours is open: harmless, as raylib's own end is
            return
        previous = self._current_id()
        self._targets.pop()
        self._make_current(previous)

    def begin_blend_mode(self, mode: int) -> None:
        self._check("begin_blend_mode")
        mode = operator.index(mode)
        if mode not in BLEND_MODES:
            raise ValueError(f"begin_blend_mode: {mode} is not one of raylib's blend modes "
                             f"({BLEND_MODES.start} to {BLEND_MODES.stop - 1})")
        self._ready("begin_blend_mode")
        if mode != self._blend_mode():
            lib.BeginBlendMode(mode)
        self._blends.append(mode)

    def end_blend_mode(self) -> None:
        self._check("end_blend_mode")
        self._ready("end_blend_mode")
        if not self._blends:
            lib.EndBlendMode()
            return
        ended = self._blends.pop()
        if self._blend_mode() != ended:
            lib.BeginBlendMode(self._blend_mode())

    # --- the drawing calls of kelo_raylib ---------------------------------------

    def c_clear_background(self, color: Sequence[int] | None) -> None:
        self._check("c_clear_background")
        color = BLANK if color is None else _settled("Color", color)
        self._ready("c_clear_background")
        lib.ClearBackground(color)

    clear_background = c_clear_background

    def _tint(self, color: Any) -> Any:
        """The tint in a form that converts without running code; the tuple
        settled last is known (a tuple of plain numbers cannot change)."""
        if color is None:
            return WHITE
        settled = _settled("Color", color)
        if settled is color and color.__class__ is tuple:
            self._plain_tint = color
        return settled

    def c_draw_texture_vec(self, texture: Any, dest: Sequence[float], color: Sequence[int] | None,
                           flip: int) -> None:
        # The checks of _check, written out: this is the hot path.
        if self._thread != _get_ident() or self._pending:
            self._check("c_draw_texture_vec")
        if not (dest.__class__ is tuple and len(dest) == 2 and dest[0].__class__ in _PLAIN_NUMBERS
                and dest[1].__class__ in _PLAIN_NUMBERS):
            dest = _settled("Vector2", dest)
        if color is not self._plain_tint:
            color = self._tint(color)
        if getattr(texture, "id", None) == 0:
            self._alive("c_draw_texture_vec", "texture", texture, _TEXTURE)
        if self._thread is None or not lib.IsWindowReady():
            self._ready("c_draw_texture_vec")
        height = -texture.height if flip else texture.height
        lib.DrawTextureRec(texture, (0, 0, texture.width, height), dest, color)

    def c_draw_texture_rec(self, texture: Any, source: Sequence[float], dest: Sequence[float],
                           color: Sequence[int] | None) -> None:
        self._check("c_draw_texture_rec")
        source, dest = _settled("Rectangle", source), _settled("Rectangle", dest)
        if color is not self._plain_tint:
            color = self._tint(color)
        self._alive("c_draw_texture_rec", "texture", texture, _TEXTURE)
        self._ready("c_draw_texture_rec")
        lib.DrawTexturePro(texture, source, dest, ORIGIN, 0.0, color)

    # --- the display's blit -----------------------------------------------------

    def fast_blit_pro(self, texture: Any, dest: Sequence[float] | None, flip: object,
                      color: Sequence[int] | None) -> None:
        """Draw `texture` (a raylib Texture or RenderTexture, or a
        KlRenderTexture) at `dest`: None or (x, y) at its own size, (x, y, w, h)
        scaled into that rectangle; upside down when `flip` is true."""
        # A KlRenderTexture's view of its texture points into its render
        # texture, which keeps no reference to it: held until drawn.
        held = texture.render_texture if isinstance(texture, KlRenderTexture) else texture  # noqa: F841
        texture = colour_texture(texture)
        if dest is None:
            dest = ORIGIN
        size = len(dest)
        if size == 2:
            self.c_draw_texture_vec(texture, dest, color, 1 if flip else 0)
        elif size == 4:
            self._check("fast_blit_pro")
            self._alive("fast_blit_pro", "texture", texture, _TEXTURE)
            height = -texture.height if flip else texture.height
            self.c_draw_texture_rec(texture, (0, 0, texture.width, height), dest, color)
        else:
            raise ValueError(f"Invalid dest argument - {dest}, must be (x, y) or (x, y, width, height)")
