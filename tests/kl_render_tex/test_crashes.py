"""Ways a hostile but legal caller could take the interpreter down, each run
in a child interpreter so that a crash fails the test instead of the suite.

The children use the interpreter's debug allocator (unless the environment
already chose one, as the sanitizer run does), which fills freed memory so
that a use after free reads garbage and crashes instead of passing silently.
"""

import os

import pytest

from support.render_tex import run_python

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"
NOT_STARTED = (
    "ImportError: kelo_ui.fast.klrendertex.kl_render_tex has not started (its import failed or is still "
    "running): KlRenderTexture cannot be used until an import of it succeeds"
)

# A raylib binding that records its calls, installed as the module global md.
FAKE_MD = """
import gc, sys, types
import kelo_ui.fast.klrendertex.kl_render_tex as m
from kelo_ui.fast.klvector2.klvector2 import KlVector2
K = m.KlRenderTexture
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
"""


def run_child(code):
    """Run `code` in a fresh interpreter; returns (exit code, stdout lines, stderr)."""
    allocator = os.environ.get("PYTHONMALLOC", "debug")
    result = run_python(code, env={"PYTHONMALLOC": allocator})
    return result.returncode, result.stdout.splitlines(), result.stderr


def assert_clean(result, expected):
    returncode, lines, stderr = result
    assert returncode == 0, f"child died with {returncode}:\n{stderr[-3000:]}"
    assert lines == expected


# --- resurrection during destruction -------------------------------------------

RESURRECTORS = {
    # The release step tests the object for `render_texture`: a subclass's
    # property or __getattribute__ sees the dying object and keeps it.
    "property": "render_texture = property(lambda self: keep.append(self))",
    "getattribute": (
        "def __getattribute__(self, name):\n"
        "        if name == 'render_texture': keep.append(self)\n"
        "        return super().__getattribute__(name)"
    ),
    # With a __del__ of its own, the subclass's finaliser runs first and the
    # release step after it.
    "finaliser-then-property": (
        "render_texture = property(lambda self: keep.append(self))\n"
        "    def __del__(self): calls.append('__del__')"
    ),
}


@pytest.mark.parametrize("resurrector", RESURRECTORS.values(), ids=RESURRECTORS.keys())
def test_object_kept_by_its_release_step_stays_alive(resurrector):
    code = FAKE_MD + f"""
keep = []
class E(K):
    {resurrector}
E(KlVector2(4, 4))
junk = [bytearray(48) for _ in range(1000)]  # reuse whatever was freed
survivor = keep[0]
print(type(survivor).__name__, survivor.loaded, survivor.size.x, survivor.width)
keep.clear()
survivor.loaded = True
del survivor  # dies for good now; the release step does not run twice
gc.collect()
print(calls)
"""
    finaliser = "__del__" in resurrector
    expected_calls = ["load"] + (["__del__"] if finaliser else []) + ["ready", ("unload", "Loaded")]
    assert_clean(run_child(code), ["E True 4.0 4.0", repr(expected_calls)])


# --- borrowed fields handed to Python code --------------------------------------


@pytest.mark.parametrize("name", ["texture", "id", "depth"])
def test_render_texture_replaced_by_its_own_attribute_lookup(name):
    # The lookup of `name` on the held object replaces rt.render_texture,
    # dropping the last reference to that object, then fails so that the
    # interpreter goes on to its __getattr__ with the same object.
    code = FAKE_MD + f"""
class Evil:
    @property
    def {name}(self):
        rt.render_texture = None
        raise AttributeError("{name}")
    def __getattr__(self, attribute):
        return ("from __getattr__", type(self).__name__, attribute)
rt = K.__new__(K)
rt.render_texture = Evil()
print(rt.{name})
print(rt.render_texture)
"""
    assert_clean(run_child(code), [f"('from __getattr__', 'Evil', '{name}')", "None"])


# --- the class after a failed start-up --------------------------------------------

FAILED_STARTUPS = {
    # Each leaves the readied class reachable with part of its state missing.
    "vector-type": (
        "import kelo_ui.fast.klvector2.klvector2 as v\nreal_vector = v.KlVector2\nv.KlVector2 = 5\n",
        "v.KlVector2 = real_vector\n",
    ),
    "raylib-export": (
        "import kelo_ui.fast.raylib.kelo_raylib as r\n"
        "saved = r.__pyx_capi__.pop('c_draw_texture_vec')\n",
        "r.__pyx_capi__['c_draw_texture_vec'] = saved\n",
    ),
    "default-tint": (
        "import kelo_ui.presentation.color as c\nwhite = c.Color.White\nc.Color.White = []\n",
        "c.Color.White = white\n",
    ),
}

FAILED_IMPORT = """
try:
    import kelo_ui.fast.klrendertex.kl_render_tex
except Exception as error:
    print("import failed:", type(error).__name__)
"""

# The siblings are repaired by now; kl_render_tex stays unstarted until imported again.
AFTER_FAILURE = """
import sys, types
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
K, = [k for k in object.__subclasses__() if k.__name__ == "KlRenderTexture"]
# The probe finds the class through sys.modules, as a native caller would.
sys.modules["kelo_ui.fast.klrendertex.kl_render_tex"] = types.SimpleNamespace(KlRenderTexture=K)
class Sub(K):
    pass
def attempt(label, call):
    try:
        call()
    except BaseException as error:
        print(label, type(error).__name__ + ":", error)
    else:
        print(label, "succeeded")
attempt("init", lambda: K(KlVector2(8, 8)))
attempt("init-junk", lambda: K(1))
attempt("new", lambda: K.__new__(K))
attempt("set-size", lambda: setattr(K.__new__(K), "size", 1))
attempt("subclass", lambda: Sub(KlVector2(8, 8)))
attempt("native-new", lambda: kl_probe.rt_slot("new", KlVector2(8, 8)))
attempt("adopt", lambda: K.__dict__["from_rl_render_texture"].__func__(object()))
del sys.modules["kelo_ui.fast.klrendertex.kl_render_tex"]
"""

RETRY = """
import kelo_ui.fast.klrendertex.kl_render_tex as m
print("retry:", m.KlRenderTexture is K, K.__new__(K).loaded)
"""


@pytest.mark.parametrize("breakage, repair", FAILED_STARTUPS.values(), ids=FAILED_STARTUPS.keys())
def test_class_refuses_every_use_until_start_up_succeeds(breakage, repair):
    returncode, lines, stderr = run_child(breakage + FAILED_IMPORT + repair + AFTER_FAILURE + RETRY)
    assert returncode == 0, f"child died with {returncode}:\n{stderr[-3000:]}"
    assert lines[0].startswith("import failed:")
    refused = ["init", "init-junk", "new", "set-size", "subclass", "native-new"]
    for label, line in zip(refused, lines[1:7]):
        assert line == f"{label} {NOT_STARTED}"
    # The static method exists only once its step ran; where it does, it refuses too.
    assert lines[7] in (f"adopt {NOT_STARTED}", "adopt KeyError: 'from_rl_render_texture'")
    assert lines[8] == "retry: True False"


# --- deep chains ------------------------------------------------------------------


@pytest.mark.parametrize("subclass", [False, True], ids=["exact", "subclass"])
def test_freeing_a_deep_chain_does_not_overflow_the_stack(subclass):
    code = FAKE_MD + f"""
cls = type("Node", (K,), {{}}) if {subclass} else K
head = None
for _ in range(100_000):
    node = cls.__new__(cls)
    node.render_texture = head
    head = node
del node, head
print("freed", calls)
"""
    assert_clean(run_child(code), ["freed []"])


# --- the function objects after the collector cleared them ----------------------


def test_function_object_cleared_by_the_collector_keeps_its_names():
    code = """
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture as K
from kelo_ui.fast.probe import kl_probe
function = K.__dict__["get_width"]
kl_probe.collector_clear(function)
print(repr(function.__name__), repr(function.__qualname__), function.__module__, function.__defaults__)
print(repr(function).startswith("<function  at 0x"))
print(function.__reduce__() == "")
try:
    function(K.__new__(K))  # the call path needs nothing that was cleared
except AttributeError as error:
    print(error)
"""
    assert_clean(run_child(code), ["'' '' None None", "True", "True", "'NoneType' object has no attribute 'x'"])


def test_collector_clear_refuses_other_objects():
    code = """
from kelo_ui.fast.probe import kl_probe
for stranger in (5, [], kl_probe):
    try:
        kl_probe.collector_clear(stranger)
    except TypeError as error:
        print(error)
"""
    expected = [f"collector_clear() takes a kl_function_or_method, not {kind}" for kind in ("int", "list", "module")]
    assert_clean(run_child(code), expected)


# --- the probe hands only vectors to the native `new` ------------------------------


@pytest.mark.parametrize("stranger", ["12345", "None", "'800x600'", "KlRect(0, 0, 8, 8)", "[8.0, 8.0]"])
def test_probe_passes_only_vectors_to_native_new(stranger):
    code = FAKE_MD + f"""
from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.probe import kl_probe
stranger = {stranger}
try:
    kl_probe.rt_slot("new", stranger)
except TypeError as error:
    print(error)
print(calls)
"""
    kind = {"12345": "int", "None": "NoneType", "'800x600'": "str", "[8.0, 8.0]": "list"}.get(
        stranger, "kelo_ui.fast.klrect.klrect.KlRect"
    )
    assert_clean(
        run_child(code), [f"rt_slot('new', size): size must be a KlVector2, not {kind}", "[]"]
    )


# --- render textures that lead back to themselves ----------------------------------


@pytest.mark.parametrize("name", ["texture", "id", "depth"])
@pytest.mark.parametrize("loop", [1, 2], ids=["itself", "pair"])
def test_render_texture_chain_back_to_itself_raises_recursion_error(name, loop):
    # Each read looks the same name up on the held object, in C alone: the
    # interpreter's own recursion limit must stop it, not the end of the stack.
    code = FAKE_MD + f"""
targets = [K.__new__(K) for _ in range({loop})]
for target, following in zip(targets, targets[1:] + targets[:1]):
    target.render_texture = following
try:
    targets[0].{name}
except RecursionError as error:
    print("RecursionError")
for target in targets:
    target.render_texture = None
"""
    assert_clean(run_child(code), ["RecursionError"])
