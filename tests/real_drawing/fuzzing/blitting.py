"""The fuzzer's blits: every blit form of the render targets and the display."""

from __future__ import annotations

from fuzzing.calls import call_text, fmt
from fuzzing.model import Handle


class Blits:
    """The blit operations; the model composites each."""

    def blit_args(self, dst_surface, texture=False, inject=True):
        """(source handle, dest, flip, tint, failure) for a blit into
        dst_surface; failure is None or (what, exception, message part).
        Bad arguments are made only when `inject`: one cause of failure at a
        time, as which is found first differs between the methods."""
        rng = self.rng
        if texture and rng.random() < 0.5 and self.textures():
            src = self.pick(self.textures(live=True) if rng.random() < 0.95 else self.textures())
        else:
            src = self.source(dst_surface)
        if src is None:
            return None
        if texture and src.surface.kind == "rt":
            # The display draws a target's whole colour texture, whatever its size says.
            form = rng.choice(["", ".render_texture", ".texture"])
            obj = {"": src.obj, ".render_texture": src.obj.render_texture, ".texture": src.obj.texture}[form]
            shown = src.name + form
            src = Handle(shown, obj, src.surface, src.surface.w, src.surface.h)
        dest, flip, tint, failure = self.dest(src.sw, src.sh), rng.random() < 0.7, self.tint(), None
        if src.surface.dead is not None:
            failure = ("source", RuntimeError, "dead")
        elif inject and rng.random() < 0.04:
            dest, error, match = self.bad_dest()
            failure = ("dest", error, match)
        elif inject and rng.random() < 0.04:
            tint, error, match = self.color(bad=True)
            failure = ("color", error, match)
        return src, dest, flip, tint, failure

    def op_blit(self, texture=False):
        rng = self.rng
        handle = self.pick(self.rts(live=True) if rng.random() < 0.93 else self.rts())
        if handle is None:
            return self.op_create()
        live = handle.loaded and handle.surface.dead is None
        args = self.blit_args(handle.surface, texture, inject=live)
        if args is None:
            return self.op_create()
        src, dest, flip, tint, failure = args
        failure = failure and failure[1:]
        mode = rng.choice(range(8)) if rng.random() < 0.5 else 0
        if rng.random() < 0.03 and live and failure is None:
            mode, failure = rng.choice([8, -1, 99]), (ValueError, "blend modes")
        if texture and rng.random() < 0.1 and len(dest) == 2 and (dest[0], dest[1]) == (0, 0):
            dest = None
        method = "blit_texture" if texture else "blit"
        style = rng.random()
        if style < 0.3 and mode == 0 and flip and tint == (255, 255, 255, 255):
            args, kwargs = [src.obj, dest], {}
        elif style < 0.6:
            args, kwargs = [src.obj, dest, mode, flip, tint], {}
        else:
            args, kwargs = [src.obj, dest], {"blend_mode": mode, "flip": flip, "color": tint}
        line = call_text(f"{handle.name}.{method}", [src] + args[1:], kwargs)
        work = lambda: getattr(handle.obj, method)(*args, **kwargs)  # noqa: E731
        if not handle.loaded:
            return self.run(line, work, AssertionError, "not loaded")
        if handle.surface.dead is not None:
            failure = (RuntimeError, f"is dead: {handle.surface.dead}")
        if failure is not None:
            return self.run(line, work, *failure)
        look = self.look(self.state_for(handle.surface))  # its own scope on its target
        self.run(line, work)
        self.draw_model(handle.surface, src, dest, flip, tint, mode, look)

    def op_blit_texture(self):
        self.op_blit(texture=True)

    def op_fast_blit_texture(self):
        self.op_fast_blit(texture=True)

    def op_fast_blit(self, texture=False):
        rng = self.rng
        target = self.current()
        if target is None and not self.in_frame:
            return self.op_enter()
        handle = self.pick([h for h in self.rts(live=True) if h.surface is target] or self.rts(live=True))
        if handle is None:
            return self.op_create()
        args = self.blit_args(target, texture)
        if args is None:
            return
        src, dest, flip, tint, failure = args
        method = "fast_blit_texture" if texture else "fast_blit"
        style = rng.random()
        if style < 0.3 and flip and tint == (255, 255, 255, 255):
            args, kwargs = [src.obj, dest], {}
        elif style < 0.7:
            args, kwargs = [src.obj, dest, flip, tint], {}
        else:
            args, kwargs = [src.obj, dest], {"flip": flip, "color": tint}
        line = call_text(f"{handle.name}.{method}", [src] + args[1:], kwargs)
        if failure is not None:
            return self.run(line, lambda: getattr(handle.obj, method)(*args, **kwargs), *failure[1:])
        self.run(line, lambda: getattr(handle.obj, method)(*args, **kwargs))
        if target is not None:
            self.draw_model(target, src, dest, flip, tint, self.mode_now(), self.look_now())

    def target_and_source(self, fast, live_chance):
        """The current target and a picked target to draw (fast) or draw into: None, having entered a
        scope or made a target instead, when there is none."""
        target = self.current()
        if fast and target is None and not self.in_frame:
            self.op_enter()
            return None
        handle = self.pick(self.rts(live=True) if fast or self.rng.random() < live_chance else self.rts())
        if handle is None:
            self.op_create()
            return None
        return target, handle

    def op_blits(self):
        rng = self.rng
        fast = rng.random() < 0.45
        picked = self.target_and_source(fast, 0.95)
        if picked is None:
            return
        target, handle = picked
        dst = target if fast else handle.surface
        items, drawn, failure = [], [], None
        for index in range(rng.randint(0, 4)):
            args = self.blit_args(dst)
            if args is None:
                break
            src, dest, flip, tint, item_failure = args
            length = 4 if item_failure and item_failure[0] == "color" else rng.choice([2, 3, 4, 4])
            item = (src, dest, flip, tint)[:length]
            flip, tint = (flip if length > 2 else True), (tint if length > 3 else (255, 255, 255, 255))
            if item_failure is None and rng.random() < 0.02:
                item, item_failure = rng.choice(
                    [([src, dest], ("item", TypeError, "tuples")), ((src,), ("item", (TypeError, ValueError), ""))]
                )
            items.append(item)
            if item_failure is not None:
                failure = (item_failure[1], item_failure[2], [f"item {index} of {'fast_blits' if fast else 'blits'}()"])
                break
            drawn.append((src, dest, flip, tint))
        mode = rng.choice(range(8)) if rng.random() < 0.5 else 0

        def real(item):
            out = [part.obj if isinstance(part, Handle) else part for part in item]
            return out if isinstance(item, list) else tuple(out)

        real_items = [real(item) for item in items]
        shown = fmt(items)
        if fast:
            line, work = f"{handle.name}.fast_blits({shown})", lambda: handle.obj.fast_blits(iter(real_items))
        elif mode or rng.random() < 0.5:
            line, work = (
                f"{handle.name}.blits({shown}, blend_mode={mode})",
                lambda: handle.obj.blits(real_items, blend_mode=mode),
            )
        else:
            line, work = f"{handle.name}.blits({shown})", lambda: handle.obj.blits(real_items)
        if not fast and not handle.loaded:
            return self.run(line, work, AssertionError, "not loaded")
        if not fast and handle.surface.dead is not None:
            return self.run(line, work, RuntimeError, f"is dead: {handle.surface.dead}")
        look = self.look_now() if fast else self.look(self.state_for(dst))
        self.run(line, work, *(failure or ()))
        for src, dest, flip, tint in drawn:  # the items before a failing one stay drawn
            if dst is not None:
                self.draw_model(dst, src, dest, flip, tint, self.mode_now() if fast else mode, look)

    def op_blit_region(self, fast=False):
        """blit_region (fast_blit_region): draws what a blit of a target holding the part would."""
        rng = self.rng
        picked = self.target_and_source(fast, 0.93)
        if picked is None:
            return
        target, handle = picked
        src = self.source(handle.surface if not fast else target)
        if src is None:
            return self.op_create()
        width, height = src.surface.w, src.surface.h  # its whole pixels: a fractional size has more
        x, y = rng.randrange(width), rng.randrange(height)
        area = (x, y, rng.randint(1, width - x), rng.randint(1, height - y))
        failure = None
        if rng.random() < 0.06:
            area, *failure = rng.choice(
                [
                    ((x, y, src.sw - x + 1, 1), ValueError, "reaches outside the source"),
                    ((x, y, 0.5, 1), ValueError, "less than 1x1"),
                    ([x, y, 1, 1], TypeError, "area"),
                    ((x, y, 1), ValueError, "area must be"),
                ]
            )
        dest, flip, tint = self.dest(area[2], area[3]) if failure is None else (0, 0), rng.random() < 0.7, self.tint()
        mode = rng.choice(range(8)) if rng.random() < 0.5 else 0
        if fast:
            line = call_text(f"{handle.name}.fast_blit_region", [src, area, dest, flip, tint])
            work = lambda: handle.obj.fast_blit_region(src.obj, area, dest, flip, tint)  # noqa: E731
        else:
            line = call_text(f"{handle.name}.blit_region", [src, area, dest, mode, flip, tint])
            work = lambda: handle.obj.blit_region(src.obj, area, dest, mode, flip, tint)  # noqa: E731
        # Every argument is checked first; then the destination, and last the source's life.
        if failure is None and not fast and not handle.loaded:
            failure = (AssertionError, "not loaded")
        elif failure is None and not fast and handle.surface.dead is not None:
            failure = (RuntimeError, f"is dead: {handle.surface.dead}")
        elif failure is None and src.surface.dead is not None:
            failure = (RuntimeError, "dead")
        if failure is not None:
            return self.run(line, work, *failure)
        dst = target if fast else handle.surface
        look = self.look_now() if fast else self.look(self.state_for(dst))
        self.run(line, work)
        if dst is not None:
            part = Handle(src.name, None, src.surface.part(*area), area[2], area[3])
            self.draw_model(dst, part, dest, flip, tint, self.mode_now() if fast else mode, look)

    def op_fast_blit_region(self):
        self.op_blit_region(fast=True)

    def op_nine_slice(self):
        """blit_nine_slice, where its parts make a plain blit: no borders (the centre
        stretched over the whole rectangle), or a rectangle of the source's own size."""
        rng = self.rng
        handle = self.pick(self.rts(live=True))
        src = handle and self.source(handle.surface)
        if src is None or src.surface.dead is not None or (src.sw, src.sh) != (src.surface.w, src.surface.h):
            return self.op_create()
        w, h = src.surface.w, src.surface.h
        x, y = rng.randint(-3, 8), rng.randint(-3, 8)
        if rng.random() < 0.5:
            borders, dest = (0, 0, 0, 0), (x, y, rng.randint(1, 12), rng.randint(1, 12))
        else:
            left, top = rng.randint(0, w), rng.randint(0, h)
            borders, dest = (left, top, rng.randint(0, w - left), rng.randint(0, h - top)), (x, y, w, h)
        mode, flip, tint = rng.choice(range(8)) if rng.random() < 0.5 else 0, rng.random() < 0.7, self.tint()
        line = call_text("blit_nine_slice", [handle, src, borders, dest, mode, flip, tint])
        look = self.look(self.state_for(handle.surface))  # in a scope of its own on its target
        self.run(line, lambda: self.nine_slice(handle.obj, src.obj, borders, dest, mode, flip, tint))
        self.draw_model(handle.surface, src, dest, flip, tint, mode, look)
