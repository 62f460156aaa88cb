"""The one policy of every native module: one module per process. Executing
a module's definition with another module object is refused with the
module's own RuntimeError, never a SystemError without an exception."""

import ctypes
import importlib
import types

import pytest

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

MODULES = [
    "kelo_ui.fast.klrendertex.kl_render_tex",
    "kelo_ui.fast.klvector2.klvector2",
    "kelo_ui.fast.klrect.klrect",
    "kelo_ui.fast.klshader.klshader",
    "kelo_ui.fast.raylib.kelo_raylib",
    "kelo_ui.fast.probe.kl_probe",
]


@pytest.mark.parametrize("name", MODULES)
def test_executing_the_definition_on_another_module_is_refused(name):
    module = importlib.import_module(name)
    last = name.rsplit(".", 1)[1]
    init = getattr(ctypes.PyDLL(module.__file__), f"PyInit_{last}")
    init.restype = ctypes.c_void_p
    execute = ctypes.pythonapi.PyModule_ExecDef
    execute.argtypes, execute.restype = [ctypes.py_object, ctypes.c_void_p], ctypes.c_int
    with pytest.raises(RuntimeError) as refused:
        execute(types.ModuleType(name), init())
    assert str(refused.value) == f"Module '{last}' has already been imported. Re-initialisation is not supported."
    assert importlib.import_module(name) is module
