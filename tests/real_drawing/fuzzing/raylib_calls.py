"""The fuzzer's md.rl calls: raylib's own shapes and texture functions,
inside targets and atlas cells, with plain targets' textures, textures made
from images and cells; what md.rl refuses by the kind of each function; and
the atlas's pages, read whole."""

from __future__ import annotations

from fuzzing.calls import call_text, fmt
from fuzzing.model import (
    OPAQUE,
    TINTS,
    TRANSLUCENT,
    Divergence,
    Surface,
    Window,
    compose,
    draw_quad,
    fill_clip,
    fill_rect,
    rotation,
    translation,
)
from kelo_ui.core import virtual_display

WHITE = (255, 255, 255, 255)

# md.rl functions by what they need, with arguments that would do nothing harmful.
WINDOW_CALLS = {
    "md.rl.get_screen_width()": (lambda rl: rl.get_screen_width(), 64),
    "md.rl.get_screen_height()": (lambda rl: rl.get_screen_height(), 64),
}
# SDL's offscreen driver reports every window shown once events are polled
# (each frame's end polls them): hidden is raylib's word only under GLFW.
if not virtual_display.sdl_binding():
    WINDOW_CALLS["md.rl.is_window_hidden()"] = (lambda rl: rl.is_window_hidden(), True)
RESIZING_CALLS = {
    "md.rl.poll_input_events()": lambda rl: rl.poll_input_events(),
    "md.rl.set_window_size(64, 64)": lambda rl: rl.set_window_size(64, 64),
}
REFUSED_CALLS = {
    "md.rl.rl_viewport(0, 0, 1, 1)": (lambda rl: rl.rl_viewport(0, 0, 1, 1), "viewport"),
    "md.rl.rl_scissor(0, 0, 1, 1)": (lambda rl: rl.rl_scissor(0, 0, 1, 1), "scissor"),
    "md.rl.rl_disable_scissor_test()": (lambda rl: rl.rl_disable_scissor_test(), "scissor"),
    "md.rl.begin_drawing()": (lambda rl: rl.begin_drawing(), "frames are the window's"),
    "md.rl.rl_ortho(0, 1, 1, 0, 0, 1)": (lambda rl: rl.rl_ortho(0, 1, 1, 0, 0, 1), "projection"),
    "md.rl.rl_matrix_mode(0)": (lambda rl: rl.rl_matrix_mode(0), "projection"),
    "md.rl.rl_set_blend_mode(1)": (lambda rl: rl.rl_set_blend_mode(1), "blend scopes"),
    "md.rl.rl_disable_shader()": (lambda rl: rl.rl_disable_shader(), "shader scopes"),
    "md.rl.rl_disable_framebuffer()": (lambda rl: rl.rl_disable_framebuffer(), "framebuffer"),
    "md.rl.rl_disable_backface_culling()": (lambda rl: rl.rl_disable_backface_culling(), "culling"),
    "md.rl.init_window(8, 8, 'x')": (lambda rl: rl.init_window(8, 8, "x"), "open_window"),
}
# Refused for an atlas cell (they would act on its whole page), done by raylib otherwise.
REFUSED_FOR_CELLS = {
    "set_texture_filter": "whole page",
    "set_texture_wrap": "whole page",
    "gen_texture_mipmaps": "whole page",
    "set_shader_value_texture": "sample the whole page",
    "set_material_texture": "sample the whole page",
    "set_shapes_texture": "sample the whole page",
    "draw_texture_n_patch": "cut up its whole page",
    "draw_billboard": "show its whole page",
}
DRAWING_ONES = {"set_shapes_texture", "draw_texture_n_patch", "draw_billboard"}


class TextureArg:
    """A texture given to md.rl: a target's (`a1.texture`), a cell's, one made
    from an image (`t1`), or a copy of a cell's struct."""

    def __init__(self, shown, obj, handle, kind, keep=None):
        self.shown, self.obj, self.handle, self.kind, self.keep = shown, obj, handle, kind, keep
        self.surface = handle.surface

    @property
    def dead(self):
        return self.surface.dead

    def window(self, sx, sy, sw, sh):
        """The picture part that raylib's source rectangle (in the texture's
        storage, rows bottom-up for a render texture) is, as drawn."""
        surface, flipped = self.surface, self.kind != "tex"
        y = surface.h - sy - abs(sh) if flipped else sy
        return Window(surface, sx, y, abs(sw), abs(sh), sw < 0, (sh < 0) != flipped)

    def storage_row(self, row):
        """The picture row that the texture stores as its `row`-th."""
        return self.surface.h - 1 - row if self.kind != "tex" else row


class RaylibCalls:
    """md.rl's drawing and texture calls; the model follows each."""

    # ---------------------------------------------------------------- arguments

    def texture_arg(self, exclude=None, allow_dead=True):
        rng = self.rng
        handles = [h for h in self.handles.values() if h.surface is not exclude]
        live = [h for h in handles if h.surface.dead is None and h.loaded]
        pool = handles if allow_dead and rng.random() < 0.05 else live
        handle = self.pick(pool)
        if handle is None:
            return None
        surface = handle.surface
        if surface.kind == "tex":
            return TextureArg(handle.name, handle.obj, handle, "tex")
        kind = "cell" if surface.area is not None else "rt"
        page = surface.page
        if (
            kind == "cell"
            and surface.dead is None
            and rng.random() < 0.08
            and (surface.w, surface.h) != (page.width, page.height)
        ):
            pointer = self.md.rl.ffi.new("Texture *", handle.obj.texture)
            return TextureArg(
                f'md.rl.ffi.new("Texture *", {handle.name}.texture)[0]', pointer[0], handle, "copy", pointer
            )
        return TextureArg(f"{handle.name}.texture", handle.obj.texture, handle, kind)

    def refusal_of(self, texture):
        """What md.rl says to a texture argument before acting: (error, message part) or None."""
        if texture.dead is not None:
            return RuntimeError, "is dead"
        if texture.kind == "copy":
            return ValueError, "copy of an atlas cell"
        return None

    def draw_refusal(self):
        """A call that draws with no target's scope and no frame is refused."""
        if self.current() is None and not self.in_frame:
            return RuntimeError, "nothing to draw into"
        return None

    # ---------------------------------------------------------------- raylib's shapes

    def op_md_shape(self):
        rng = self.rng
        refused = self.draw_refusal()
        if refused and rng.random() < 0.7:
            return self.op_enter()
        rl = self.md.rl
        x, y = rng.randint(-3, 11), rng.randint(-3, 11)
        w, h = rng.randint(0, 9), rng.randint(0, 9)
        if rng.random() < 0.05:
            w = -w
        color = self.color() or (0, 0, 0, 0)
        form = rng.choice(["rectangle", "rectangle_rec", "rectangle_v", "pixel", "pixel_v"])
        if form == "rectangle":
            line, work = (
                call_text("md.rl.draw_rectangle", [x, y, w, h, color]),
                lambda: rl.draw_rectangle(x, y, w, h, color),
            )
        elif form == "rectangle_rec":
            line = call_text("md.rl.draw_rectangle_rec", [(x, y, w, h), color])
            work = lambda: rl.draw_rectangle_rec((x, y, w, h), color)  # noqa: E731
        elif form == "rectangle_v":
            line = call_text("md.rl.draw_rectangle_v", [(x, y), (w, h), color])
            work = lambda: rl.draw_rectangle_v((x, y), (w, h), color)  # noqa: E731
        else:
            w = h = 1
            args = [x, y, color] if form == "pixel" else [(x, y), color]
            line, work = call_text(f"md.rl.draw_{form}", args), lambda: getattr(rl, f"draw_{form}")(*args)
        if refused:
            return self.run(line, work, *refused)
        self.run(line, work)
        if self.current() is not None:
            fill_rect(self.current(), x, y, w, h, color, self.mode_now(), self.look_now())

    def op_md_clear(self):
        rl, rng = self.md.rl, self.rng
        color = self.color() or (0, 0, 0, 0)
        if rng.random() < 0.6:
            self.run(call_text("md.rl.clear_background", [color]), lambda: rl.clear_background(color))
        else:
            self.run(call_text("md.rl.rl_clear_color", list(color)), lambda: rl.rl_clear_color(*color))
            refused = self.draw_refusal()
            line = "md.rl.rl_clear_screen_buffers()"
            if refused:
                return self.run(line, rl.rl_clear_screen_buffers, *refused)
            self.run(line, rl.rl_clear_screen_buffers)
        if self.current() is not None:  # a clear is clipped, and drawn with no matrix or shader
            fill_clip(self.current(), color, self.state_now().clip)

    # ---------------------------------------------------------------- raylib's texture drawing

    def op_md_texture_draw(self):
        rng = self.rng
        refused = self.draw_refusal()
        if refused and rng.random() < 0.7:
            return self.op_enter()
        texture = self.texture_arg(exclude=self.current())  # never a target into itself
        if texture is None:
            return self.op_texture()
        rl = self.md.rl
        tw, th = texture.surface.w, texture.surface.h
        tint = rng.choice([WHITE, WHITE] + TINTS[:4])
        x, y = rng.randint(-3, 10), rng.randint(-3, 10)
        form = rng.choice(["", "_v", "_ex", "_rec", "_pro", "_pro", "_n_patch"])
        mats = self.state_now().mats
        source, outside = (0, 0, tw, th), False
        if form in ("_rec", "_pro", "_n_patch"):
            sx, sy = rng.randrange(tw), rng.randrange(th)
            sw, sh = rng.randint(1, tw - sx), rng.randint(1, th - sy)
            if form != "_n_patch" and rng.random() < 0.2:
                sx, sw = (sx + sw, -sw) if rng.random() < 0.5 else (sx, sw)
                sy, sh = (sy + sh, -sh) if rng.random() < 0.5 else (sy, sh)
                sx, sy = min(sx, sx + sw), min(sy, sy + sh)  # the part stays where it is, mirrored
            if texture.kind == "cell" and rng.random() < 0.1:  # beyond the cell: its neighbours
                sx, sw, outside = tw - 1, rng.choice([2, 3]), True
            source = (sx, sy, sw, sh)
        origin, degrees, dw, dh = (0, 0), 0, abs(source[2]), abs(source[3])
        if form == "":
            args = [texture.obj, x, y, tint]
        elif form == "_v":
            args = [texture.obj, (x, y), tint]
        elif form == "_ex":
            degrees, scale = rng.choice([0, 0, 90, 180, 270]), rng.choice([1, 1, 2, 3])
            args, dw, dh = [texture.obj, (x, y), degrees, scale, tint], tw * scale, th * scale
        elif form == "_rec":
            args = [texture.obj, source, (x, y), tint]
        elif form == "_pro":
            dw, dh = rng.randint(1, 12), rng.randint(1, 12)
            if rng.random() < 0.5:
                dw, dh = abs(source[2]) * rng.choice([1, 2]), abs(source[3]) * rng.choice([1, 2])
            origin, degrees = (rng.randint(-2, 3), rng.randint(-2, 3)), rng.choice([0, 0, 90, 180, 270, 45])
            args = [texture.obj, source, (x, y, dw, dh), origin, degrees, tint]
        else:
            dw, dh = rng.randint(1, 12), rng.randint(1, 12)
            args = [texture.obj, rl.NPatchInfo(source, 0, 0, 0, 0, 0), (x, y, dw, dh), (0, 0), 0, tint]
        shown = [_Shown(texture.shown)] + args[1:]
        if form == "_n_patch":
            shown[1] = _Shown(f"md.rl.NPatchInfo({fmt(source)}, 0, 0, 0, 0, 0)")
        line = call_text(f"md.rl.draw_texture{form}", shown)
        work = lambda: getattr(rl, f"draw_texture{form}")(*args)  # noqa: E731
        refusal = refused or self.refusal_of(texture)
        if refusal is None and texture.kind == "cell" and form == "_n_patch":
            refusal = ValueError, REFUSED_FOR_CELLS["draw_texture_n_patch"]
        if refusal is None and outside:
            refusal = ValueError, "reaches outside the atlas cell"
        if refusal:
            return self.run(line, work, *refusal)
        self.run(line, work)
        if form == "_n_patch" and mats.stack:  # raylib pushes and pops inside: the transform is current after it
            mats.on_t = mats.applied = True
        dst = self.current()
        if dst is None:
            return
        look = self.look_now()
        place = compose(
            look.matrix,
            compose(translation(x, y), compose(rotation(degrees), translation(-origin[0], -origin[1]))),
        )
        draw_quad(dst, place, dw, dh, texture.window(*source), tint, self.mode_now(), look)

    # ---------------------------------------------------------------- textures written, read and asked about

    def op_md_texture(self):
        texture = self.texture_arg()
        if texture is None:
            return self.op_texture()
        r = self.rng.random()
        if r < 0.3:
            self.md_update(texture)
        elif r < 0.55:
            self.md_read(texture)
        elif r < 0.7:
            self.md_valid(texture)
        else:
            self.md_refused_for_cells(texture)

    def md_update(self, texture):
        rl, rng = self.md.rl, self.rng
        surface = texture.surface
        tw, th = surface.w, surface.h
        rec = None
        if rng.random() < 0.6:
            x, y = rng.randrange(tw), rng.randrange(th)
            rec = [x, y, rng.randint(1, tw - x), rng.randint(1, th - y)]
            if rng.random() < 0.2:  # off the texture (a cell's neighbours are other cells), or less than a pixel
                rec = rng.choice([[x, y, tw - x + 1, 1], [x, y, 0.5, 1], [-1, y, 1, 1], [x, th, 1, 1]])
        w, h = (tw, th) if rec is None else (max(1, int(rec[2])), max(1, int(rec[3])))
        short = rng.random() < 0.08  # fewer pixels than the rectangle takes: raylib would read past them
        values = [rng.choice(OPAQUE + TRANSLUCENT) for _ in range(w * h - short)]
        data = [channel for color in values for channel in color]
        pixels = self.replay.pixels(data)
        shown = _Shown(f"pixels({fmt(data)})")
        if rec is None:
            line = call_text("md.rl.update_texture", [_Shown(texture.shown), shown])
            work = lambda: rl.update_texture(texture.obj, pixels)  # noqa: E731
        else:
            line = call_text("md.rl.update_texture_rec", [_Shown(texture.shown), tuple(rec), shown])
            work = lambda: rl.update_texture_rec(texture.obj, tuple(rec), pixels)  # noqa: E731
        refusal = self.refusal_of(texture)
        if refusal is None and rec is not None and (rec[2] < 1 or rec[3] < 1):
            refusal = ValueError, "less than 1x1"
        elif refusal is None and rec is not None and (rec[0] < 0 or rec[0] + rec[2] > tw or rec[1] + rec[3] > th):
            refusal = ValueError, "reaches outside the atlas cell" if texture.kind == "cell" else "outside the texture"
        elif refusal is None and short:
            refusal = ValueError, "pixels holds"
        if refusal:
            return self.run(line, work, *refusal)
        self.run(line, work)
        x0, y0 = (0, 0) if rec is None else (rec[0], rec[1])
        for j in range(h):  # rows in storage order
            row = texture.storage_row(y0 + j)
            for i in range(w):
                at = (row * tw + x0 + i) * 4
                surface.lo[at : at + 4] = surface.hi[at : at + 4] = [float(c) for c in values[j * w + i]]

    def md_read(self, texture):
        rl = self.md.rl
        line = f"image = md.rl.load_image_from_texture({texture.shown})"
        work = lambda: rl.load_image_from_texture(texture.obj)  # noqa: E731
        refusal = self.refusal_of(texture)
        if refusal:
            return self.run(line, work, *refusal)
        image = self.run(line, work)
        surface = texture.surface
        try:
            if (image.width, image.height, image.format) != (surface.w, surface.h, 7):
                raise Divergence(
                    f"{line}: an image of {image.width}x{image.height} (format {image.format}), "
                    f"expected {surface.w}x{surface.h} RGBA8"
                )
            data = bytes(rl.ffi.buffer(rl.ffi.cast("unsigned char *", image.data), surface.w * surface.h * 4))
        finally:
            self.say("md.rl.unload_image(image)")
            rl.unload_image(image)
        # The image's rows are the texture's storage: the picture's, bottom-up for a render texture.
        rows = [data[r * surface.w * 4 : (r + 1) * surface.w * 4] for r in range(surface.h)]
        picture = [b""] * surface.h
        for r, row in enumerate(rows):
            picture[texture.storage_row(r)] = row
        self.compare(texture.handle, surface.w, surface.h, b"".join(picture))

    def md_valid(self, texture):
        rl = self.md.rl
        if texture.kind in ("rt", "cell") and self.rng.random() < 0.5:
            shown = texture.shown.replace(".texture", ".render_texture")
            line = f"md.rl.is_render_texture_valid({shown})"
            work = lambda: rl.is_render_texture_valid(texture.handle.obj.render_texture)  # noqa: E731
        else:
            line, work = f"md.rl.is_texture_valid({texture.shown})", lambda: rl.is_texture_valid(texture.obj)
        refusal = self.refusal_of(texture)
        if refusal:
            return self.run(line, work, *refusal)
        if self.run(line, work) is not True:
            raise Divergence(f"{line} is not True for a live texture")

    def md_refused_for_cells(self, texture):
        """What would act on a cell's whole page: refused for a cell, raylib's own otherwise."""
        rl, rng = self.md.rl, self.rng
        name = rng.choice(sorted(REFUSED_FOR_CELLS))
        shown, obj = texture.shown, texture.obj
        after = None
        if name == "set_texture_filter":
            if texture.surface.mipmapped:
                return  # raylib would draw it minified from mipmaps made before what was drawn since
            line, work = f"md.rl.set_texture_filter({shown}, 0)", lambda: rl.set_texture_filter(obj, 0)
        elif name == "set_texture_wrap":
            wrap = rng.choice([0, 1])
            line, work = f"md.rl.set_texture_wrap({shown}, {wrap})", lambda: rl.set_texture_wrap(obj, wrap)
        elif name == "gen_texture_mipmaps":
            if texture.surface is self.current() and texture.kind == "rt":
                return  # raylib's mipmaps of the texture being drawn into lose what is drawn after them
            line, work = f"md.rl.gen_texture_mipmaps({shown})", lambda: rl.gen_texture_mipmaps(obj)
        elif name == "set_shader_value_texture":
            shader = self.pick(self.live_shaders())
            if shader is None:
                return self.op_shader()
            line = f"md.rl.set_shader_value_texture({shader.name}, -1, {shown})"
            work = lambda: rl.set_shader_value_texture(shader.obj, -1, obj)  # noqa: E731
        elif name == "set_material_texture":
            if self.material is None:
                self.material = self.run("material = md.rl.load_material_default()", rl.load_material_default)
            material = self.material
            line = f"md.rl.set_material_texture(material, 0, {shown})"
            work = lambda: rl.set_material_texture(material, 0, obj)  # noqa: E731
        elif name == "set_shapes_texture":
            line = f"md.rl.set_shapes_texture({shown}, (0, 0, 1, 1))"
            work = lambda: rl.set_shapes_texture(obj, (0, 0, 1, 1))  # noqa: E731

            def after():  # raylib's own again, before anything draws with it
                self.run(
                    "md.rl.set_shapes_texture(md.rl.Texture(md.rl.rl_get_texture_id_default(), 1, 1, 1, 7), "
                    "(0, 0, 1, 1))",
                    lambda: rl.set_shapes_texture(rl.Texture(rl.rl_get_texture_id_default(), 1, 1, 1, 7), (0, 0, 1, 1)),
                )

        elif name == "draw_texture_n_patch":
            return self.op_md_texture_draw()
        else:
            camera = "md.rl.Camera3D((0, 0, 10), (0, 0, 0), (0, 1, 0), 45, 0)"
            line = f"md.rl.draw_billboard({camera}, {shown}, (0, 0, 0), 1, (255, 255, 255, 255))"
            work = lambda: rl.draw_billboard(  # noqa: E731
                rl.Camera3D((0, 0, 10), (0, 0, 0), (0, 1, 0), 45, 0), obj, (0, 0, 0), 1, WHITE
            )
            if texture.kind != "cell":  # a billboard of any other texture is raylib's: not modelled
                return
        refusal = (self.draw_refusal() if name in DRAWING_ONES else None) or self.refusal_of(texture)
        if refusal is None and texture.kind == "cell":
            refusal = ValueError, REFUSED_FOR_CELLS[name]
        if refusal:
            return self.run(line, work, *refusal)
        self.run(line, work)
        if name == "gen_texture_mipmaps":
            texture.surface.mipmapped = True
        if after:
            after()

    # ---------------------------------------------------------------- md.rl's kinds of functions

    def op_md_kinds(self):
        rl, rng = self.md.rl, self.rng
        r = rng.random()
        if r < 0.3:
            line = rng.choice(sorted(WINDOW_CALLS))
            call, expected = WINDOW_CALLS[line]
            got = self.run(line, lambda: call(rl))
            if got != expected:
                raise Divergence(f"{line} is {got!r}, expected {expected!r}")
        elif r < 0.6:
            line = rng.choice(sorted(RESIZING_CALLS))
            call = RESIZING_CALLS[line]
            if self.current() is not None:
                return self.run(line, lambda: call(rl), RuntimeError, "scope is open")
            self.run(line, lambda: call(rl))
        else:
            line = rng.choice(sorted(REFUSED_CALLS))
            call, reason = REFUSED_CALLS[line]
            self.run(line, lambda: call(rl), RuntimeError, reason)

    def op_md_enter(self):
        handle = self.pick(self.rts(live=True) if self.rng.random() < 0.9 else self.rts())
        if handle is None:
            return self.op_create()
        line = f"md.rl.begin_texture_mode({handle.name}.render_texture)"
        work = lambda: self.md.rl.begin_texture_mode(handle.obj.render_texture)  # noqa: E731
        if handle.surface.dead is not None:
            return self.run(line, work, RuntimeError, "is dead")
        self.run(line, work)
        self.begin_scope(handle.surface)

    def op_md_exit(self):
        self.run("md.rl.end_texture_mode()", self.md.rl.end_texture_mode)
        self.scopes = self.scopes[:-1]

    # ---------------------------------------------------------------- the atlas's pages

    def new_cell_surface(self, name, cell):
        """A new cell holds what its page held in its area."""
        page = cell.page
        model = self.page_models.get(page)
        if model is None:  # opened for this cell: cleared
            model = self.page_models[page] = Surface("page", "rt", page.width, page.height)
            model.fill((0, 0, 0, 0))
        x, y, w, h = cell.area
        surface = model.part(x, y, w, h)
        surface.name, surface.page, surface.area = name, page, cell.area
        return surface

    def cell_gone(self, surface):
        """A dead cell's area holds what it held, as far as anyone promised: unknown."""
        model = self.page_models.get(surface.page)
        if model is None:
            return
        x, y, w, h = surface.area
        for row in range(y, y + h):
            at = (row * model.w + x) * 4
            model.lo[at : at + w * 4] = [0.0] * (w * 4)
            model.hi[at : at + w * 4] = [255.0] * (w * 4)

    def op_page(self):
        if self.atlas is None or not self.atlas.pages:
            return self.op_cell()
        page = self.rng.choice(self.atlas.pages)
        index = self.atlas.pages.index(page)
        model = self.page_models.get(page)
        width, height, data = self.run(f"atlas.pages[{index}].read_rgba()", page.read_rgba)
        if model is None or (width, height) != (model.w, model.h):
            raise Divergence(f"page {index} reads as {width}x{height}, expected {page.width}x{page.height}")
        # Each pixel is its live cell's, else the page's own (outside every cell).
        owner = [None] * (width * height)
        cells = {id(h.surface): h.surface for h in self.held_records() if h.surface.page is page}
        for surface in cells.values():
            if surface.dead is None and not surface.pending:
                x, y, w, h = surface.area
                for row in range(y, y + h):
                    owner[row * width + x : row * width + x + w] = [surface] * w
        expected = Surface("page", "rt", width, height)
        for p, surface in enumerate(owner):
            if surface is None:
                lo, hi = model.lo[p * 4 : p * 4 + 4], model.hi[p * 4 : p * 4 + 4]
            else:
                x, y, w, _ = surface.area
                at = ((p // width - y) * w + p % width - x) * 4
                lo, hi = surface.lo[at : at + 4], surface.hi[at : at + 4]
            expected.lo[p * 4 : p * 4 + 4], expected.hi[p * 4 : p * 4 + 4] = lo, hi
        wrong = self.differences(expected, data)
        if wrong:
            where = sorted({(i // 4 % width, i // 4 // width) for i in wrong})[:12]
            names = {(x, y): (owner[y * width + x].name if owner[y * width + x] else "no cell") for x, y in where}
            raise Divergence(
                self.describe(_Named(f"atlas.pages[{index}]", expected), wrong, data) + f"\nowners: {names}"
            )
        self.stats["reads"] += 1
        model.lo = [float(v) for v in data]
        model.hi = list(model.lo)
        for surface in cells.values():
            if surface.dead is None and not surface.pending:
                x, y, w, h = surface.area
                values = []
                for row in range(y, y + h):
                    values += [float(v) for v in data[(row * width + x) * 4 : (row * width + x + w) * 4]]
                surface.lo, surface.hi = values, list(values)


class _Shown:
    """An argument shown as the Python that makes it."""

    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text


class _Named:
    def __init__(self, name, surface):
        self.name, self.surface = name, surface
