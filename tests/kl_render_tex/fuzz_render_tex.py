"""Property-based fuzzing of KlRenderTexture, run as a script in a child
interpreter so that a crash ends only that process.

    python tests/kl_render_tex/fuzz_render_tex.py --calls 100000            # random, as long as asked
    python tests/kl_render_tex/fuzz_render_tex.py --calls 3000 --derandomize  # the short run of the suite

Every Python-visible method, property, the unpickling function and every
native slot reachable through kl_probe is called with arbitrary argument
shapes and values, among them hostile objects: at each of their callbacks
(__int__, __index__, __float__, __bool__, __len__, __format__, __call__,
__del__, attribute lookups, the raylib binding, the drawing backend, the
window's display, subclass properties and overrides) hypothesis decides
whether they behave, raise an Exception, raise a BaseException, re-enter an
operation, or mutate a target or the module's globals.

Checked after every step: only documented exception types came out (or the
hostile objects' own), no SystemError; every target's record is consistent;
an operation documented to change nothing changed nothing, and a failed
__init__, property assignment or kill left its target as it was (both unless
hostile code changed things meanwhile). The last line printed is the summary:
"fuzz: N calls in S s (E examples)".
"""

import argparse
import copy
import gc
import math
import pickle
import sys
import time
import types

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from kelo_ui.fast.raylib import kelo_raylib

UNPICKLE = kl_render_tex.__pyx_unpickle_KlRenderTexture
BATCH = 100  # examples per hypothesis run
CHECKSUMS = (0xD7BABC0, 0x80A1750, 0x4DEE0A1)

# What the documentation lets come out of the module.
# RecursionError is the interpreter's own report of a render texture that
# leads back to itself.
DOCUMENTED = (TypeError, AttributeError, AssertionError, ValueError, OverflowError, NameError,
              NotImplementedError, KeyError, pickle.PickleError, RecursionError)


class HostileError(Exception):
    """Raised by hostile code; passes through unchanged."""


class HostileInterrupt(BaseException):
    """A BaseException raised by hostile code; passes through unchanged."""


class World:
    data = None  # hypothesis' data while an example runs
    drawing = False  # inside one of our draws: hostile code stays quiet
    depth = 0  # re-entrance depth
    mutated = False  # hostile code changed some state during the current step
    exhausted = False  # hypothesis ran out of data: hostile code stops drawing
    generation = 0  # counts examples: an object kept past its own stays passive
    calls = 0
    pool = []  # the targets operations act on
    violations = []


def draw(strategy):
    World.drawing = True
    try:
        return World.data.draw(strategy)
    except BaseException as error:
        # Raised where a destructor may swallow it: remember it, so that
        # nothing draws again in this example.
        if from_hypothesis(error):
            World.exhausted = True
        raise
    finally:
        World.drawing = False


def choose(*makers):
    """One of `makers`, called: strategies then never hold our objects (a
    cached strategy would keep them, and their destruction would come at a
    moment no example controls)."""
    return makers[draw(st.integers(0, len(makers) - 1))]()


def pick(objects):
    """One of `objects` (a list that may change), chosen by index."""
    return objects[draw(st.integers(0, len(objects) - 1))]


ACTIONS = ("behave", "behave", "behave", "raise", "raise-base", "reenter", "mutate")


def born_now(owner):
    """Tag a hostile object with the example that made it."""
    owner.__dict__["_generation"] = World.generation
    return owner


def mischief(normal, owner):
    """What `owner`'s hostile callback does before (if it returns at all)
    giving `normal()`."""
    if World.data is None or World.drawing or World.exhausted or World.depth > 2 or \
            owner.__dict__.get("_generation") != World.generation:
        return normal()
    action = draw(st.sampled_from(ACTIONS))
    if action == "raise":
        raise HostileError("hostile")
    if action == "raise-base":
        raise HostileInterrupt("hostile")
    if action == "reenter":
        World.mutated = True
        World.depth += 1
        try:
            run_operation(draw(st.sampled_from(sorted(OPERATIONS))))
        finally:
            World.depth -= 1
    elif action == "mutate":
        World.mutated = True
        mutate()
    return normal()


HOSTILE_NAMES = {"texture", "width", "height", "id", "depth", "rl", "window", "display", "fast_blit_pro",
                 "load_render_texture", "unload_render_texture", "is_window_ready", "BlendMode", "BLEND_ALPHA",
                 "begin_texture_mode", "end_texture_mode", "begin_blend_mode", "end_blend_mode",
                 "c_clear_background", "c_draw_texture_vec", "c_draw_texture_rec", "clear_background"}


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
    if World.data is not None and not World.exhausted and not World.drawing and \
            self.__dict__.get("_generation") == World.generation and draw(st.booleans()):
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
        self.ready = choose(lambda: True, lambda: False, lambda: HostileError, lambda: HostileInterrupt,
                            lambda: FixedTruth(choose(lambda: True, lambda: False, lambda: HostileError,
                                                      lambda: HostileInterrupt)))
        self.unload_error = choose(lambda: None, lambda: HostileError, lambda: HostileInterrupt)

    def load_render_texture(self, width, height):
        return mischief(lambda: choose(lambda: RenderTexture(width, height), Hostile, HostileRenderTexture,
                                       lambda: None), self)

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
        lambda: None, lambda: draw(st.booleans()), lambda: draw(st.integers()), lambda: draw(floats),
        lambda: draw(st.text(max_size=4)),
        lambda: draw(st.tuples(st.integers(-5, 5), st.integers(-5, 5))),
        lambda: draw(st.tuples(*[st.integers(-5, 5)] * 4)),
        lambda: draw(st.tuples(*[st.integers(0, 255)] * 3)),
        lambda: draw(st.lists(st.integers(), max_size=4)),
        lambda: KlVector2(draw(floats), draw(floats)),
        lambda: HostileVector(draw(floats), draw(floats)),
        lambda: KlRect(*(draw(st.floats(width=32)) for _ in range(4))),
        lambda: RenderTexture(draw(st.integers()), draw(st.integers())),
        Hostile, HostileRenderTexture,
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
        value = value() if what != "size" else choose(
            lambda: None, lambda: KlVector2(1.0, 1.0), lambda: HostileVector(2.0, 2.0))
        setattr(target, what, value)
    elif what == "drop" and len(World.pool) > 1:
        World.pool.pop(draw(st.integers(0, len(World.pool) - 1)))
    elif what == "new":
        World.pool.append(new_target())
    elif what == "md":
        # Destruction reads md.rl too: no hostile object that decides late.
        kl_render_tex.md = choose(lambda: None, lambda: types.SimpleNamespace(rl=None),
                                  lambda: types.SimpleNamespace(rl=Binding()))
    elif what == "backend":
        kelo_raylib.backend = choose(Hostile, lambda: None, Backend)
    elif what == "window":
        kl_render_tex.kelo_state = types.SimpleNamespace(window=choose(Hostile, lambda: None))


# --- operations ------------------------------------------------------------------

METHODS = ["blit", "fast_blit", "blit_texture", "fast_blit_texture", "clear", "fast_clear", "fill", "kill",
           "get_rect", "get_height", "get_width", "copy", "__enter__", "__exit__", "__reduce__", "__setstate__"]
PROPERTIES = ["texture", "id", "depth", "width", "height", "render_texture", "size", "loaded"]
# Native slots and what follows the target in kl_probe.rt_slot(name, target, ...).
SLOTS = {"c_fast_blit": 4, "c_fast_blit_texture": 4, "c_fast_clear": 1, "c_clear": 1, "clear": 2,
         "fast_clear": 2, "fill": 2, "kill": 1, "get_rect": 1, "get_height": 1, "get_width": 1}


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
    value = value()
    return t, lambda: setattr(t, name, value)


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
    **{f"method {name}": ("pure", call_method) for name in ("blit", "fast_blit", "blit_texture",
                                                            "fast_blit_texture", "clear", "fast_clear", "fill",
                                                            "get_rect", "get_height", "get_width", "copy",
                                                            "__enter__", "__exit__", "__reduce__")},
    "method kill": ("any", call_method),
    "method __setstate__": ("any", call_method),
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
    return (KlRenderTexture.render_texture.__get__(t), KlRenderTexture.size.__get__(t),
            KlRenderTexture.loaded.__get__(t))


def identities(t):
    """What record_of shows, by identity: holding the objects themselves
    would keep alive what a step must be free to drop."""
    return tuple(id(field) for field in record_of(t))


def from_hypothesis(error):
    """Hypothesis' own control flow (StopTest, flakiness reports) passes through."""
    return type(error).__module__.startswith("hypothesis")


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


def check_records():
    for t in World.pool:
        _, size, loaded = record_of(t)
        assert type(loaded) is bool, (t, loaded)
        assert size is None or isinstance(size, KlVector2), (t, size)
        if size is not None:  # the record's own width, whatever Python-level x says
            width, x = KlRenderTexture.width.__get__(t), KlVector2.x.__get__(size)
            assert width == x or (math.isnan(width) and math.isnan(x)), (t, width, x)


def step(name):
    kind, _ = OPERATIONS[name]
    before = []
    World.calls += 1
    failed = False
    changed = None
    try:
        call, changed = prepare(name)
        before = [(t, identities(t)) for t in World.pool]
        World.mutated = False
        call()
    except (*DOCUMENTED, HostileError, HostileInterrupt):
        failed = True
    except BaseException as error:  # noqa: BLE001
        if from_hypothesis(error):
            raise
        World.violations.append(f"{name}: {type(error).__name__}: {error}")
    assert not World.violations, World.violations
    check_records()
    if World.mutated or kind == "any":
        return
    for t, fields in before:
        if t is changed and not failed:
            continue  # a successful change of the target it was asked to change
        after = identities(t)
        assert fields == after, (name, t, record_of(t))


def reset():
    kl_render_tex.md = None
    kelo_raylib.backend = None
    kl_render_tex.kelo_state = types.SimpleNamespace(window=None)
    World.violations = []
    World.depth = 0
    World.exhausted = False


def unraisable(report):
    # Destruction reports BaseExceptions this way, with its own context; hostile
    # __del__ methods too. Anything else is a finding.
    if not issubclass(report.exc_type, (Exception, HostileInterrupt)) and not from_hypothesis(report.exc_value):
        World.violations.append(f"unraisable {report.exc_type.__name__}: {report.exc_value}")


@given(st.data())
def scenario(data):
    reset()
    World.generation += 1
    World.data = data
    try:
        kl_render_tex.md = types.SimpleNamespace(rl=Binding())
        kelo_raylib.backend = Backend()
        kl_render_tex.kelo_state = types.SimpleNamespace(window=types.SimpleNamespace(display=Backend()))
        World.pool = []
        World.pool.extend(new_target() for _ in range(draw(st.integers(1, 4))))
        for _ in range(draw(st.integers(1, 25))):
            step(draw(st.sampled_from(sorted(OPERATIONS))))
    finally:
        World.data = None
        World.pool = []
        reset()
        gc.collect()
        assert not World.violations, World.violations


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=100_000, help="stop once this many calls were made")
    parser.add_argument("--derandomize", action="store_true", help="the same examples every run")
    options = parser.parse_args()
    sys.unraisablehook = unraisable
    # Collections only where a step asks for one: finalisers that draw at the
    # collector's whim would make the examples irreproducible.
    gc.disable()
    # Destruction prints the BaseExceptions it reports (hostile ones, and
    # hypothesis' StopTest): quiet while an example runs, never at the top.
    sys.excepthook = lambda kind, value, tb: None if issubclass(kind, HostileInterrupt) or (
        World.data is not None and from_hypothesis(value)) else sys.__excepthook__(kind, value, tb)
    # Derandomized, one run of fixed examples (about ten calls each, rarely
    # fewer than six) makes the calls; otherwise batches of fresh random
    # examples follow each other.
    size = max(1, options.calls // 6) if options.derandomize else BATCH
    run = settings(max_examples=size, deadline=None, database=None, derandomize=options.derandomize,
                   suppress_health_check=list(HealthCheck), print_blob=True)(scenario)
    start = time.monotonic()
    examples = 0
    while World.calls < options.calls:
        run()
        examples += size
        if options.derandomize:
            break
    print(f"fuzz: {World.calls} calls in {time.monotonic() - start:.1f} s ({examples} examples)", flush=True)


if __name__ == "__main__":
    main()
