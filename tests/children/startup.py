"""Start-up of kl_render_tex in a fresh interpreter: its siblings faked or
broken first, then the import. Nothing here imports kl_render_tex before a
scenario asks for it."""

import sys
import types

MODULE = "kelo_ui.fast.klrendertex.kl_render_tex"
SIGNATURE_OF_ANOTHER_BUILD = b"void (PyObject *, PyObject *, PyObject *, long)"

# What a faked sibling points into (a capsule's name): alive to the end.
KEPT: list[bytes] = []


def _fake_raylib():
    """kelo_raylib replaced in sys.modules by a module with a copy of its C
    exports; returns the copy."""
    import kelo_ui.fast.raylib.kelo_raylib as real

    fake = types.ModuleType(real.__name__)
    fake.__pyx_capi__ = dict(real.__pyx_capi__)
    sys.modules[real.__name__] = fake
    return fake.__pyx_capi__


def _missing_function():
    del _fake_raylib()["c_draw_texture_vec"]


def _wrong_signature():
    import ctypes

    new_capsule = ctypes.pythonapi.PyCapsule_New
    new_capsule.restype = ctypes.py_object
    new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    name = SIGNATURE_OF_ANOTHER_BUILD
    KEPT.append(name)
    _fake_raylib()["c_draw_texture_vec"] = new_capsule(1, name, None)


def _fake_vector(slots, vtable=True):
    """KlVector2 replaced by a Python class with `slots`; prints its record size."""
    import kelo_ui.fast.klvector2.klvector2 as real

    class KlVector2:
        __slots__ = slots

    table = real.KlVector2.__dict__["__pyx_vtable__"]
    if vtable:
        KlVector2.__pyx_vtable__ = table
    fake = types.ModuleType(real.__name__)
    fake.KlVector2 = KlVector2
    sys.modules[real.__name__] = fake
    print(KlVector2.__basicsize__)


def _not_a_type():
    import kelo_ui.fast.klrect.klrect as real

    fake = types.ModuleType(real.__name__)
    fake.KlRect = 5
    sys.modules[real.__name__] = fake


def _white_list():
    import kelo_ui.presentation.color as c

    c.Color.White = [255, 255, 255, 255]


def _no_color():
    import kelo_ui.presentation.color as c

    del c.Color


def _no_staticmethod():
    import builtins

    import kelo_ui.core.annotations  # noqa: F401  (each imported before the builtin goes)
    import kelo_ui.core.modules  # noqa: F401
    import kelo_ui.core.state  # noqa: F401
    import kelo_ui.fast.klrendertex  # noqa: F401
    import kelo_ui.presentation.color  # noqa: F401

    del builtins.staticmethod


def _nameless_color_module(error):
    """A module object without Color whose __name__ lookup fails with `error`:
    only an AttributeError means it has no name to look a submodule up by."""
    import kelo_ui.presentation.color  # noqa: F401

    class Nameless:
        def __getattr__(self, name):
            if name == "__name__":
                raise error("__name__")
            raise AttributeError(name)

    sys.modules["kelo_ui.presentation.color"] = Nameless()


SETUPS = {
    "missing-function": _missing_function,
    "wrong-signature": _wrong_signature,
    "small-record": lambda: _fake_vector(("a",)),
    "no-vtable": lambda: _fake_vector(("a", "b", "c"), vtable=False),
    "larger-record": lambda: _fake_vector(("a", "b", "c", "d")),
    "not-a-type": _not_a_type,
    "white-list": _white_list,
    "no-color": _no_color,
    "no-staticmethod": _no_staticmethod,
    "nameless-module": lambda: _nameless_color_module(AttributeError),
    "name-memory-error": lambda: _nameless_color_module(MemoryError),
    "name-interrupt": lambda: _nameless_color_module(KeyboardInterrupt),
}


def import_after(setup):
    """SETUPS[setup], then the import. Prints "imported", or the error and
    the names of its traceback's frames, comma-separated."""
    import traceback

    SETUPS[setup]()
    try:
        import kelo_ui.fast.klrendertex.kl_render_tex  # noqa: F401
    except BaseException as error:
        print(type(error).__name__, error, sep=": ")
        print(",".join(frame.name for frame in traceback.extract_tb(error.__traceback__)))
    else:
        print("imported")


def retry_after_failure():
    """Prints blit's defaults once a second import succeeded."""
    import kelo_ui.presentation.color as c

    c.Color.White = [1, 2, 3, 4]
    try:
        import kelo_ui.fast.klrendertex.kl_render_tex  # noqa: F401
    except TypeError:
        pass
    c.Color.White = (1, 2, 3, 4)
    import kelo_ui.fast.klrendertex.kl_render_tex as m

    print(m.KlRenderTexture.blit.__defaults__)


def white_none_and_later_changes():
    """Prints the blits' defaults after Color.White changed since the import."""
    import kelo_ui.presentation.color as c

    c.Color.White = None
    import kelo_ui.fast.klrendertex.kl_render_tex as m

    c.Color.White = (9, 9, 9, 9)
    K = m.KlRenderTexture
    print(K.blit.__defaults__, K.fast_blit.__defaults__, K.blit_texture.__defaults__, K.fast_blit_texture.__defaults__)


def assertion_probe():
    """Prints the assertion a clear of an unloaded target fails, or "no check"."""
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


def assertions_read_once():
    """Prints the assertion still checked once __debug__ was changed after the import."""
    import builtins

    import kelo_ui.fast.klrendertex.kl_render_tex as m

    setattr(builtins, "__debug__", False)
    rt = m.KlRenderTexture.__new__(m.KlRenderTexture)
    try:
        rt.fast_clear(None)
    except AssertionError as error:
        print(error)


def import_in_subinterpreter():
    """Run inside the second interpreter: prints the import's refusal."""
    try:
        import kelo_ui.fast.klrendertex.kl_render_tex  # noqa: F401
    except ImportError as error:
        print("ImportError:", error, flush=True)


def second_interpreter(config, first):
    """The import in this interpreter (`first` "failed" or "succeeded"),
    then in a second one made with `config`; prints how each went."""
    import _interpreters

    import kelo_ui.presentation.color as c

    if first == "failed":
        c.Color.White = []
    try:
        import kelo_ui.fast.klrendertex.kl_render_tex  # noqa: F401
    except TypeError:
        print("first failed", flush=True)
    else:
        print("first succeeded", flush=True)
    interp = _interpreters.create(config)
    _interpreters.run_string(
        interp, "from children.startup import import_in_subinterpreter\nimport_in_subinterpreter()"
    )
    _interpreters.destroy(interp)


# --- the class after a failed start-up --------------------------------------------
# Each breakage leaves the readied class reachable with part of its state
# missing; it returns what repairs the sibling it broke.


def _break_vector_type():
    import kelo_ui.fast.klvector2.klvector2 as v

    real_vector = v.KlVector2
    v.KlVector2 = 5
    return lambda: setattr(v, "KlVector2", real_vector)


def _break_raylib_export():
    import kelo_ui.fast.raylib.kelo_raylib as r

    saved = r.__pyx_capi__.pop("c_draw_texture_vec")
    return lambda: r.__pyx_capi__.__setitem__("c_draw_texture_vec", saved)


def _break_default_tint():
    import kelo_ui.presentation.color as c

    white = c.Color.White
    c.Color.White = []
    return lambda: setattr(c.Color, "White", white)


BREAKAGES = {
    "vector-type": _break_vector_type,
    "raylib-export": _break_raylib_export,
    "default-tint": _break_default_tint,
}


def _attempt(label, call):
    try:
        call()
    except BaseException as error:
        print(label, type(error).__name__ + ":", error)
    else:
        print(label, "succeeded")


def class_after_failed_startup(breakage):
    """The import fails after BREAKAGES[breakage]; the sibling is repaired,
    and every use of the class left behind is attempted, then the import
    again. Prints a line for each."""
    repair = BREAKAGES[breakage]()
    try:
        import kelo_ui.fast.klrendertex.kl_render_tex  # noqa: F401
    except Exception as error:
        print("import failed:", type(error).__name__)
    repair()

    # The siblings are repaired by now; kl_render_tex stays unstarted until imported again.
    from kelo_ui.fast.klvector2.klvector2 import KlVector2
    from kelo_ui.fast.probe import kl_probe

    (K,) = [k for k in object.__subclasses__() if k.__name__ == "KlRenderTexture"]
    # The probe finds the class through sys.modules, as a native caller would.
    sys.modules[MODULE] = types.SimpleNamespace(KlRenderTexture=K)

    class Sub(K):
        pass

    _attempt("init", lambda: K(KlVector2(8, 8)))
    _attempt("init-junk", lambda: K(1))
    _attempt("new", lambda: K.__new__(K))
    _attempt("set-size", lambda: setattr(K.__new__(K), "size", 1))
    _attempt("subclass", lambda: Sub(KlVector2(8, 8)))
    _attempt("native-new", lambda: kl_probe.rt_slot("new", KlVector2(8, 8)))
    _attempt("adopt", lambda: K.__dict__["from_rl_render_texture"].__func__(object()))
    del sys.modules[MODULE]

    import kelo_ui.fast.klrendertex.kl_render_tex as m

    print("retry:", m.KlRenderTexture is K, K.__new__(K).loaded)
