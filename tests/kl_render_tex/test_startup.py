"""Start-up of kl_render_tex: the import surface, and start-up failures in
fresh interpreters with fake siblings."""

import importlib
import sys

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.presentation.color import Color
from support.render_tex import run_ok, run_python

MODULE = "kelo_ui.fast.klrendertex.kl_render_tex"


def test_import_is_once_per_process():
    again = importlib.import_module(MODULE)
    assert again is kl_render_tex
    saved = sys.modules.pop(MODULE)
    try:
        reimported = importlib.import_module(MODULE)
        assert reimported is kl_render_tex
        assert reimported.KlRenderTexture is KlRenderTexture
    finally:
        sys.modules[MODULE] = saved


def test_module_attributes():
    public = {name for name in vars(kl_render_tex) if not name.startswith("__")}
    assert public == {"KlRenderTexture", "md", "Color", "kelo_state", "Annotations"}
    import kelo_ui.core.annotations
    import kelo_ui.core.modules
    import kelo_ui.core.state
    import builtins

    assert kl_render_tex.md is kelo_ui.core.modules
    assert kl_render_tex.Color is Color
    assert kl_render_tex.kelo_state is kelo_ui.core.state.kelo_state
    assert kl_render_tex.Annotations is kelo_ui.core.annotations.Annotations
    assert kl_render_tex.__builtins__ is builtins
    assert kl_render_tex.__test__ == {}
    assert callable(kl_render_tex.__pyx_unpickle_KlRenderTexture)
    assert kl_render_tex.__file__.endswith(".so")


def test_class_surface():
    assert KlRenderTexture.__module__ == MODULE
    assert KlRenderTexture.__doc__ is None
    assert KlRenderTexture.__mro__ == (KlRenderTexture, object)
    assert repr(KlRenderTexture) == f"<class '{MODULE}.KlRenderTexture'>"
    assert type(KlRenderTexture.__dict__["__pyx_vtable__"]).__name__ == "PyCapsule"
    assert isinstance(KlRenderTexture.__dict__["from_rl_render_texture"], staticmethod)
    for name in ("__reduce__", "__setstate__"):
        assert type(KlRenderTexture.__dict__[name]) is type(KlRenderTexture.__dict__["kill"])


# --- fresh interpreters ------------------------------------------------------

FAKE_RAYLIB = """
import ctypes, sys, types
import kelo_ui.fast.raylib.kelo_raylib as real
new_capsule = ctypes.pythonapi.PyCapsule_New
new_capsule.restype = ctypes.py_object
new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
fake = types.ModuleType(real.__name__)
fake.__pyx_capi__ = dict(real.__pyx_capi__)
sys.modules[real.__name__] = fake
"""

FAKE_VECTOR = """
import sys, types
import kelo_ui.fast.klvector2.klvector2 as real
class KlVector2:
    __slots__ = SLOTS
KlVector2.__pyx_vtable__ = real.KlVector2.__dict__["__pyx_vtable__"]
fake = types.ModuleType(real.__name__)
fake.KlVector2 = KlVector2
sys.modules[real.__name__] = fake
print(KlVector2.__basicsize__)
"""

# A module object without Color whose __name__ lookup fails with ERROR: only
# an AttributeError means it has no name to look a submodule up by.
NAMELESS_COLOR_MODULE = """
import sys
import kelo_ui.presentation.color
class Nameless:
    def __getattr__(self, name):
        if name == "__name__":
            raise ERROR("__name__")
        raise AttributeError(name)
sys.modules["kelo_ui.presentation.color"] = Nameless()
"""

IMPORT = f"""
import traceback
try:
    import {MODULE}
except BaseException as error:
    print(type(error).__name__, error, sep=": ")
    print(",".join(frame.name for frame in traceback.extract_tb(error.__traceback__)))
else:
    print("imported")
"""

SIGNATURE = "void (PyObject *, PyObject *, PyObject *, int)"
WRONG_SIGNATURE = "void (PyObject *, PyObject *, PyObject *, long)"


@pytest.mark.parametrize(
    "setup, expected",
    [
        (
            FAKE_RAYLIB + "del fake.__pyx_capi__['c_draw_texture_vec']\n",
            "ImportError: kelo_ui.fast.raylib.kelo_raylib does not export expected C function c_draw_texture_vec",
        ),
        (
            FAKE_RAYLIB
            + f"name = b'{WRONG_SIGNATURE}'\n"
            + "fake.__pyx_capi__['c_draw_texture_vec'] = new_capsule(1, name, None)\n",
            "TypeError: C function kelo_ui.fast.raylib.kelo_raylib.c_draw_texture_vec has wrong signature "
            f"(expected {SIGNATURE}, got {WRONG_SIGNATURE})",
        ),
        (
            FAKE_VECTOR.replace("SLOTS", "('a',)"),
            "ValueError: kelo_ui.fast.klvector2.klvector2.KlVector2 size changed, may indicate binary "
            "incompatibility. Expected 40 from C header, got 24 from PyObject",
        ),
        (
            FAKE_VECTOR.replace("SLOTS", "('a', 'b', 'c')").replace("KlVector2.__pyx_vtable__ = ", "_ = "),
            "KeyError: '__pyx_vtable__'",
        ),
        (
            "import sys, types\nimport kelo_ui.fast.klrect.klrect as real\n"
            "fake = types.ModuleType(real.__name__)\nfake.KlRect = 5\nsys.modules[real.__name__] = fake\n",
            "TypeError: kelo_ui.fast.klrect.klrect.KlRect is not a type object",
        ),
        (
            "import kelo_ui.presentation.color as c\nc.Color.White = [255, 255, 255, 255]\n",
            "TypeError: Expected tuple, got list",
        ),
        (
            "import kelo_ui.presentation.color as c\ndel c.Color\n",
            "ImportError: cannot import name Color",
        ),
        (
            "import kelo_ui.core.modules, kelo_ui.core.state, kelo_ui.core.annotations\n"
            "import kelo_ui.presentation.color, kelo_ui.fast.klrendertex\n"
            "import builtins\ndel builtins.staticmethod\n",
            "NameError: name 'staticmethod' is not defined",
        ),
        (NAMELESS_COLOR_MODULE.replace("ERROR", "AttributeError"), "ImportError: cannot import name Color"),
        (NAMELESS_COLOR_MODULE.replace("ERROR", "MemoryError"), "MemoryError: __name__"),
        (NAMELESS_COLOR_MODULE.replace("ERROR", "KeyboardInterrupt"), "KeyboardInterrupt: __name__"),
    ],
    ids=["missing-function", "wrong-signature", "small-record", "no-vtable", "not-a-type", "white-list",
         "no-color", "no-staticmethod", "nameless-module", "name-memory-error", "name-interrupt"],
)
def test_startup_failure(setup, expected):
    output = run_ok("import traceback\n" + setup + IMPORT).splitlines()
    assert expected in output
    # The failure carries the start-up's own traceback entry.
    assert f"init {MODULE}" in output[-1].split(",")


def test_larger_record_only_warns():
    setup = FAKE_VECTOR.replace("SLOTS", "('a', 'b', 'c', 'd')")
    result = run_python(setup + IMPORT)
    assert result.returncode == 0, result.stderr
    assert "imported" in result.stdout.splitlines()
    assert "RuntimeWarning" in result.stderr
    assert "Expected 40 from C header, got 48 from PyObject" in result.stderr
    # Turned into an error, the warning fails the import.
    output = run_ok(setup + IMPORT, "-W", "error::RuntimeWarning")
    assert "size changed, may indicate binary incompatibility. Expected 40 from C header, got 48" in output


def test_retry_after_failure_runs_everything_again():
    output = run_ok(
        """
        import kelo_ui.presentation.color as c
        c.Color.White = [1, 2, 3, 4]
        try:
            import kelo_ui.fast.klrendertex.kl_render_tex
        except TypeError:
            pass
        c.Color.White = (1, 2, 3, 4)
        import kelo_ui.fast.klrendertex.kl_render_tex as m
        print(m.KlRenderTexture.blit.__defaults__)
        """
    )
    assert output.strip() == "(0, True, (1, 2, 3, 4))"


def test_white_none_and_later_changes():
    output = run_ok(
        """
        import kelo_ui.presentation.color as c
        c.Color.White = None
        import kelo_ui.fast.klrendertex.kl_render_tex as m
        c.Color.White = (9, 9, 9, 9)
        K = m.KlRenderTexture
        print(K.blit.__defaults__, K.fast_blit.__defaults__, K.blit_texture.__defaults__,
              K.fast_blit_texture.__defaults__)
        """
    )
    assert output.strip() == "(0, True, None) (True, None) (0, True, None) (True, None)"


ASSERTION_PROBE = """
import kelo_ui.fast.klrendertex.kl_render_tex as m
from kelo_ui.fast.raylib import kelo_raylib
kelo_raylib.backend = None  # no window: the clear draws nothing
rt = m.KlRenderTexture.__new__(m.KlRenderTexture)
try:
    rt.fast_clear(None)
except AssertionError as error:
    print("AssertionError:", error)
else:
    print("no check")
"""


@pytest.mark.parametrize("flags, expected", [((), "AssertionError: Render texture not loaded"), (("-O",), "no check")])
def test_assertions_follow_debug_at_startup(flags, expected):
    assert run_ok(ASSERTION_PROBE, *flags).strip() == expected


def test_assertions_are_read_once():
    output = run_ok(
        """
        import builtins
        import kelo_ui.fast.klrendertex.kl_render_tex as m
        setattr(builtins, "__debug__", False)
        rt = m.KlRenderTexture.__new__(m.KlRenderTexture)
        try:
            rt.fast_clear(None)
        except AssertionError as error:
            print(error)
        """
    )
    assert output.strip() == "Render texture not loaded"


SUBINTERPRETER_IMPORT = """
try:
    import kelo_ui.fast.klrendertex.kl_render_tex
except ImportError as error:
    print("ImportError:", error, flush=True)
"""


# An isolated interpreter (a GIL of its own) lets the module's creation run,
# so its users see the module's own refusal too.
@pytest.mark.parametrize("config", ["legacy", "isolated"])
@pytest.mark.parametrize("first", ["failed", "succeeded"])
def test_second_interpreter_is_refused(config, first):
    breakage = "c.Color.White = []" if first == "failed" else ""
    output = run_ok(
        f"""
        import _interpreters
        import kelo_ui.presentation.color as c
        {breakage}
        try:
            import kelo_ui.fast.klrendertex.kl_render_tex
        except TypeError:
            print("first failed", flush=True)
        else:
            print("first succeeded", flush=True)
        interp = _interpreters.create({config!r})
        _interpreters.run_string(interp, {SUBINTERPRETER_IMPORT!r})
        _interpreters.destroy(interp)
        """
    )
    assert output.splitlines() == [
        f"first {first}",
        "ImportError: Interpreter change detected - this module can only be loaded into one interpreter per "
        "process.",
    ]
