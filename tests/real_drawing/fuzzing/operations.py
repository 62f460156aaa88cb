"""The fuzzer's operations on windows, targets, textures, scopes and threads."""

from __future__ import annotations

import copy

from fuzzing.calls import call_text, fmt, in_thread
from fuzzing.model import OPAQUE, TRANSLUCENT, Divergence, Handle, Surface, fill_clip, fill_rect

WINDOW_SIZE = 64
MAX_HANDLES = 14
PAGE = 24  # an atlas's pages: a few cells fill one


class Operations:
    """What the fuzzer does, one operation a method; the model follows each."""

    def open_the_window(self):
        self.window = self.run(
            "window = open_window(64, 64, hidden=True)",
            lambda: self.wm.open_window(WINDOW_SIZE, WINDOW_SIZE, hidden=True),
        )
        if self.atlas is None or self.rng.random() < 0.7:  # an old atlas finds its pages dead
            self.atlas = self.run(
                f"atlas = Atlas(KlVector2({PAGE}, {PAGE}))", lambda: self.Atlas(self.KlVector2(PAGE, PAGE))
            )

    def op_create(self, cell=False):
        if len(self.handles) >= MAX_HANDLES:
            return self.op_drop()
        w, h = self.size()
        if cell and self.rng.random() < 0.03:
            w = PAGE + 1
        name = self.name("c" if cell else "a")
        make = self.atlas.allocate if cell else self.KlRenderTexture
        line = f"{name} = {'atlas.allocate' if cell else 'KlRenderTexture'}(KlVector2({fmt(w)}, {fmt(h)}))"
        if w < 1 or h < 1:
            self.run(line, lambda: make(self.KlVector2(w, h)), ValueError, "at least 1x1")
            return
        if w > PAGE:
            self.run(line, lambda: make(self.KlVector2(w, h)), ValueError, "does not fit a page")
            return
        obj = self.run(line, lambda: make(self.KlVector2(w, h)))
        # A cell draws as a target of its size, holding what its page held there.
        surface = self.new_cell_surface(name, obj) if cell else Surface(name, "rt", int(w), int(h))
        self.surfaces.append(surface)
        self.handles[name] = Handle(name, obj, surface, float(w), float(h))
        if self.rng.random() < 0.7:
            self.op_clear(self.handles[name])

    def op_cell(self):
        self.op_create(cell=True)

    def op_texture(self):
        if len(self.handles) >= MAX_HANDLES:
            return self.op_drop()
        rl, rng = self.md.rl, self.rng
        w, h = rng.randint(1, 6), rng.randint(1, 6)
        base = rng.choice(OPAQUE + TRANSLUCENT)
        name = self.name("t")
        surface = Surface(name, "tex", w, h)
        surface.fill(base)
        self.say(f"image = md.rl.gen_image_color({w}, {h}, {fmt(base)})")
        image = rl.gen_image_color(w, h, base)
        for _ in range(rng.randint(0, 3)):
            x, y, color = rng.randrange(w), rng.randrange(h), rng.choice(OPAQUE + TRANSLUCENT)
            self.say(f"md.rl.image_draw_pixel(image, {x}, {y}, {fmt(color)})")
            rl.image_draw_pixel(image, x, y, color)  # written as it is, no blending
            at = (y * w + x) * 4
            surface.lo[at : at + 4] = surface.hi[at : at + 4] = [float(c) for c in color]
        obj = self.run(f"{name} = md.rl.load_texture_from_image(image)", lambda: rl.load_texture_from_image(image))
        self.say("md.rl.unload_image(image)")
        rl.unload_image(image)
        self.surfaces.append(surface)
        self.handles[name] = Handle(name, obj, surface, float(w), float(h))

    def op_unload_texture(self):
        handle = self.pick(self.textures())
        if handle is None:
            return self.op_texture()
        self.run(f"md.rl.unload_texture({handle.name})", lambda: self.md.rl.unload_texture(handle.obj))
        self.kill_surface(handle.surface, "it was unloaded")

    def op_kill(self):
        handle = self.pick(self.rts())
        if handle is None:
            return self.op_create()
        if not handle.loaded:  # a checked operation: a dead one is killed, one not loaded is refused
            return self.run(f"{handle.name}.kill()", handle.obj.kill, AssertionError, "not loaded")
        if handle.surface.dead is None and self.rng.random() < 0.25:  # around the target: it stays `loaded`
            self.run(
                f"md.rl.unload_render_texture({handle.name}.render_texture)",
                lambda: self.md.rl.unload_render_texture(handle.obj.render_texture),
            )
        else:
            self.run(f"{handle.name}.kill()", handle.obj.kill)
            handle.loaded = False
        self.kill_surface(handle.surface, "it was unloaded")

    def droppable(self):
        on_stack = {id(scope.surface) for scope in self.scopes}
        return [h for h in self.handles.values() if id(h.surface) not in on_stack]

    def op_drop(self):
        handle = self.pick(self.droppable())
        if handle is None:
            return
        del self.handles[handle.name]
        surface = handle.surface
        others = self.sharing(surface, handle)
        box = [handle.obj]
        handle.obj = None
        if self.holders(handle):  # an item shows it: it lives on
            self.say(f"del {handle.name}")
            return
        if self.rng.random() < 0.5:
            self.say(f"del {handle.name}")
            # On the window's thread a loaded target unloads itself, for its twins too.
            box.clear()
            if handle.loaded and surface.kind == "rt":
                self.kill_surface(surface, "it was unloaded")
            elif not others and surface.dead is None:
                self.unreachable(surface)
        else:
            self.say(f"box = [{handle.name}]; del {handle.name}; in_thread(box.clear)")
            outcome = in_thread(box.clear)
            if outcome is not None:
                raise Divergence(f"dropping it on another thread raised {outcome[0].__name__}: {outcome[1]}")
            if not others and surface.dead is None:
                self.unreachable(surface)  # released on the window's thread later

    def unreachable(self, surface):
        surface.pending = True
        if surface.area is not None:  # its atlas may hand its area out again at once
            self.cell_gone(surface)

    def op_copy(self):
        handle = self.pick(self.rts())
        if handle is None or len(self.handles) >= MAX_HANDLES:
            return self.op_create()
        src = handle.surface
        form = self.rng.choice(["copy.copy", "copy()", "copy(True)", "copy(False)"])
        name = self.name("a")
        line = f"{name} = " + (f"copy.copy({handle.name})" if form == "copy.copy" else f"{handle.name}.{form}")
        if form == "copy.copy":
            obj = self.run(line, lambda: copy.copy(handle.obj))
            self.handles[name] = Handle(name, obj, src, handle.sw, handle.sh, handle.loaded)
            return
        flip = form != "copy(False)"
        work = (lambda: handle.obj.copy()) if form == "copy()" else (lambda: handle.obj.copy(flip))
        if not handle.loaded:
            self.run(line, work, AssertionError, "not loaded")
            return
        if src.dead is not None:
            self.run(line, work, RuntimeError, "dead")
            return
        obj = self.run(line, work)
        surface = Surface(name, "rt", src.w, src.h)  # made, not cleared, then drawn into
        self.place(surface, handle, (0, 0), flip, None, 0)
        self.surfaces.append(surface)
        self.handles[name] = Handle(name, obj, surface, handle.sw, handle.sh)

    def op_enter(self):
        handle = self.pick(self.rts(live=True) if self.rng.random() < 0.9 else self.rts())
        if handle is None:
            return self.op_create()
        line = f"{handle.name}.__enter__()"
        if not handle.loaded:
            self.run(line, handle.obj.__enter__, AssertionError, "not loaded")
        elif handle.surface.dead is not None:
            self.run(line, handle.obj.__enter__, RuntimeError, f"is dead: {handle.surface.dead}")
        else:
            self.run(line, handle.obj.__enter__)
            self.begin_scope(handle.surface)

    def op_exit(self):
        if self.scopes:
            surface = self.scopes[-1].surface
            handle = self.pick([h for h in self.rts() if h.surface is surface])
        else:
            handle = self.pick(self.rts())  # nothing open: harmless
            if handle is None:
                return
        self.run(f"{handle.name}.__exit__(None, None, None)", lambda: handle.obj.__exit__(None, None, None))
        self.scopes = self.scopes[:-1]

    def op_blend(self):
        kr = self.kelo_raylib
        if self.blends and self.rng.random() < 0.5 or self.rng.random() < 0.1:
            self.run("kelo_raylib.end_blend_mode()", kr.end_blend_mode)
            self.blends = self.blends[:-1]
            return
        mode = self.rng.choice([0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 5, 8, -1] if self.rng.random() < 0.95 else [8, -1])
        line = f"kelo_raylib.begin_blend_mode({mode})"
        if not 0 <= mode <= 7:
            self.run(line, lambda: kr.begin_blend_mode(mode), ValueError, "blend modes")
            return
        self.run(line, lambda: kr.begin_blend_mode(mode))
        self.blends.append(mode)

    def op_clear(self, handle=None):
        rng = self.rng
        method = rng.choice(["clear", "fill", "fast_clear"])
        if handle is None:
            handle = self.pick(self.rts(live=True) if rng.random() < 0.9 else self.rts())
            if handle is None:
                return self.op_create()
        else:
            method = "clear"
        surface = handle.surface
        target = surface if method != "fast_clear" else self.current()
        # A clear is clipped: clear and fill in a scope of their own on the target.
        clip = self.state_for(surface).clip if method != "fast_clear" else self.state_now().clip
        bad = rng.random() < 0.05 and handle.loaded and surface.dead is None
        color, error, match = self.color(bad=True) if bad else (self.color(), None, None)
        line = call_text(f"{handle.name}.{method}", [color])
        work = lambda: getattr(handle.obj, method)(color)  # noqa: E731
        if not handle.loaded:
            return self.run(line, work, AssertionError, "not loaded")
        if method != "fast_clear" and surface.dead is not None:
            return self.run(line, work, RuntimeError, f"is dead: {surface.dead}")
        if bad:
            return self.run(line, work, error, match)
        self.run(line, work)
        if target is not None:
            fill_clip(target, color or (0, 0, 0, 0), clip)

    def op_rectangle(self):
        target = self.current()
        if target is None and not self.in_frame:
            return self.op_enter()
        rng = self.rng
        x, y, w, h = rng.randint(-2, 10), rng.randint(-2, 10), rng.randint(0, 8), rng.randint(0, 8)
        color = self.color() or (0, 0, 0, 0)
        self.run(
            call_text("md.rl.draw_rectangle", [x, y, w, h, color]), lambda: self.md.rl.draw_rectangle(x, y, w, h, color)
        )
        if target is not None:
            fill_rect(target, x, y, w, h, color, self.mode_now(), self.look_now())

    def op_read(self, handle=None):
        handle = handle or self.pick(self.rts(live=True) if self.rng.random() < 0.93 else self.rts())
        if handle is None:
            return self.op_create()
        line = f"read_rgba({handle.name})"
        work = lambda: self.read_rgba(handle.obj)  # noqa: E731
        if not handle.loaded:
            return self.run(line, work, AssertionError, "not loaded")
        if handle.surface.dead is not None:
            return self.run(line, work, RuntimeError, f"dead: {handle.surface.dead}")
        width, height, data = self.run(line, work)
        self.compare(handle, width, height, data)

    def op_thread(self):
        """A call on another thread: refused, naming the thread, and nothing changes."""
        rng = self.rng
        handle = self.pick(self.rts(live=True))
        if handle is None:
            return self.op_create()
        obj, other = handle.obj, self.pick(self.rts(live=True))
        kr, rl = self.kelo_raylib, self.md.rl
        choices = {
            f"{handle.name}.clear((1, 2, 3, 255))": lambda: obj.clear((1, 2, 3, 255)),
            f"{handle.name}.blit({other.name}, (0, 0))": lambda: obj.blit(other.obj, (0, 0)),
            f"{handle.name}.kill()": obj.kill,
            f"{handle.name}.__enter__()": obj.__enter__,
            f"read_rgba({handle.name})": lambda: self.read_rgba(obj),
            "KlRenderTexture(KlVector2(2, 2))": lambda: self.KlRenderTexture(self.KlVector2(2, 2)),
            "atlas.allocate(KlVector2(2, 2))": lambda: self.atlas.allocate(self.KlVector2(2, 2)),
            "kelo_raylib.begin_blend_mode(1)": lambda: kr.begin_blend_mode(1),
            "md.rl.get_screen_width()": lambda: rl.get_screen_width(),
            "md.rl.begin_scissor_mode(0, 0, 1, 1)": lambda: rl.begin_scissor_mode(0, 0, 1, 1),
            "md.rl.rl_push_matrix()": lambda: rl.rl_push_matrix(),
            "md.rl.end_mode_2d()": lambda: rl.end_mode_2d(),
            f"md.rl.begin_texture_mode({handle.name}.render_texture)": lambda: rl.begin_texture_mode(
                obj.render_texture
            ),
            f"md.rl.load_image_from_texture({handle.name}.texture)": lambda: rl.load_image_from_texture(obj.texture),
            f"md.rl.is_texture_valid({handle.name}.texture)": lambda: rl.is_texture_valid(obj.texture),
        }
        if self.current() is not None and other.surface is not self.current():
            choices[f"{handle.name}.fast_blit({other.name}, (0, 0))"] = lambda: obj.fast_blit(other.obj, (0, 0))
            choices[f"{handle.name}.fast_clear(None)"] = lambda: obj.fast_clear(None)
        line = rng.choice(sorted(choices))
        self.say(f"in_thread(lambda: {line})  # raises RuntimeError there")
        outcome = in_thread(choices[line])
        if outcome is None or outcome[0] is not RuntimeError or "thread" not in outcome[1]:
            raise Divergence(f"on another thread: expected RuntimeError naming the thread, got {outcome}")
        self.stats["refused"] += 1

    def op_frame(self, rounds=None):
        scopes = self.open_count()
        window = self.window
        context = window.frame()
        warning = f"{scopes} drawing scope{'s' if scopes != 1 else ''} left open" if scopes else None
        self.run("with window.frame():", context.__enter__, warning=warning)
        self.forget_scopes()
        self.check_live()
        self.in_frame, self.indent = True, "    "
        try:
            logged = len(self.log)
            for _ in range(self.rng.randint(0, 3) if rounds is None else rounds):
                if self.window is None:  # closed inside the frame
                    break
                self.step += 1
                r = self.rng.random()
                if r < 0.1:
                    self.run(
                        "window.frame().__enter__()",
                        lambda: window.frame().__enter__(),
                        RuntimeError,
                        "being drawn already",
                    )
                elif r < 0.3 and (handle := self.source(self.current())) is not None:
                    # What shows a target on the window: into the current target when a scope is open.
                    line = f"window.display.fast_blit_pro({handle.name}, (0, 0), True, None)"
                    work = lambda: window.display.fast_blit_pro(handle.obj, (0, 0), True, None)  # noqa: E731
                    if handle.surface.dead is not None:
                        self.run(line, work, RuntimeError, "dead")
                    else:
                        self.run(line, work)
                        if self.current() is not None:
                            whole = Handle(handle.name, None, handle.surface, handle.surface.w, handle.surface.h)
                            look = self.look_now()
                            self.draw_model(self.current(), whole, (0, 0), True, None, self.mode_now(), look)
                else:
                    self.random_op(self.OPS_IN_FRAME)
                self.check_state()
            if len(self.log) == logged:
                self.say("pass")
        finally:
            self.in_frame, self.indent = False, ""
        self.run("# the end of the frame", lambda: context.__exit__(None, None, None))

    def md_without_window(self):
        """md.rl without a window: what needs one is refused, refusals stay, what needs none works."""
        rl = self.md.rl
        calls = {
            "md.rl.get_screen_width()": (rl.get_screen_width, "no window is open"),
            "md.rl.draw_rectangle(0, 0, 1, 1, (1, 2, 3, 255))": (
                lambda: rl.draw_rectangle(0, 0, 1, 1, (1, 2, 3, 255)),
                "no window is open",
            ),
            "md.rl.begin_scissor_mode(0, 0, 1, 1)": (lambda: rl.begin_scissor_mode(0, 0, 1, 1), "no window is open"),
            "md.rl.rl_push_matrix()": (rl.rl_push_matrix, "no window is open"),
            "md.rl.end_shader_mode()": (rl.end_shader_mode, "no window is open"),
            "md.rl.rl_viewport(0, 0, 1, 1)": (lambda: rl.rl_viewport(0, 0, 1, 1), "viewport belongs"),
            "md.rl.poll_input_events()": (rl.poll_input_events, "no window is open"),
        }
        line = self.rng.choice(sorted(calls))
        work, match = calls[line]
        self.run(line, work, RuntimeError, match)
        self.run(
            "md.rl.unload_image(md.rl.gen_image_color(2, 2, (1, 2, 3, 4)))",
            lambda: rl.unload_image(rl.gen_image_color(2, 2, (1, 2, 3, 4))),
        )

    def op_close(self):
        self.run("close_window()", self.wm.close_window)
        self.window_closed()

    def window_closed(self):
        self.window = None
        for surface in self.surfaces:
            surface.dead = surface.dead or "the window it was made under has closed"
        self.surfaces, self.shaders, self.page_models, self.material = [], [], {}, None
        self.forget_scopes()
        self.scenes_closed()

    def op_closed(self):
        """While no window is open: everything GPU is refused, kill is harmless."""
        rng = self.rng
        if rng.random() < 0.5:
            return self.open_the_window()
        if rng.random() < 0.3:
            return self.md_without_window()
        if rng.random() < 0.15:
            return self.scene_without_window()
        handle = self.pick(self.rts())
        r = rng.random()
        if handle is None or r < 0.2:
            self.run(
                "KlRenderTexture(KlVector2(2, 2))",
                lambda: self.KlRenderTexture(self.KlVector2(2, 2)),
                RuntimeError,
                "open_window",
            )
        elif r < 0.25:
            self.run(
                "atlas.allocate(KlVector2(2, 2))",
                lambda: self.atlas.allocate(self.KlVector2(2, 2)),
                RuntimeError,
                "open_window",
            )
        elif r < 0.4 and handle.loaded:
            self.run(f"{handle.name}.kill()", handle.obj.kill)
            handle.loaded = False
        elif r < 0.55:
            self.run(
                "kelo_raylib.begin_blend_mode(1)",
                lambda: self.kelo_raylib.begin_blend_mode(1),
                RuntimeError,
                "open_window",
            )
        else:
            name, work = rng.choice(
                [
                    (f"{handle.name}.clear(None)", lambda: handle.obj.clear(None)),
                    (f"{handle.name}.__enter__()", handle.obj.__enter__),
                    (f"read_rgba({handle.name})", lambda: self.read_rgba(handle.obj)),
                ]
            )
            if handle.loaded:
                self.run(name, work, RuntimeError, "open_window")
            else:
                self.run(name, work, AssertionError, "not loaded")
