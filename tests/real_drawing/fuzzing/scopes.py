"""The fuzzer's model of what a scope draws with, and md.rl's scope functions.

A scope (a target's texture mode, or the window's level outside them) owns a
clip, a shader, camera modes and rlgl's matrices. A scope on another target
than the current one begins clean: no clip (a cell's area bounds its own
surface anyway), raylib's default shader, identity matrices, nothing pushed.
A scope on the same target draws on in the state it finds, on a copy: what
it begins or changes goes with it when it ends. An end (pop, end_mode_2d,
end_mode_3d) closes what its scope began after it first, and does nothing
when its scope began none of its kind; a camera mode's end gives back rlgl's
transform as the mode found it.

rlgl's matrices as raylib keeps them: the modelview applies to every vertex;
rl_push_matrix makes the transform current and applies it too until the
last pop; translations, rotations and scalings multiply the current matrix
on the right; begin_mode_2d replaces it with the camera's and end_mode_2d
with the identity. A pop restores the transform as it was pushed. 3D modes
take a slot of the matrix stack each; what is drawn under one is unknown.
"""

from __future__ import annotations

import math

from fuzzing.calls import fmt
from fuzzing.model import IDENTITY, Divergence, Look, compose, rotation, scaling, translation

DEEPEST = 31  # rlgl's stack holds 32 matrices; md.rl keeps one free
UNKNOWN_VIEW = None  # a 3D camera's view: what it draws is not predicted


class Matrices:
    """rlgl's matrices as a scope has them."""

    __slots__ = ("mv", "t", "applied", "on_t", "stack")

    def __init__(self):
        self.mv, self.t = IDENTITY, IDENTITY
        self.applied = False  # the transform applies to vertices (something is pushed)
        self.on_t = False  # the transform, not the modelview, is the current matrix
        self.stack = []  # pushed transforms, and "3d" for a 3D mode's projection

    def copy(self):
        twin = Matrices()
        twin.mv, twin.t, twin.applied, twin.on_t = self.mv, self.t, self.applied, self.on_t
        twin.stack = list(self.stack)
        return twin

    def in_3d(self):
        return "3d" in self.stack

    def matrix(self):
        """The map from what is drawn to the target's pixels (None under a 3D camera)."""
        if self.mv is UNKNOWN_VIEW or self.in_3d():
            return None
        return compose(self.mv, self.t) if self.applied else self.mv

    def multiply(self, matrix):
        if self.on_t:
            self.t = compose(self.t, matrix)
        elif self.mv is not UNKNOWN_VIEW:
            self.mv = compose(self.mv, matrix)

    def load(self, matrix):
        if self.on_t:
            self.t = matrix
        else:
            self.mv = matrix

    def push(self):
        self.applied = self.on_t = True
        self.stack.append(self.t)

    def pop(self):
        self.applied = self.on_t = True  # the pop restores the transform, whatever is current
        self.t = self.stack.pop()
        if not self.stack:
            self.applied = self.on_t = False

    def begin_3d(self):
        self.stack.append("3d")
        self.on_t, self.mv = False, UNKNOWN_VIEW

    def end_3d(self):
        self.stack.pop()
        self.on_t, self.mv = False, IDENTITY


class DrawState:
    """What one scope draws with, and what it began itself."""

    __slots__ = ("clip", "base", "own_clip", "shader", "own_shader", "frames", "mats")

    def __init__(self, found=None):
        # On the same target a scope starts from the state it finds, on a copy.
        self.base = self.clip = found.clip if found else None  # (x0, y0, x1, y1) or None
        self.own_clip = False
        self.shader = found.shader if found else None
        self.own_shader = False
        self.frames = []  # (kind: "push", "2d" or "3d", the transform as it found it), innermost last
        self.mats = found.mats.copy() if found else Matrices()

    def begin(self, kind):
        mats = self.mats
        self.frames.append((kind, (mats.t, mats.applied, mats.on_t)))

    def own(self):
        """What it counts among the open scopes."""
        return self.own_clip + self.own_shader + len(self.frames)

    def close(self, kind):
        """An end of `kind`: what was begun after the innermost one first; nothing without one."""
        kinds = [frame for frame, _ in self.frames]
        if kind not in kinds:
            return
        at = len(kinds) - 1 - kinds[::-1].index(kind)
        while len(self.frames) > at:
            frame, found = self.frames.pop()
            if frame == "push":
                self.mats.pop()
                continue
            if frame == "2d":
                self.mats.load(IDENTITY)
            else:
                self.mats.end_3d()
            self.mats.t, self.mats.applied, self.mats.on_t = found


class Scope:
    """A texture-mode scope on the stack: its surface and its state."""

    __slots__ = ("surface", "state", "found")

    def __init__(self, surface, state, found):
        self.surface, self.state, self.found = surface, state, found


class Shader:
    """A shader loaded through md.rl: what it draws (its kind) and its struct."""

    def __init__(self, name, kind, obj):
        self.name, self.kind, self.obj = name, kind, obj


def camera_matrix(offset, target, degrees, zoom):
    """raylib's 2D camera: around its target, scaled, turned, then moved to its offset."""
    moved = compose(rotation(degrees), compose(scaling(zoom, zoom), translation(-target[0], -target[1])))
    return compose(translation(*offset), moved)


def as_floats(matrix):
    """A 2D map as the 16 floats of rlgl's column-major 4x4 matrix."""
    a, b, c, d, e, f = matrix
    return [a, b, 0.0, 0.0, c, d, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, e, f, 0.0, 1.0]


class ScopeOps:
    """The scope stack, and md.rl's scissor, shader, camera and matrix functions."""

    # ---------------------------------------------------------------- the model's questions

    def current_scope(self):
        """The innermost scope whose target lives, or None: the window's level."""
        for scope in reversed(self.scopes):
            if scope.surface.dead is None:
                return scope
        return None

    def current(self):
        """The surface drawing goes to, or None: the window."""
        scope = self.current_scope()
        return scope.surface if scope else None

    def state_now(self):
        scope = self.current_scope()
        return scope.state if scope else self.window_state

    def state_for(self, surface):
        """The state a scope begun on `surface` draws with."""
        return DrawState(self.state_now()) if surface is self.current() else DrawState()

    @staticmethod
    def look(state):
        matrix = state.mats.matrix()
        return Look(state.clip, state.shader.kind if state.shader else None, matrix or IDENTITY, matrix is None)

    def look_now(self):
        return self.look(self.state_now())

    def open_count(self):
        """What open_scopes() must say: texture and blend modes, and what each scope began."""
        live = [s for s in self.scopes if s.surface.dead is None]
        return len(self.scopes) + len(self.blends) + self.window_state.own() + sum(s.state.own() for s in live)

    def states(self):
        return [self.window_state] + [s.state for s in self.scopes if s.surface.dead is None]

    def forget_scopes(self):
        self.scopes, self.blends, self.window_state = [], [], DrawState()

    def begin_scope(self, surface):
        current = self.current()
        self.scopes.append(Scope(surface, self.state_for(surface), self.state_now() if surface is current else None))

    # ---------------------------------------------------------------- scissor

    def op_scissor(self):
        rl, rng = self.md.rl, self.rng
        state = self.state_now()
        if rng.random() < 0.3:
            self.run("md.rl.end_scissor_mode()", rl.end_scissor_mode)
            if state.own_clip:
                state.clip, state.own_clip = state.base, False
            return
        x, y, w, h = rng.randint(-3, 12), rng.randint(-3, 12), rng.randint(0, 12), rng.randint(0, 12)
        if rng.random() < 0.05:
            w, h = rng.choice([(-1, h), (w, -2), (-3, -3)])
        line = f"md.rl.begin_scissor_mode({x}, {y}, {w}, {h})"
        if w < 0 or h < 0:
            return self.run(line, lambda: rl.begin_scissor_mode(x, y, w, h), ValueError, "0 or more")
        self.run(line, lambda: rl.begin_scissor_mode(x, y, w, h))
        self.model_scissor(state, x, y, w, h)

    def model_scissor(self, state, x, y, w, h):
        surface = self.current()
        if surface is None:
            state.clip = (x, y, x + w, y + h)  # the window's: not read back
        else:
            bx0, by0, bx1, by1 = state.base if state.base is not None else (0, 0, surface.w, surface.h)
            x0, y0, x1, y1 = max(x, bx0), max(y, by0), min(x + w, bx1), min(y + h, by1)
            state.clip = (x0, y0, max(x0, x1), max(y0, y1))
        state.own_clip = True

    # ---------------------------------------------------------------- shaders

    def live_shaders(self):
        return [s for s in self.shaders if s.obj is not None]

    def op_shader(self):
        rl, rng = self.md.rl, self.rng
        state = self.state_now()
        shaders = self.live_shaders()
        r = rng.random()
        if not shaders or (r < 0.1 and len(shaders) < 3):
            kind = rng.choice(["magenta", "gbra"])
            name = self.name("shader")
            source = self.replay.MAGENTA if kind == "magenta" else self.replay.GBRA
            obj = self.run(
                f"{name} = md.rl.load_shader_from_memory(md.rl.ffi.NULL, {kind.upper()})",
                lambda: rl.load_shader_from_memory(rl.ffi.NULL, source),
            )
            if obj.id == 0:
                raise Divergence(f"{name} did not compile")
            self.shaders.append(Shader(name, kind, obj))
        elif r < 0.35:
            self.run("md.rl.end_shader_mode()", rl.end_shader_mode)
            if state.own_shader:
                scope = self.current_scope()
                state.shader = scope.found.shader if scope and scope.found else None
                state.own_shader = False
        elif r < 0.45:
            in_use = [s for s in shaders if any(state.shader is s for state in self.states())]
            shader = self.pick(in_use if in_use and rng.random() < 0.6 else shaders)
            line = f"md.rl.unload_shader({shader.name})"
            if any(s.shader is shader for s in self.states()):
                return self.run(line, lambda: rl.unload_shader(shader.obj), RuntimeError, "a scope draws with")
            self.run(line, lambda: rl.unload_shader(shader.obj))
            shader.obj = None
        elif r < 0.5:
            self.run(
                "md.rl.begin_shader_mode(md.rl.Shader(0, md.rl.ffi.NULL))",
                lambda: rl.begin_shader_mode(rl.Shader(0, rl.ffi.NULL)),
                ValueError,
                "id 0",
            )
        else:
            shader = self.pick(shaders)
            self.run(f"md.rl.begin_shader_mode({shader.name})", lambda: rl.begin_shader_mode(shader.obj))
            state.shader, state.own_shader = shader, True

    # ---------------------------------------------------------------- cameras

    def op_camera_session(self):
        """A camera mode with matrices changed and drawn with inside, ended, and drawn after."""
        depth = len(self.state_now().frames)
        while len(self.state_now().frames) == depth:  # begun (not refused)
            self.op_camera(begin=True)
        for _ in range(self.rng.randint(1, 5)):
            self.op_md_shape() if self.rng.random() < 0.3 else self.op_matrix()
        self.op_camera(end=True)
        self.op_md_shape()

    def op_camera(self, begin=False, end=False):
        rl, rng = self.md.rl, self.rng
        state = self.state_now()
        r = rng.random()
        if begin:
            r = rng.choice([0.45, 0.6, 0.9])
        elif end:
            r = 0.3 if state.frames and state.frames[-1][0] == "3d" else 0.1
        if r < 0.25:
            self.run("md.rl.end_mode_2d()", rl.end_mode_2d)
            state.close("2d")
        elif r < 0.35:
            self.run("md.rl.end_mode_3d()", rl.end_mode_3d)
            state.close("3d")
        elif r < 0.5:
            camera = "md.rl.Camera3D((0, 0, 10), (0, 0, 0), (0, 1, 0), 45, 0)"
            line = f"md.rl.begin_mode_3d({camera})"
            work = lambda: rl.begin_mode_3d(rl.Camera3D((0, 0, 10), (0, 0, 0), (0, 1, 0), 45, 0))  # noqa: E731
            surface = self.current()
            if surface is not None and surface.area is not None:
                return self.run(line, work, RuntimeError, "drawn in 2D only")
            if len(state.mats.stack) >= DEEPEST:
                return self.run(line, work, RuntimeError, "matrix stack is full")
            self.run(line, work)
            state.begin("3d")
            state.mats.begin_3d()
        elif r < 0.55:  # refused before anything else, a cell's refusal of 3D included
            bad = rng.choice([math.nan, math.inf, -math.inf, 1e39])
            shown = repr(bad).replace("inf", "math.inf").replace("nan", "math.nan")
            line, work = rng.choice(
                [
                    (
                        f"md.rl.begin_mode_2d(md.rl.Camera2D(({shown}, 0), (0, 0), 0, 1))",
                        lambda: rl.begin_mode_2d(rl.Camera2D((bad, 0), (0, 0), 0, 1)),
                    ),
                    (
                        f"md.rl.begin_mode_2d(md.rl.Camera2D((0, 0), (0, 0), 0, {shown}))",
                        lambda: rl.begin_mode_2d(rl.Camera2D((0, 0), (0, 0), 0, bad)),
                    ),
                    (
                        f"md.rl.begin_mode_3d(md.rl.Camera3D((0, 0, 10), (0, 0, 0), (0, 1, 0), {shown}, 0))",
                        lambda: rl.begin_mode_3d(rl.Camera3D((0, 0, 10), (0, 0, 0), (0, 1, 0), bad, 0)),
                    ),
                ]
            )
            self.run(line, work, ValueError, "finite")
        else:
            offset, target = (rng.randint(-4, 8), rng.randint(-4, 8)), (rng.randint(-3, 6), rng.randint(-3, 6))
            degrees, zoom = rng.choice([0, 0, 90, 180, 270, -90, 45]), rng.choice([1, 1, 2, 3])
            self.run(
                f"md.rl.begin_mode_2d(md.rl.Camera2D({offset}, {target}, {degrees}, {zoom}))",
                lambda: rl.begin_mode_2d(rl.Camera2D(offset, target, degrees, zoom)),
            )
            state.begin("2d")
            state.mats.load(camera_matrix(offset, target, degrees, zoom))

    # ---------------------------------------------------------------- rlgl's matrices

    def op_matrix(self):
        rl, rng = self.md.rl, self.rng
        state = self.state_now()
        r = rng.random()
        if r < 0.2:
            self.push_matrix(state)
        elif r < 0.23:  # as deep as the stack goes, and one more
            for _ in range(DEEPEST - len(state.mats.stack) + 1):
                self.push_matrix(state)
        elif r < 0.4:
            self.run("md.rl.rl_pop_matrix()", rl.rl_pop_matrix)
            state.close("push")
        elif r < 0.55:
            x, y = rng.randint(-6, 8), rng.randint(-6, 8)
            self.run(f"md.rl.rl_translatef({x}, {y}, 0)", lambda: rl.rl_translatef(x, y, 0))
            state.mats.multiply(translation(x, y))
        elif r < 0.65:
            x, y = rng.choice([1, 1, 2, 3, -1, 0.5]), rng.choice([1, 1, 2, 3, -1, 0.5])
            self.run(f"md.rl.rl_scalef({x}, {y}, 1)", lambda: rl.rl_scalef(x, y, 1))
            state.mats.multiply(scaling(x, y))
        elif r < 0.75:
            degrees, z = rng.choice([90, 180, 270, -90, 0, 45, 30]), rng.choice([1, 1, -1])
            self.run(f"md.rl.rl_rotatef({degrees}, 0, 0, {z})", lambda: rl.rl_rotatef(degrees, 0, 0, z))
            state.mats.multiply(rotation(degrees * z))
        elif r < 0.8:
            self.run("md.rl.rl_load_identity()", rl.rl_load_identity)
            state.mats.load(IDENTITY)
        elif r < 0.9:
            matrix = compose(
                translation(rng.randint(-4, 6), rng.randint(-4, 6)),
                compose(rotation(rng.choice([0, 90, 180, 270])), scaling(rng.choice([1, 2]), rng.choice([1, 2]))),
            )
            floats = as_floats(matrix)
            self.run(f"md.rl.rl_mult_matrixf({fmt(floats)})", lambda: rl.rl_mult_matrixf(floats))
            state.mats.multiply(matrix)
        else:
            bad = rng.choice([math.nan, math.inf, -math.inf, 1e39])
            name, work = rng.choice(
                [
                    (f"md.rl.rl_translatef({bad!r}, 0, 0)", lambda: rl.rl_translatef(bad, 0, 0)),
                    (f"md.rl.rl_scalef(1, {bad!r}, 1)", lambda: rl.rl_scalef(1, bad, 1)),
                    (f"md.rl.rl_rotatef({bad!r}, 0, 0, 1)", lambda: rl.rl_rotatef(bad, 0, 0, 1)),
                    (
                        f"md.rl.rl_mult_matrixf([1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, {bad!r}, 0, 0, 1])",
                        lambda: rl.rl_mult_matrixf([1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, bad, 0, 0, 1]),
                    ),
                ]
            )
            # Beyond a 32-bit float a matrix is refused as such.
            match = "32-bit float" if bad == 1e39 and "mult" in name else "finite"
            self.run(name.replace("inf", "math.inf").replace("nan", "math.nan"), work, ValueError, match)

    def push_matrix(self, state):
        line = "md.rl.rl_push_matrix()"
        if len(state.mats.stack) >= DEEPEST:
            return self.run(line, self.md.rl.rl_push_matrix, RuntimeError, "matrix stack is full")
        self.run(line, self.md.rl.rl_push_matrix)
        state.begin("push")
        state.mats.push()
