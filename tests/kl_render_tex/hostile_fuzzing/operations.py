"""The fuzzer's operations: every Python-visible method, property, the
unpickling function and every native slot, each with arguments of any shape,
and what running one lets come out."""

import copy
import gc
import math
import pickle

from hypothesis import strategies as st

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe

from .objects import Hostile, HostileTarget, HostileVector, KeepingTarget, RenderTexture, value
from .world import HostileError, HostileInterrupt, World, choose, draw, from_hypothesis, pick

UNPICKLE = kl_render_tex.__pyx_unpickle_KlRenderTexture
CHECKSUMS = (0xD7BABC0, 0x80A1750, 0x4DEE0A1)

# What the documentation lets come out of the module.
# RecursionError is the interpreter's own report of a render texture that
# leads back to itself.
DOCUMENTED = (
    TypeError,
    AttributeError,
    AssertionError,
    ValueError,
    OverflowError,
    NameError,
    NotImplementedError,
    KeyError,
    pickle.PickleError,
    RecursionError,
)


# Every method of the class, as the class has them: a new one is fuzzed from
# the day it is added.
METHODS = sorted(name for name, f in vars(KlRenderTexture).items() if type(f) is type(KlRenderTexture.kill))
# The methods that may change a target (the others change none).
CHANGING = {"kill", "__setstate__"}
PROPERTIES = ["texture", "id", "depth", "width", "height", "render_texture", "size", "loaded"]
# Native slots and what follows the target in kl_probe.rt_slot(name, target, ...).
SLOTS = {
    "c_fast_blit": 4,
    "c_fast_blit_texture": 4,
    "c_fast_clear": 1,
    "c_clear": 1,
    "clear": 2,
    "fast_clear": 2,
    "fill": 2,
    "kill": 1,
    "get_rect": 1,
    "get_height": 1,
    "get_width": 1,
}


def arguments(names):
    """An argument list and keywords of any shape, mostly near the signature."""
    count = draw(st.integers(0, len(names) + 1))
    args = [value() for _ in range(count)]
    keys = draw(st.lists(st.sampled_from([*names, "bogus"]), max_size=2, unique=True))
    return args, {key: value() for key in keys}


def target():
    return pick(World.pool)


def call_method(name):
    function = KlRenderTexture.__dict__[name]
    args, kwargs = arguments(function.__code__.co_varnames[1:])
    self = target() if draw(st.integers(0, 9)) else value()  # a stranger as self, now and then
    return lambda: function(self, *args, **kwargs)


def slot_call(name):
    def call():
        if name == "c_fast_blit":
            source = pick([*World.pool, None])
            args = [source, value(), draw(st.integers(-2, 2)), value()]
        elif SLOTS[name] == 4:
            args = [value(), value(), draw(st.integers(-2, 2)), value()]
        elif name in ("clear", "fast_clear", "fill"):
            args = [value(), draw(st.integers(0, 1))]
        elif name in ("c_fast_clear", "c_clear"):
            args = [value()]
        else:
            args = [draw(st.integers(0, 1))]
        return kl_probe.rt_slot(name, target(), *args)

    return call


def construct():
    args, kwargs = arguments(["size"])
    cls = draw(st.sampled_from([KlRenderTexture, HostileTarget, KeepingTarget]))
    made = cls(*args, **kwargs)
    if draw(st.booleans()):
        World.pool.append(made)


def reinit():
    t = target()
    args, kwargs = arguments(["size"])
    return t, lambda: t.__init__(*args, **kwargs)


def native_new():
    vector = choose(lambda: KlVector2(4.0, 2.0), lambda: KlVector2(math.nan, 1.0), lambda: HostileVector(1e300, 3.0))
    kl_probe.rt_slot("new", vector)


def adopt():
    args, kwargs = arguments(["rl_render_texture"])
    made = KlRenderTexture.from_rl_render_texture(*args, **kwargs)
    if draw(st.booleans()):
        World.pool.append(made)


def unpickle():
    kind = draw(st.sampled_from([KlRenderTexture, HostileTarget, KeepingTarget, int, None]))
    checksum = choose(lambda: draw(st.sampled_from(CHECKSUMS)), lambda: draw(st.integers()), Hostile)
    state = choose(lambda: None, lambda: tuple(value() for _ in range(draw(st.integers(0, 5)))), value)
    made = UNPICKLE(kind, checksum, state)
    if draw(st.booleans()):
        World.pool.append(made)


def roundtrip():
    t = target()
    how = draw(st.sampled_from([copy.copy, copy.deepcopy, lambda x: pickle.loads(pickle.dumps(x))]))
    how(t)


def get_property(name):
    t = target()
    return lambda: getattr(t, name)


def set_property(name):
    t = target()
    new = value()
    return t, lambda: setattr(t, name, new)


def delete_property(name):
    t = target()
    return t, lambda: delattr(t, name)


def with_block():
    t, inside = target(), draw(st.booleans())

    def call():
        with t:
            if inside:
                raise HostileError("inside the block")

    return call


def collect():
    gc.collect()


def doomed():
    # A loaded keeping target that dies inside the step: its release step
    # may keep it, and later steps use it.
    t = KeepingTarget.__new__(KeepingTarget)
    t.render_texture = RenderTexture()
    t.size = KlVector2(4.0, 2.0)
    t.loaded = True


def drop(_=None):
    if len(World.pool) > 1:
        World.pool.pop(draw(st.integers(0, len(World.pool) - 1)))


# name -> (kind, maker). Kinds: "pure" changes no target; "self" may change the
# target it returns, and leaves it unchanged when it fails; "any" may change
# things (it makes objects, or documents partial changes).
OPERATIONS = {
    **{f"method {name}": ("any" if name in CHANGING else "pure", call_method) for name in METHODS},
    **{f"slot {name}": ("any" if name == "kill" else "pure", slot_call) for name in SLOTS},
    **{f"get {name}": ("pure", get_property) for name in PROPERTIES},
    **{f"set {name}": ("self", set_property) for name in PROPERTIES},
    **{f"del {name}": ("self", delete_property) for name in PROPERTIES},
    "construct": ("any", construct),
    "__init__": ("self", reinit),
    "slot new": ("any", native_new),
    "from_rl_render_texture": ("any", adopt),
    "unpickle": ("any", unpickle),
    "copy/pickle": ("any", roundtrip),
    "with": ("pure", with_block),
    "gc": ("any", collect),
    "doomed": ("any", doomed),
    # Destruction runs hostile code too: targets go often.
    **{f"drop {n}": ("any", drop) for n in range(3)},
}


def prepare(name):
    """The call to make, and the target it may change (kind 'self'). Makers
    of kind 'any' may do the work themselves."""
    kind, maker = OPERATIONS[name]
    made = maker(name.split(" ", 1)[1]) if " " in name else maker()
    if kind == "self":
        return made[1], made[0]
    return (made if callable(made) else lambda: None), None


def record_of(t):
    return (
        KlRenderTexture.render_texture.__get__(t),
        KlRenderTexture.size.__get__(t),
        KlRenderTexture.loaded.__get__(t),
    )


def identities(t):
    """What record_of shows, by identity: holding the objects themselves
    would keep alive what a step must be free to drop."""
    return tuple(id(field) for field in record_of(t))


def run_operation(name):
    World.calls += 1
    try:
        call, _ = prepare(name)
        call()
    except (*DOCUMENTED, HostileError, HostileInterrupt):
        pass
    except BaseException as error:  # noqa: BLE001  (every other type is the finding)
        if from_hypothesis(error):
            raise
        World.violations.append(f"{name}: {type(error).__name__}: {error}")
