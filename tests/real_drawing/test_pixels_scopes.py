"""Drawing for real: scopes that nest and interleave, frames, dead objects,
and what is refused, under a hidden window, checked by reading the pixels
back."""

import copy
import re

import pyray
import pytest
import raylib

from kelo_ui.core import modules
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib
from kelo_ui.presentation.pixels import read_rgba, save_png
from kelo_ui.window import context
from support.display import BLANK, BLUE, GREEN, RED, STRIPES, canvas, cell_among_others, near, paste, read, target

pytestmark = pytest.mark.usefixtures("window", "no_scope_left")


# --- scopes nest ----------------------------------------------------------------------
# Each scenario draws GREEN at (2, 2) of `scene` from inside `with scene:` after
# something that used to end the scene's texture mode; `other` is a second
# target, `sprite` a 2x2 GREEN one.


def _inside(body):
    def scenario(rl, scene, other, sprite):
        with scene:
            body(rl, scene, other, sprite)
            scene.fast_blit(sprite, (2, 2))

    return scenario


def _texture_made_and_unloaded(rl, scene, other, sprite):
    texture = rl.load_texture_from_image(rl.gen_image_color(1, 1, RED))
    rl.unload_texture(texture)


def _with_other(rl, scene, other, sprite):
    with other:
        other.fast_blit(sprite, (0, 0))


def _released_on_top(rl, scene, other, sprite):
    with other:
        other.kill()  # released while current: the scene is current again
        scene.fast_blit(sprite, (0, 0))


NESTINGS = {
    "a blit into another target": _inside(lambda rl, scene, other, sprite: other.blit(sprite, (0, 0))),
    "a with of another target": _inside(_with_other),
    "a with of a cell": _inside(
        lambda rl, scene, other, sprite: _with_other(rl, scene, cell_among_others(2, 2)[0], sprite)
    ),
    "a blit into the same target": _inside(lambda rl, scene, other, sprite: scene.blit(sprite, (0, 0))),
    "a clear of another target": _inside(lambda rl, scene, other, sprite: other.clear(RED)),
    "a target made": _inside(lambda rl, scene, other, sprite: target(3, 3)),
    "a target killed": _inside(lambda rl, scene, other, sprite: target(3, 3).kill()),
    "a texture made and unloaded": _inside(_texture_made_and_unloaded),
    "the current target released": _inside(_released_on_top),
}


@pytest.mark.parametrize("scenario", NESTINGS)
def test_scopes_nest(rl, stripes, scenario):
    scene, other, sprite = target(4, 4), target(2, 2), target(2, 2, GREEN)
    NESTINGS[scenario](rl, scene, other, sprite)
    expected = paste(canvas(4, 4), [[GREEN] * 2] * 2, 2, 2)
    if scenario in ("a blit into the same target", "the current target released"):
        expected = paste(expected, [[GREEN] * 2] * 2, 0, 0)
    assert read(scene) == expected


def test_blend_modes_nest(window):
    # An additive blit inside an additive scope keeps it additive afterwards.
    dst = target(2, 2, (100, 0, 0, 255))
    add = target(2, 2, (50, 0, 0, 255))
    context.begin_blend_mode(1)
    try:
        with dst:
            dst.blit(add, (0, 0), 1)  # its end_blend_mode goes back to additive
            dst.fast_blit(add, (0, 0))
    finally:
        context.end_blend_mode()
    assert all(near(pixel, (200, 0, 0, 255), 2) for row in read(dst) for pixel in row)


@pytest.mark.parametrize("ends", ["end_texture_mode", "end_blend_mode"])
def test_an_end_with_nothing_open_is_harmless(window, ends):
    getattr(context, ends)()
    assert read(target(1, 1, GREEN)) == [[GREEN]]
    assert context.open_scopes() == 0


# --- what md.rl changes belongs to its scope ----------------------------------------
# Each scenario draws into `host` (4x4, blank) and `other` (2x2, blank) with
# raylib's own calls and returns what `host` must show. Either may be a plain
# target or an atlas cell among others, whose neighbours must stay as they were.

LEFT_HALF = paste(canvas(4, 4), [[GREEN] * 2] * 4, 0, 0)


def _clip_in_its_coordinates(rl, host, other):
    with host:
        rl.begin_scissor_mode(0, 0, 2, 4)
        rl.draw_rectangle(0, 0, 4, 4, GREEN)
        rl.end_scissor_mode()
    return LEFT_HALF


def _clear_after_an_end(clear):
    def scenario(rl, host, other):
        with host:
            rl.begin_scissor_mode(0, 0, 1, 1)
            rl.end_scissor_mode()  # the scope's own clip again: a cell's area
            clear(rl, host)
        return canvas(4, 4, GREEN)

    return scenario


def _outer_clip_after(inner):
    def scenario(rl, host, other):
        with host:
            rl.begin_scissor_mode(0, 0, 2, 4)
            with other:
                inner(rl)
            rl.draw_rectangle(0, 0, 4, 4, GREEN)
            rl.end_scissor_mode()
        return LEFT_HALF

    return scenario


def _outer_clip_clips_no_other_target(rl, host, other):
    with host:
        rl.begin_scissor_mode(0, 0, 1, 1)
        with other:
            rl.draw_rectangle(0, 0, 2, 2, BLUE)
    assert read(other) == canvas(2, 2, BLUE)
    return canvas(4, 4)


def _nested_scope_ends_its_clip(rl, host, other):
    with host:
        with host:
            rl.begin_scissor_mode(0, 0, 1, 1)  # never ended: the inner scope ends it
        rl.draw_rectangle(0, 0, 4, 4, GREEN)
    return canvas(4, 4, GREEN)


def _matrices_stay_in_their_scope(rl, host, other):
    with host:
        rl.begin_mode_2d(rl.Camera2D((2, 0), (0, 0), 0, 1))
        rl.rl_push_matrix()
        rl.rl_translatef(0, 2, 0)
        with other:
            rl.rl_push_matrix()
            rl.rl_translatef(1, 1, 0)  # left open: its scope pops it
            rl.draw_rectangle(0, 0, 1, 1, BLUE)
        rl.draw_rectangle(0, 0, 2, 2, GREEN)  # at (2, 2): camera and translation
        rl.rl_pop_matrix()
    rl_picture = paste(canvas(2, 2), [[BLUE]], 1, 1)
    assert read(other) == rl_picture
    return paste(canvas(4, 4), [[GREEN] * 2] * 2, 2, 2)


def _after_a_release_between(rl, host, other):
    doomed = target(2, 2, BLANK)
    with host:
        rl.begin_scissor_mode(0, 0, 2, 4)
        with doomed:  # another target between two scopes on the host
            host.__enter__()
            rl.begin_scissor_mode(0, 0, 4, 1)
            rl.rl_push_matrix()
            rl.rl_translatef(1, 1, 0)
            doomed.kill()
            host.__exit__(None, None, None)  # the host's own clip again, and no translation
        rl.draw_rectangle(0, 0, 4, 4, GREEN)
    return LEFT_HALF


def _a_camera_mode_ends_what_was_done_inside(rl, host, other):
    with host:
        rl.rl_push_matrix()
        rl.rl_translatef(2, 0, 0)
        rl.begin_mode_2d(rl.Camera2D((0, 0), (0, 0), 0, 1))
        rl.rl_push_matrix()
        rl.rl_pop_matrix()
        rl.rl_translatef(0, 2, 0)  # inside the mode: gone with it
        rl.end_mode_2d()
        rl.draw_rectangle(-2, 0, 2, 4, GREEN)  # the translation from before the mode
        rl.rl_pop_matrix()
    return LEFT_HALF


def _an_empty_end_at_the_window(rl, host, other):
    rl.rl_push_matrix()
    rl.rl_translatef(2, 0, 0)
    rl.end_texture_mode()  # nothing of ours open: nothing ends
    rl.rl_pop_matrix()
    with host:
        rl.rl_push_matrix()
        rl.draw_rectangle(0, 0, 2, 4, GREEN)
        rl.rl_pop_matrix()
    return LEFT_HALF


# A fragment shader that paints everything BLUE.
BLUE_FRAGMENT = "#version 330\nout vec4 finalColor;\nvoid main() { finalColor = vec4(0.0, 0.0, 1.0, 1.0); }\n"


def _a_shader_stays_in_its_scope(rl, host, other):
    shader = rl.load_shader_from_memory(rl.ffi.NULL, BLUE_FRAGMENT)
    try:
        with host:
            rl.begin_shader_mode(shader)
            with other:
                rl.draw_rectangle(0, 0, 2, 2, GREEN)  # raylib's own shader here
            rl.draw_rectangle(0, 0, 2, 4, GREEN)
            rl.end_shader_mode()
            rl.draw_rectangle(2, 0, 2, 4, GREEN)
    finally:
        rl.unload_shader(shader)
    assert read(other) == canvas(2, 2, GREEN)
    return paste(canvas(4, 4, GREEN), [[BLUE] * 2] * 4, 0, 0)


def _a_3d_mode_ends_what_was_done_inside(rl, host, other):
    stage = target(4, 4, BLANK)  # of its own: a cell is drawn in 2D only
    with stage:
        rl.begin_mode_3d(rl.Camera3D((0, 0, 4), (0, 0, 0), (0, 1, 0), 45, 0))
        rl.rl_push_matrix()
        rl.rl_pop_matrix()
        rl.rl_translatef(2, 0, 0)  # inside the mode, with nothing pushed before it: gone with it
        rl.end_mode_3d()
        rl.draw_rectangle(0, 0, 2, 4, GREEN)
    assert read(stage) == LEFT_HALF
    with host:
        rl.rl_push_matrix()  # takes the transform as it is
        rl.draw_rectangle(0, 0, 2, 4, GREEN)
        rl.rl_pop_matrix()
    return LEFT_HALF


SCOPE_STATE = {
    "a clip is in the scope's coordinates": _clip_in_its_coordinates,
    "an ended clip leaves a cell's own, for clear_background": _clear_after_an_end(
        lambda rl, host: rl.clear_background(GREEN)
    ),
    "an ended clip leaves a cell's own, for fast_clear": _clear_after_an_end(lambda rl, host: host.fast_clear(GREEN)),
    "an ended clip leaves a cell's own, for clear": _clear_after_an_end(lambda rl, host: host.clear(GREEN)),
    "an outer clip survives another scope": _outer_clip_after(lambda rl: None),
    "an outer clip survives an inner end": _outer_clip_after(lambda rl: rl.end_scissor_mode()),
    "an outer clip survives an inner clip": _outer_clip_after(lambda rl: rl.begin_scissor_mode(0, 0, 1, 1)),
    "an outer clip clips no other target": _outer_clip_clips_no_other_target,
    "a scope ends the clip begun in it": _nested_scope_ends_its_clip,
    "cameras and matrices stay in their scope": _matrices_stay_in_their_scope,
    "a scope on the same target after the one between was released": _after_a_release_between,
    "an end with nothing open leaves the window's matrices": _an_empty_end_at_the_window,
    "a camera mode ends what was done to the transform inside it": _a_camera_mode_ends_what_was_done_inside,
    "a 3D mode ends what was done to the transform inside it": _a_3d_mode_ends_what_was_done_inside,
    "a shader stays in its scope": _a_shader_stays_in_its_scope,
}


@pytest.mark.parametrize("other_kind", ["target", "cell"])
@pytest.mark.parametrize("host_kind", ["target", "cell"])
@pytest.mark.parametrize("scenario", SCOPE_STATE)
def test_md_rl_state_belongs_to_its_scope(rl, scenario, host_kind, other_kind):
    host, host_intact = cell_among_others(4, 4) if host_kind == "cell" else (target(4, 4, BLANK), lambda: True)
    other, other_intact = cell_among_others(2, 2) if other_kind == "cell" else (target(2, 2, BLANK), lambda: True)
    expected = SCOPE_STATE[scenario](rl, host, other)
    assert read(host) == expected and host_intact() and other_intact()


@pytest.mark.parametrize(
    "call",
    [
        lambda rl: rl.begin_mode_2d(rl.Camera2D((float("inf"), 0), (0, 0), 0, 1)),
        lambda rl: rl.begin_mode_2d(rl.Camera2D((0, 0), (0, 0), 0, float("nan"))),
        lambda rl: rl.begin_mode_3d(rl.Camera3D((0, 1, 1), (0, 0, 0), (0, 1, 0), float("nan"), 0)),
        lambda rl: rl.rl_translatef(float("nan"), 0, 0),
        lambda rl: rl.rl_rotatef(0, 0, 0, float("-inf")),
        lambda rl: rl.rl_scalef(1, 1e39, 1),
        lambda rl: rl.rl_mult_matrixf([float("inf")] + [0.0] * 15),
    ],
)
def test_cameras_and_transforms_are_finite(rl, call):
    host = target(4, 4, BLANK)
    with host:
        with pytest.raises(ValueError, match="finite"):
            call(rl)
        assert context.open_scopes() == 1
        rl.draw_rectangle(0, 0, 4, 4, GREEN)
    assert read(host) == canvas(4, 4, GREEN)


def _in(host, call):
    with host:
        call()


def _push_past_the_stack(rl):
    for _ in range(32):
        rl.rl_push_matrix()


# What md.rl refuses, with the state the call would have changed left as it was.
MD_RL_REFUSALS = {
    "a draw with nothing open": (
        lambda rl, host, shader: rl.draw_rectangle(0, 0, 4, 4, RED),
        RuntimeError,
        r"^draw_rectangle: there is nothing to draw into: draw inside a target's scope \(with target:\) or the "
        r"window's frame \(with window.frame\(\):\)$",
    ),
    "a window resized in a scope": (
        lambda rl, host, shader: _in(host, lambda: rl.set_window_size(80, 40)),
        RuntimeError,
        "^set_window_size: a render target's scope is open; change the window outside every target's scope$",
    ),
    "a shader without a program": (
        lambda rl, host, shader: _in(host, lambda: rl.begin_shader_mode(rl.ffi.new("Shader *")[0])),
        ValueError,
        r"^begin_shader_mode: the shader has no GPU program \(id 0\): it was unloaded or never loaded$",
    ),
    "the shader a scope draws with unloaded": (
        lambda rl, host, shader: _in(host, lambda: (rl.begin_shader_mode(shader), rl.unload_shader(shader))),
        RuntimeError,
        "^unload_shader: a scope draws with this shader; end its begin_shader_mode first$",
    ),
    "a push past rlgl's stack": (
        lambda rl, host, shader: _in(host, lambda: _push_past_the_stack(rl)),
        RuntimeError,
        r"^rl_push_matrix: rlgl's matrix stack is full \(31 matrices are pushed or taken by 3D modes\); pop some",
    ),
    "a 3D mode in a cell": (
        lambda rl, host, shader: _in(
            cell_among_others(2, 2)[0],
            lambda: rl.begin_mode_3d(rl.Camera3D((0, 1, 1), (0, 0, 0), (0, 1, 0), 45, 0)),
        ),
        RuntimeError,
        "^begin_mode_3d: an atlas cell is drawn in 2D only",
    ),
}


@pytest.mark.parametrize("refused", MD_RL_REFUSALS)
def test_md_rl_refuses_what_it_cannot_do(rl, refused):
    call, error, message = MD_RL_REFUSALS[refused]
    host, shader = target(4, 4, BLANK), rl.load_shader_from_memory(rl.ffi.NULL, BLUE_FRAGMENT)
    with pytest.raises(error, match=message):
        call(rl, host, shader)
    rl.unload_shader(shader)  # no scope holds it any more
    assert (rl.get_screen_width(), rl.get_screen_height()) == (64, 64)
    with host:  # no shader, transform or mode left over
        rl.draw_rectangle(0, 0, 4, 4, GREEN)
    assert read(host) == canvas(4, 4, GREEN)


# --- dead objects ----------------------------------------------------------------------


def _shared_then_killed(kind):
    rt = target(2, 2, GREEN) if kind == "target" else cell_among_others(2, 2, GREEN)[0]
    twin = copy.copy(rt)
    rt.kill()  # one GPU target: released for both
    return twin


# What each refusal says: the public method called, then which argument is dead.
DRAWS_OF_THE_DEAD = {
    "with": (lambda dead, live: dead.__enter__(), "KlRenderTexture.__enter__: the destination"),
    "clear": (lambda dead, live: dead.clear(RED), "KlRenderTexture.clear: the destination"),
    "blit into": (lambda dead, live: dead.blit(live, (0, 0)), "KlRenderTexture.blit: the destination"),
    "blit from": (lambda dead, live: live.blit(dead, (0, 0)), "KlRenderTexture.blit: the source"),
    "fast_blit from": (lambda dead, live: live.fast_blit(dead, (0, 0, 2, 2)), "KlRenderTexture.fast_blit: the source"),
    "blit_texture of its texture": (
        lambda dead, live: live.blit_texture(dead.texture, None),
        "KlRenderTexture.blit_texture: the texture",
    ),
    "read_rgba": (lambda dead, live: read_rgba(dead), "read_rgba: the render texture"),
}


@pytest.mark.parametrize("kind", ["target", "cell"])
@pytest.mark.parametrize("draw", DRAWS_OF_THE_DEAD)
def test_a_dead_target_is_refused(draw, kind):
    dead, live = _shared_then_killed(kind), target(2, 2, BLANK)
    assert dead.loaded  # the twin was never killed itself
    call, refused = DRAWS_OF_THE_DEAD[draw]
    with pytest.raises(RuntimeError, match=f"^{re.escape(refused)} is dead: it was unloaded$"):
        call(dead, live)
    assert read(live) == canvas(2, 2)
    dead.kill()  # kill of a dead target succeeds, touching nothing
    assert not dead.loaded


def test_a_view_outliving_its_target_is_refused(window):
    import gc

    rt = target(2, 2, GREEN)
    texture = rt.texture  # a view into the render texture's memory
    del rt
    gc.collect()
    with target(2, 2), pytest.raises(RuntimeError, match="is dead"):
        window.display.fast_blit_pro(texture, (0, 0), True, None)


def test_a_source_that_replaces_itself_while_read(rl):
    # Reading `width` drops the source's render texture, made around the
    # toolkit (its memory is the cdata's own): the one whose view is being
    # drawn is held until the drawing is done.
    class Swapping(KlRenderTexture):
        @property
        def width(self):
            self.render_texture = None
            return 2.0

    made = raylib.rl.LoadRenderTexture(2, 2)  # owns its memory; nothing else refers to it below
    ids = rl.ffi.new("RenderTexture *", made)
    pyray.begin_texture_mode(made)
    pyray.clear_background(GREEN)
    pyray.end_texture_mode()
    source = Swapping.__new__(Swapping)
    source.render_texture, source.size, source.loaded = made, KlVector2(2, 2), True
    del made
    dst = target(4, 4)
    try:
        dst.blit(source, (0, 0, 2, 2))
    finally:
        raylib.rl.UnloadRenderTexture(ids[0])
    assert source.render_texture is None
    assert read(dst) == paste(canvas(4, 4), [[GREEN] * 2] * 2, 0, 0)


# --- refused at creation ---------------------------------------------------------------


@pytest.mark.parametrize(
    "size, error, message",
    [
        ((0, 4), ValueError, "at least 1x1, not 0x4"),
        ((4, -1), ValueError, "at least 1x1"),
        ((1 << 20, 4), RuntimeError, "beyond the driver's largest texture"),
    ],
)
def test_impossible_render_textures_are_refused(rl, size, error, message):
    with pytest.raises(error, match=message):
        rl.load_render_texture(*size)


@pytest.mark.parametrize("mode", [-1, 8, 2**31 - 1])
def test_blend_modes_outside_raylibs_are_refused(mode):
    dst = target(2, 2, GREEN)
    with pytest.raises(ValueError, match="not one of raylib's blend modes"):
        dst.blit(target(2, 2, RED), (0, 0), mode)
    assert read(dst) == canvas(2, 2, GREEN)


@pytest.mark.parametrize("path, message", [(4, "not int"), (True, "not bool"), (None, "not NoneType")])
def test_save_png_takes_paths_only(stripes, path, message):
    with pytest.raises(TypeError, match=message):
        save_png(stripes, path)


# --- frames ----------------------------------------------------------------------------


def test_a_frame_ends_the_scopes_left_open(window, stripes):
    dst = target(2, 2)
    dst.__enter__()  # never left
    kelo_raylib.begin_blend_mode(1)
    assert context.open_scopes() == 2
    with pytest.warns(RuntimeWarning, match="2 drawing scopes left open were ended"):
        with window.frame():
            assert context.current_target() is None
    assert context.open_scopes() == 0


# Checked operations that fail once their scopes are begun.
FAILING_IN_SCOPES = {
    "blit, a bad dest": lambda dst, src: dst.blit(src, (1, 2, 3)),
    "blit, a bad colour": lambda dst, src: dst.blit(src, (0, 0), color=(1, 2, 3)),
    "blit, a dead source": lambda dst, src: (src.kill(), dst.blit(copy.copy(src), (0, 0))),
    "blit_texture, a bad dest": lambda dst, src: dst.blit_texture(src, [0, 0]),
    "blits, a bad item": lambda dst, src: dst.blits([(src, (0, 0)), (src, (1,))]),
    "clear, a bad colour": lambda dst, src: dst.clear((1, 2)),
}


@pytest.mark.parametrize("failing", FAILING_IN_SCOPES)
def test_a_failed_checked_operation_ends_its_scopes(stripes, failing):
    scene, dst, src = target(4, 4), target(2, 2), target(2, 2, RED)
    with scene:
        with pytest.raises((ValueError, TypeError, RuntimeError)):
            FAILING_IN_SCOPES[failing](dst, src)
        assert context.open_scopes() == 1 and context.current_target() is scene.render_texture
        modules.rl.draw_rectangle(0, 0, 1, 1, GREEN)  # lands in the scene, not in dst
    assert read(scene)[0][0] == GREEN and GREEN not in [p for row in read(dst) for p in row]


def test_save_png_leaves_a_descriptor_alone(stripes):
    import os

    read_end, write_end = os.pipe()
    try:
        with pytest.raises(TypeError, match="must be a file system path, not int"):
            save_png(stripes, write_end)
        os.fstat(write_end)  # still open
    finally:
        os.close(read_end)
        os.close(write_end)


def test_an_empty_image_is_no_png():
    from kelo_ui.presentation.pixels import encode_png

    with pytest.raises(ValueError, match="at least 1x1, not 0x0"):
        encode_png(0, 0, b"")


def _blits_in_own_scope(window, a, b, s):
    with a:
        for x in range(3):
            a.blit(s, (x, 0))  # the target already current: no flush, same pixels
        assert read(a)[0][:3] == [BLUE] * 3
        a.fast_blit(s, (0, 2))


def _read_and_kill_inside(window, a, b, s):
    with a:
        b.blit(s, (0, 0))
        assert read(b) == STRIPES  # a read-back inside a scope
        b.kill()
        a.blits([(s, (0, 2))])
        a.fast_blit(s, (2, 0))


def _frame_inside_a_scope(window, a, b, s):
    with a:
        a.fast_blit(s, (0, 2))
        with pytest.warns(RuntimeWarning, match="1 drawing scope left open was ended"):
            with window.frame():
                window.display.fast_blit_pro(s, (0, 0), True, None)  # onto the window
    a.blit(s, (2, 0))


def _scope_left_open_across_a_frame_end(window, a, b, s):
    # The frame's end polls the window's events: its new size (SDL's offscreen
    # driver sends one at the first poll) sets the window's viewport up again.
    rl = modules.rl
    try:
        with window.frame():
            rl.set_window_size(80, 72)
            a.__enter__()
        a.fast_blit(s, (0, 2))
        a.__exit__(None, None, None)
    finally:
        rl.set_window_size(64, 64)
        with window.frame():
            pass
    a.blit(s, (2, 0))


INTERLEAVINGS = {
    "blits in their own scope": (_blits_in_own_scope, [(0, 0), (1, 0), (2, 0), (0, 2)]),
    "a scope left open across a frame's end": (_scope_left_open_across_a_frame_end, [(0, 2), (2, 0)]),
    "read and kill inside": (_read_and_kill_inside, [(0, 2), (2, 0)]),
    "a frame inside a scope": (_frame_inside_a_scope, [(0, 2), (2, 0)]),
}


@pytest.mark.parametrize("name", INTERLEAVINGS)
def test_interleaved_scopes(window, stripes, name):
    scenario, placed = INTERLEAVINGS[name]
    a, b = target(4, 4), target(2, 2)
    scenario(window, a, b, stripes)
    expected = canvas(4, 4)
    for x, y in placed:
        paste(expected, STRIPES, x, y)
    assert read(a) == expected
    assert context.open_scopes() == 0
