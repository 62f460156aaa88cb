"""Ways a hostile but legal caller could take the interpreter down, each run
in a child with the debug allocator (tests/kl_render_tex/test_crashes.py).
Most install a raylib binding that records its calls as the module global md
first (`fake_md`)."""

import gc
import types

import kelo_ui.fast.klrendertex.kl_render_tex as m
from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe

K = m.KlRenderTexture


def fake_md():
    """A binding that records its calls installed as kl_render_tex.md;
    returns the list of its calls."""
    calls = []

    class Texture:
        width = height = 4

    class Loaded:
        texture = Texture()

    class Rl:
        def load_render_texture(self, w, h):
            calls.append("load")
            return Loaded()

        def unload_render_texture(self, rt):
            calls.append(("unload", type(rt).__name__))

        def is_window_ready(self):
            calls.append("ready")
            return True

    m.md = types.SimpleNamespace(rl=Rl())
    return calls


# --- resurrection during destruction -------------------------------------------


def _resurrecting(keep, calls, resurrector):
    """A subclass whose release step keeps the dying object in `keep`."""
    if resurrector == "property":
        # The release step tests the object for `render_texture`: a
        # subclass's property sees the dying object and keeps it.
        class E(K):
            render_texture = property(lambda self: keep.append(self))
    elif resurrector == "getattribute":

        class E(K):
            def __getattribute__(self, name):
                if name == "render_texture":
                    keep.append(self)
                return super().__getattribute__(name)
    elif resurrector == "finaliser-then-property":
        # With a __del__ of its own, the subclass's finaliser runs first and
        # the release step after it.
        class E(K):
            render_texture = property(lambda self: keep.append(self))

            def __del__(self):
                calls.append("__del__")
    else:
        raise ValueError(resurrector)
    return E


def object_kept_by_its_release_step(resurrector):
    """Prints the survivor, then the binding's calls once it died for good."""
    calls = fake_md()
    keep = []
    _resurrecting(keep, calls, resurrector)(KlVector2(4, 4))
    junk = [bytearray(48) for _ in range(1000)]  # reuse whatever was freed  # noqa: F841
    survivor = keep[0]
    print(type(survivor).__name__, survivor.loaded, survivor.size.x, survivor.width)
    keep.clear()
    survivor.loaded = True
    del survivor  # dies for good now; the release step does not run twice
    gc.collect()
    print(calls)


# --- borrowed fields handed to Python code --------------------------------------


def render_texture_replaced_by_its_own_lookup(name):
    """The lookup of `name` on the held object replaces rt.render_texture,
    dropping the last reference to that object, then fails so that the
    interpreter goes on to its __getattr__ with the same object."""
    fake_md()

    class Evil:
        def __getattr__(self, attribute):
            return ("from __getattr__", type(self).__name__, attribute)

    def lookup(self):
        rt.render_texture = None
        raise AttributeError(name)

    setattr(Evil, name, property(lookup))
    rt = K.__new__(K)
    rt.render_texture = Evil()
    print(getattr(rt, name))
    print(rt.render_texture)


# --- deep chains ------------------------------------------------------------------


def free_a_deep_chain(subclass):
    """Prints "freed" and the binding's calls once a chain of 100,000 went."""
    calls = fake_md()
    cls = type("Node", (K,), {}) if subclass == "True" else K
    head = None
    for _ in range(100_000):
        node = cls.__new__(cls)
        node.render_texture = head
        head = node
    del node, head
    print("freed", calls)


# --- the function objects after the collector cleared them ----------------------


def function_object_cleared_by_the_collector():
    function = K.__dict__["get_width"]
    kl_probe.collector_clear(function)
    print(repr(function.__name__), repr(function.__qualname__), function.__module__, function.__defaults__)
    print(repr(function).startswith("<function  at 0x"))
    print(function.__reduce__() == "")
    try:
        function(K.__new__(K))  # the call path needs nothing that was cleared
    except AttributeError as error:
        print(error)


def collector_clear_of_other_objects():
    for stranger in (5, [], kl_probe):
        try:
            kl_probe.collector_clear(stranger)
        except TypeError as error:
            print(error)


# --- the probe hands only vectors to the native `new` ------------------------------

# The strangers by how a caller would write them.
STRANGERS = {
    "12345": lambda: 12345,
    "None": lambda: None,
    "'800x600'": lambda: "800x600",
    "KlRect(0, 0, 8, 8)": lambda: KlRect(0, 0, 8, 8),
    "[8.0, 8.0]": lambda: [8.0, 8.0],
}


def probe_new_with(stranger):
    """Prints the probe's refusal of STRANGERS[stranger], then the binding's calls."""
    calls = fake_md()
    stranger = STRANGERS[stranger]()
    try:
        kl_probe.rt_slot("new", stranger)
    except TypeError as error:
        print(error)
    print(calls)


# --- render textures that lead back to themselves ----------------------------------


def chain_back_to_itself(name, loop):
    """Each read of `name` looks the same name up on the held object, in C
    alone, around a loop of `loop` targets: prints "RecursionError"."""
    fake_md()
    targets = [K.__new__(K) for _ in range(int(loop))]
    for target, following in zip(targets, targets[1:] + targets[:1], strict=True):
        target.render_texture = following
    try:
        getattr(targets[0], name)
    except RecursionError:
        print("RecursionError")
    for target in targets:
        target.render_texture = None
