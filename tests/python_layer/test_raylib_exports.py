"""kelo_raylib: its exported native functions and their forwarding to the
drawing backend, seen from a native caller (the probe) and from Python."""

import ast
import ctypes
import pathlib

import pytest

from kelo_ui.fast.probe import kl_probe
from kelo_ui.fast.raylib import kelo_raylib
from support.children import run_ok

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

SIGNATURES = {
    "c_clear_background": "void (PyObject *)",
    "c_draw_texture_rec": "void (PyObject *, PyObject *, PyObject *, PyObject *)",
    "c_draw_texture_vec": "void (PyObject *, PyObject *, PyObject *, int)",
    "begin_texture_mode": "void (PyObject *, int __pyx_skip_dispatch)",
    "clear_background": "void (PyObject *, int __pyx_skip_dispatch)",
    "end_blend_mode": "void (int __pyx_skip_dispatch)",
    "end_texture_mode": "void (int __pyx_skip_dispatch)",
    "begin_blend_mode": "void (int, int __pyx_skip_dispatch)",
    # The lean blits, which importers may do without.
    "c_draw_render_texture_vec": "int (PyObject *, PyObject *, PyObject *, int)",
    "c_draw_render_texture_rec": "int (PyObject *, double, double, PyObject *, PyObject *)",
    "c_draw_render_texture_area": "int (PyObject *, double, double, double, double, PyObject *, PyObject *, int)",
    "c_calling": "const char *(const char *)",
}

capsule_name = ctypes.PYFUNCTYPE(ctypes.c_char_p, ctypes.py_object)(("PyCapsule_GetName", ctypes.pythonapi))

TEXTURE = object()
RENDER_TEXTURE = object()
SOURCE = (0.0, 0.0, 8.0, -8.0)
DEST = (1, 2)
COLOR = (10, 20, 30, 255)

# (function, arguments of the native call, arguments the backend receives)
FORWARDING = [
    ("c_clear_background", (COLOR,), (COLOR,)),
    ("c_clear_background", (None,), (None,)),
    ("c_draw_texture_rec", (TEXTURE, SOURCE, DEST, COLOR), (TEXTURE, SOURCE, DEST, COLOR)),
    ("c_draw_texture_vec", (TEXTURE, DEST, COLOR, 1), (TEXTURE, DEST, COLOR, 1)),
    ("c_draw_texture_vec", (TEXTURE, DEST, None, 0), (TEXTURE, DEST, None, 0)),
    ("begin_texture_mode", (RENDER_TEXTURE, 0), (RENDER_TEXTURE,)),
    ("begin_texture_mode", (RENDER_TEXTURE, 1), (RENDER_TEXTURE,)),
    ("clear_background", (COLOR, 0), (COLOR,)),
    ("end_blend_mode", (0,), ()),
    ("end_texture_mode", (1,), ()),
    ("begin_blend_mode", (3, 0), (3,)),
    ("begin_blend_mode", (-(2**31), 0), (-(2**31),)),
]
ids = [f"{name}{args}" for name, args, _ in FORWARDING]


def test_exports_every_function_under_its_signature():
    capi = kelo_raylib.__pyx_capi__
    assert list(capi) == list(SIGNATURES)
    assert {name: capsule_name(capsule).decode() for name, capsule in capi.items()} == SIGNATURES


def test_default_backend_is_the_window_context():
    assert kelo_raylib.backend is kelo_raylib.context and type(kelo_raylib.context) is kelo_raylib.WindowContext


@pytest.mark.parametrize(("name", "args", "received"), FORWARDING, ids=ids)
def test_native_call_forwards_to_the_backend(backend, name, args, received):
    assert kl_probe.raylib_call(name, *args) is None
    assert backend.calls == [(name, *received)]
    # Objects arrive as they are; ints as exact Python ints.
    for got, sent in zip(backend.calls[0][1:], received, strict=True):
        assert got is sent or (type(got) is int and got == sent)


@pytest.mark.parametrize(("name", "args", "received"), FORWARDING, ids=ids)
def test_backend_exception_reaches_the_native_caller(backend, name, args, received):
    error = RuntimeError("boom")
    backend.fail[name] = error
    with pytest.raises(RuntimeError) as raised:
        kl_probe.raylib_call(name, *args)
    assert raised.value is error
    assert backend.calls == [(name, *received)]


@pytest.mark.parametrize(("name", "args", "received"), FORWARDING, ids=ids)
def test_backend_none_draws_nothing_and_no_window_refuses(name, args, received, monkeypatch):
    with pytest.raises(RuntimeError, match="^(c_)?" + name.removeprefix("c_") + ": no window is open"):
        kl_probe.raylib_call(name, *args)
    monkeypatch.setattr(kelo_raylib, "backend", None)
    assert kl_probe.raylib_call(name, *args) is None


@pytest.mark.parametrize(("name", "args", "received"), FORWARDING[::3], ids=ids[::3])
def test_pending_exception_is_kept_and_nothing_is_called(backend, name, args, received):
    error = KeyError("earlier failure")
    with pytest.raises(KeyError) as raised:
        kl_probe.raylib_call_over_pending(error, name, *args)
    assert raised.value is error
    assert backend.calls == []


def test_backend_is_looked_up_at_every_call(backend, monkeypatch):
    kl_probe.raylib_call("end_texture_mode", 0)
    other = type(backend)()
    monkeypatch.setattr(kelo_raylib, "backend", other)
    kl_probe.raylib_call("end_texture_mode", 0)
    assert backend.calls == other.calls == [("end_texture_mode",)]


def test_backend_missing_method_raises_attribute_error(monkeypatch):
    monkeypatch.setattr(kelo_raylib, "backend", object())
    with pytest.raises(AttributeError, match="begin_blend_mode"):
        kl_probe.raylib_call("begin_blend_mode", 0, 0)


def test_deleted_backend_attribute_raises_attribute_error(monkeypatch):
    monkeypatch.delattr(kelo_raylib, "backend")
    with pytest.raises(AttributeError, match="backend"):
        kl_probe.raylib_call("end_blend_mode", 0)


def test_backend_changed_through_the_dictionary_or_by_itself(backend, monkeypatch):
    kl_probe.raylib_call("end_texture_mode", 0)
    other = type(backend)()
    # A key that is equal to "backend" but not the interned name.
    monkeypatch.setitem(vars(kelo_raylib), "".join(["back", "end"]), other)
    kl_probe.raylib_call("end_blend_mode", 0)

    class Replacing:
        def end_texture_mode(self):
            # The last reference to this backend goes while it draws.
            kelo_raylib.backend = other
            self.gone = True

    kelo_raylib.backend = Replacing()
    kl_probe.raylib_call("end_texture_mode", 0)
    kl_probe.raylib_call("end_blend_mode", 0)
    assert backend.calls == [("end_texture_mode",)]
    assert other.calls == [("end_blend_mode",), ("end_blend_mode",)]


def test_module_getattr_stands_in_for_a_missing_backend(backend, monkeypatch):
    monkeypatch.delattr(kelo_raylib, "backend")
    monkeypatch.setattr(kelo_raylib, "__getattr__", lambda name: backend if name == "backend" else None, raising=False)
    kl_probe.raylib_call("end_blend_mode", 0)
    kl_probe.raylib_call("end_texture_mode", 0)
    assert backend.calls == [("end_blend_mode",), ("end_texture_mode",)]


# --- the same functions called from Python -------------------------------------

PYTHON_CALLS = [
    ("c_clear_background", (COLOR,), (COLOR,)),
    ("c_draw_texture_rec", (TEXTURE, SOURCE, DEST, COLOR), (TEXTURE, SOURCE, DEST, COLOR)),
    ("c_draw_texture_vec", (TEXTURE, DEST, COLOR, True), (TEXTURE, DEST, COLOR, 1)),
    ("begin_texture_mode", (RENDER_TEXTURE,), (RENDER_TEXTURE,)),
    ("clear_background", (COLOR,), (COLOR,)),
    ("end_blend_mode", (), ()),
    ("end_texture_mode", (), ()),
    ("begin_blend_mode", (1,), (1,)),
]


@pytest.mark.parametrize(("name", "args", "received"), PYTHON_CALLS, ids=[c[0] for c in PYTHON_CALLS])
def test_python_functions_forward_and_raise(backend, name, args, received):
    function = getattr(kelo_raylib, name)
    assert function(*args) is None
    backend.fail[name] = ValueError("drawing failed")
    with pytest.raises(ValueError, match="drawing failed"):
        function(*args)
    assert backend.calls == [(name, *received)] * 2


@pytest.mark.parametrize(
    ("call", "error"),
    [
        (lambda: kelo_raylib.begin_texture_mode(), TypeError),
        (lambda: kelo_raylib.end_texture_mode(0), TypeError),
        (lambda: kelo_raylib.c_draw_texture_vec(TEXTURE, DEST, COLOR), TypeError),
        (lambda: kelo_raylib.c_clear_background(color=COLOR), TypeError),
        (lambda: kelo_raylib.begin_blend_mode("alpha"), TypeError),
        (lambda: kelo_raylib.begin_blend_mode(1.5), TypeError),
        (lambda: kelo_raylib.begin_blend_mode(2**31), OverflowError),
        (lambda: kelo_raylib.c_draw_texture_vec(TEXTURE, DEST, COLOR, None), TypeError),
    ],
)
def test_python_functions_refuse_bad_arguments(backend, call, error):
    with pytest.raises(error):
        call()
    assert backend.calls == []


@pytest.mark.parametrize(
    ("args", "error"),
    [
        (("begin_texture_mode", RENDER_TEXTURE), TypeError),
        (("end_blend_mode", 0, 0), TypeError),
        (("begin_blend_mode", "x", 0), TypeError),
        (("begin_blend_mode", 2**40, 0), OverflowError),
        (("no_such_function",), ValueError),
        ((42,), TypeError),
    ],
)
def test_probe_refuses_bad_calls(backend, args, error):
    with pytest.raises(error):
        kl_probe.raylib_call(*args)
    assert backend.calls == []


def test_a_second_interpreter_is_refused():
    output = run_ok("modules", "raylib_in_a_second_interpreter")
    assert output.strip() == "kelo_raylib can be used by one interpreter only"


def test_importing_again_keeps_one_dictionary_watcher():
    # The interpreter has only a few dictionary watchers; a module executed
    # again must not take another, and must follow the new module's backend.
    output = run_ok("modules", "raylib_executed_again")
    assert output.strip() == "[11]"


def test_the_stub_declares_the_tables_python_functions():
    # The stub is written by hand: each export that Python can call is there,
    # with its signature's parameters but the skip-dispatch flag; the lean
    # blits, which Python cannot call, are not.
    stub = pathlib.Path(kelo_raylib.__file__).with_name("kelo_raylib.pyi")
    declared = {
        node.name: len(node.args.args) for node in ast.parse(stub.read_text()).body if isinstance(node, ast.FunctionDef)
    }
    for name, capsule in kelo_raylib.__pyx_capi__.items():
        signature = capsule_name(capsule).decode()
        parameters = [p for p in signature[signature.index("(") + 1 : -1].split(", ") if "skip_dispatch" not in p]
        assert declared.get(name) == (len(parameters) if hasattr(kelo_raylib, name) else None), name
