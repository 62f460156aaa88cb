"""The objects the fuzzer passes: hostile numbers, sequences, textures,
bindings, backends and displays, subclasses of the target whose attributes
and overrides are hostile, plain stand-ins, and the mutations hostile code
makes."""

import types

from hypothesis import strategies as st

from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.raylib import kelo_raylib

from .world import HostileError, HostileInterrupt, World, born_now, choose, draw, mischief, pick

HOSTILE_NAMES = {
    "texture",
    "width",
    "height",
    "id",
    "depth",
    "rl",
    "window",
    "display",
    "fast_blit_pro",
    "load_render_texture",
    "unload_render_texture",
    "is_window_ready",
    "BlendMode",
    "BLEND_ALPHA",
    "begin_texture_mode",
    "end_texture_mode",
    "begin_blend_mode",
    "end_blend_mode",
    "c_clear_background",
    "c_draw_texture_vec",
    "c_draw_texture_rec",
    "clear_background",
}


class Hostile:
    """A number, truth value, sequence, texture, binding, backend or display
    that does whatever mischief() decides at each use."""

    def __init__(self):
        born_now(self)

    def __int__(self):
        return mischief(lambda: 7, self)

    def __index__(self):
        return mischief(lambda: 7, self)

    def __float__(self):
        return mischief(lambda: 7.5, self)

    def __bool__(self):
        return mischief(lambda: True, self)

    def __len__(self):
        return mischief(lambda: 2, self)

    def __format__(self, spec):
        return mischief(lambda: "hostile", self)

    def __call__(self, *args, **kwargs):
        return mischief(Hostile, self)

    def __neg__(self):
        return mischief(Hostile, self)

    def __getattr__(self, name):
        if name not in HOSTILE_NAMES:
            raise AttributeError(name)
        return mischief(Hostile, self)

    def __del__(self):
        mischief(lambda: None, self)

    def __repr__(self):
        return "Hostile()"


def failing_over(name):
    """A property that makes mischief (or has its holder let go of it, which
    may be its last reference), then fails so that the lookup goes on to
    __getattr__ with the same object."""

    def get(self):
        holder = self.__dict__.pop("holder", None)
        if holder is not None and mischief(lambda: True, self):
            World.mutated = True
            KlRenderTexture.render_texture.__set__(holder, None)
        raise AttributeError(name)

    return property(get)


class HostileRenderTexture(Hostile):
    texture = failing_over("texture")
    id = failing_over("id")
    depth = failing_over("depth")


class HostileVector(KlVector2):
    """Its Python-level x and y are never what the record holds."""

    def __new__(cls, *args):
        return born_now(super().__new__(cls, *args))

    @property
    def x(self):
        return mischief(lambda: -1.0, self)

    @property
    def y(self):
        return mischief(lambda: -1.0, self)


class HostileTarget(KlRenderTexture):
    """A subclass whose attributes and overrides are hostile, with an
    instance dictionary and a finaliser."""

    def __new__(cls, *args, **kwargs):
        return born_now(super().__new__(cls, *args, **kwargs))

    @property
    def width(self):
        return mischief(lambda: 4.0, self)

    @property
    def height(self):
        return mischief(lambda: 2.0, self)

    def get_width(self):
        return mischief(lambda: 3.0, self)

    def get_rect(self):
        return mischief(lambda: None, self)

    def kill(self):
        mischief(lambda: None, self)

    def clear(self, color):
        mischief(lambda: None, self)

    def __del__(self):
        mischief(lambda: None, self)


def keep_and_read(self):
    # Destruction reads this property with the dying object: keeping it brings
    # it back, and later steps use it.
    if (
        World.data is not None
        and not World.exhausted
        and not World.drawing
        and self.__dict__.get("_generation") == World.generation
        and draw(st.booleans())
    ):
        World.mutated = True
        World.pool.append(self)
    return mischief(lambda: KlRenderTexture.render_texture.__get__(self), self)


class KeepingTarget(KlRenderTexture):
    """Its render_texture property (read by destruction) is hostile."""

    def __new__(cls, *args, **kwargs):
        return born_now(super().__new__(cls, *args, **kwargs))

    render_texture = property(keep_and_read, lambda self, value: KlRenderTexture.render_texture.__set__(self, value))


class Texture:
    def __init__(self, width, height):
        self.width, self.height = width, height


class RenderTexture:
    def __init__(self, width=4, height=2):
        self.texture = Texture(width, height)
        self.id = 1
        self.depth = 2


class FixedTruth:
    """A truth value decided beforehand (a value, or an exception to raise):
    destruction tests it at moments of its own."""

    def __init__(self, outcome):
        self.outcome = outcome

    def __bool__(self):
        if isinstance(self.outcome, type):
            raise self.outcome("hostile")
        return self.outcome


class Binding:
    """The raylib binding md.rl. Destruction calls is_window_ready and
    unload_render_texture at moments of its own: their behaviour is drawn
    when the binding is made."""

    class BlendMode:
        BLEND_ALPHA = 0

    def __init__(self):
        born_now(self)
        self.ready = choose(
            lambda: True,
            lambda: False,
            lambda: HostileError,
            lambda: HostileInterrupt,
            lambda: FixedTruth(choose(lambda: True, lambda: False, lambda: HostileError, lambda: HostileInterrupt)),
        )
        self.unload_error = choose(lambda: None, lambda: HostileError, lambda: HostileInterrupt)

    def load_render_texture(self, width, height):
        return mischief(
            lambda: choose(lambda: RenderTexture(width, height), Hostile, HostileRenderTexture, lambda: None), self
        )

    def unload_render_texture(self, render_texture):
        if self.unload_error is not None:
            raise self.unload_error("hostile")

    def is_window_ready(self):
        if isinstance(self.ready, type):
            raise self.ready("hostile")
        return self.ready


class Backend:
    """The drawing backend of kelo_raylib and the window's display."""

    def __init__(self):
        born_now(self)

    def __getattr__(self, name):
        if name not in HOSTILE_NAMES:
            raise AttributeError(name)
        return lambda *args: mischief(lambda: None, self)


def new_target():
    kind = draw(st.sampled_from(["empty", "loaded", "hostile-sub", "keeping-sub"]))
    cls = {"hostile-sub": HostileTarget, "keeping-sub": KeepingTarget}.get(kind, KlRenderTexture)
    target = cls.__new__(cls)
    if kind != "empty":
        held = choose(RenderTexture, Hostile, HostileRenderTexture)
        if isinstance(held, HostileRenderTexture):
            held.holder = target
        target.render_texture = held
        target.size = choose(lambda: KlVector2(4.0, 2.0), lambda: HostileVector(8.0, 8.0), lambda: None)
        target.loaded = True
    return target


def value():
    """Anything a caller could pass: plain values, the toolkit's own objects,
    hostile ones and the targets themselves. Objects are made here, from
    plain choices: hypothesis keeps what its own strategies build (to print
    it), and an object that outlives its example would act in a later one."""
    floats = st.floats()
    return choose(
        lambda: None,
        lambda: draw(st.booleans()),
        lambda: draw(st.integers()),
        lambda: draw(floats),
        lambda: draw(st.text(max_size=4)),
        lambda: draw(st.tuples(st.integers(-5, 5), st.integers(-5, 5))),
        lambda: draw(st.tuples(*[st.integers(-5, 5)] * 4)),
        lambda: draw(st.tuples(*[st.integers(0, 255)] * 3)),
        lambda: draw(st.lists(st.integers(), max_size=4)),
        lambda: KlVector2(draw(floats), draw(floats)),
        lambda: HostileVector(draw(floats), draw(floats)),
        lambda: KlRect(*(draw(st.floats(width=32)) for _ in range(4))),
        lambda: RenderTexture(draw(st.integers()), draw(st.integers())),
        Hostile,
        HostileRenderTexture,
        lambda: pick(World.pool),
        lambda: draw(st.sampled_from([KlRenderTexture, HostileTarget, int, (True, None, None)])),
        lambda: (1, RenderTexture(), None, {}),
        lambda: tuple(value() for _ in range(draw(st.integers(0, 4)))),
    )


def mutate():
    """Hostile code changing a target's fields or the module's globals."""
    what = draw(st.sampled_from(["render_texture", "size", "loaded", "drop", "md", "backend", "window", "new"]))
    if what in ("render_texture", "size", "loaded"):
        target = pick(World.pool)
        new = (
            value()
            if what != "size"
            else choose(lambda: None, lambda: KlVector2(1.0, 1.0), lambda: HostileVector(2.0, 2.0))
        )
        setattr(target, what, new)
    elif what == "drop" and len(World.pool) > 1:
        World.pool.pop(draw(st.integers(0, len(World.pool) - 1)))
    elif what == "new":
        World.pool.append(new_target())
    elif what == "md":
        # Destruction reads md.rl too: no hostile object that decides late.
        kl_render_tex.md = choose(
            lambda: None, lambda: types.SimpleNamespace(rl=None), lambda: types.SimpleNamespace(rl=Binding())
        )
    elif what == "backend":
        kelo_raylib.backend = choose(Hostile, lambda: None, Backend)
    elif what == "window":
        kl_render_tex.kelo_state = types.SimpleNamespace(window=choose(Hostile, lambda: None))
