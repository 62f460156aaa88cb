"""Start-up of kl_render_tex: the import surface, and start-up failures in
fresh interpreters with fake siblings."""

import importlib
import sys

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.presentation.color import Color
from support.children import run_ok, run_python

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

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
    import builtins

    import kelo_ui.core.annotations
    import kelo_ui.core.modules
    import kelo_ui.core.state

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
# Each child (children/startup.py) fakes or breaks a sibling, then imports.

SIGNATURE = "void (PyObject *, PyObject *, PyObject *, int)"
WRONG_SIGNATURE = "void (PyObject *, PyObject *, PyObject *, long)"


@pytest.mark.parametrize(
    "setup, expected",
    [
        (
            "missing-function",
            "ImportError: kelo_ui.fast.raylib.kelo_raylib does not export expected C function c_draw_texture_vec",
        ),
        (
            "wrong-signature",
            "TypeError: C function kelo_ui.fast.raylib.kelo_raylib.c_draw_texture_vec has wrong signature "
            f"(expected {SIGNATURE}, got {WRONG_SIGNATURE})",
        ),
        (
            "small-record",
            "ValueError: kelo_ui.fast.klvector2.klvector2.KlVector2 size changed, may indicate binary "
            "incompatibility. Expected 40 from C header, got 24 from PyObject",
        ),
        ("no-vtable", "KeyError: '__pyx_vtable__'"),
        ("not-a-type", "TypeError: kelo_ui.fast.klrect.klrect.KlRect is not a type object"),
        ("white-list", "TypeError: Expected tuple, got list"),
        ("no-color", "ImportError: cannot import name Color"),
        ("no-staticmethod", "NameError: name 'staticmethod' is not defined"),
        ("nameless-module", "ImportError: cannot import name Color"),
        ("name-memory-error", "MemoryError: __name__"),
        ("name-interrupt", "KeyboardInterrupt: __name__"),
    ],
    ids=[
        "missing-function",
        "wrong-signature",
        "small-record",
        "no-vtable",
        "not-a-type",
        "white-list",
        "no-color",
        "no-staticmethod",
        "nameless-module",
        "name-memory-error",
        "name-interrupt",
    ],
)
def test_startup_failure(setup, expected):
    output = run_ok("startup", "import_after", setup).splitlines()
    assert expected in output
    # The failure carries the start-up's own traceback entry.
    assert f"init {MODULE}" in output[-1].split(",")


def test_larger_record_only_warns():
    result = run_python("startup", "import_after", "larger-record")
    assert result.returncode == 0, result.stderr
    assert "imported" in result.stdout.splitlines()
    assert "RuntimeWarning" in result.stderr
    assert "Expected 40 from C header, got 48 from PyObject" in result.stderr
    # Turned into an error, the warning fails the import.
    output = run_ok("startup", "import_after", "larger-record", flags=("-W", "error::RuntimeWarning"))
    assert "size changed, may indicate binary incompatibility. Expected 40 from C header, got 48" in output


def test_retry_after_failure_runs_everything_again():
    output = run_ok("startup", "retry_after_failure")
    assert output.strip() == "(0, True, (1, 2, 3, 4))"


def test_white_none_and_later_changes():
    output = run_ok("startup", "white_none_and_later_changes")
    assert output.strip() == "(0, True, None) (True, None) (0, True, None) (True, None)"


@pytest.mark.parametrize("flags, expected", [((), "AssertionError: Render texture not loaded"), (("-O",), "no check")])
def test_assertions_follow_debug_at_startup(flags, expected):
    assert run_ok("startup", "assertion_probe", flags=flags).strip() == expected


def test_assertions_are_read_once():
    output = run_ok("startup", "assertions_read_once")
    assert output.strip() == "Render texture not loaded"


# An isolated interpreter (a GIL of its own) lets the module's creation run,
# so its users see the module's own refusal too.
@pytest.mark.parametrize("config", ["legacy", "isolated"])
@pytest.mark.parametrize("first", ["failed", "succeeded"])
def test_second_interpreter_is_refused(config, first):
    output = run_ok("startup", "second_interpreter", config, first)
    assert output.splitlines() == [
        f"first {first}",
        "ImportError: Interpreter change detected - this module can only be loaded into one interpreter per process.",
    ]
