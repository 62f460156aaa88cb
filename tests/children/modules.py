"""The toolkit's modules in a fresh interpreter: imported without the raylib
binding, or a native module used from a second interpreter or executed
again."""

import sys


def without_the_raylib_binding():
    """The binding cannot be imported: the first raylib call must raise,
    saying how to install it (the child fails with that error)."""
    sys.modules["pyray"] = None
    from kelo_ui.core import modules

    assert not hasattr(modules.rl, "__wrapped__")
    modules.rl.load_render_texture(8, 8)


def raylib_in_a_second_interpreter():
    """Prints what the second interpreter's import of kelo_raylib raised."""
    import _interpreters

    import kelo_ui.fast.raylib.kelo_raylib  # noqa: F401

    interp = _interpreters.create("legacy")
    print(_interpreters.run_string(interp, "import kelo_ui.fast.raylib.kelo_raylib").msg)


def raylib_executed_again():
    """kelo_raylib executed twelve times; prints the rounds (from 0) whose
    backend, set on the last module object, a native caller reached."""
    from kelo_ui.fast.probe import kl_probe

    rounds = range(12)
    for _ in rounds:
        sys.modules.pop("kelo_ui.fast.raylib.kelo_raylib", None)
        import kelo_ui.fast.raylib.kelo_raylib as kelo_raylib
    calls = []

    class Backend:
        def end_blend_mode(self):
            calls.append(rounds[-1])

    kelo_raylib.backend = Backend()
    kl_probe.raylib_call("end_blend_mode", 0)
    print(calls)


def the_package_alone():
    """Prints what importing kelo_ui loaded beyond the package itself (nothing
    native, no raylib), then what each of its names is once used."""
    before = set(sys.modules)
    import kelo_ui

    loaded = sorted(name for name in set(sys.modules) - before if name != "kelo_ui")
    print(loaded)
    print(
        all(getattr(kelo_ui, name) is getattr(sys.modules[module], name) for name, module in kelo_ui._EXPORTS.items())
    )
