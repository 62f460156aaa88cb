"""KlRenderTexture in a fresh interpreter: run with -O (assertions off at
start-up), or with Color.White changed before the first import. Each prints
what it is checked by."""

import types


class PrintingBackend:
    """A drawing backend that prints each call: its name, then `shown(name, args)`."""

    def __init__(self, shown=lambda name, args: args):
        self.shown = shown

    def __getattr__(self, name):
        return lambda *args: print(name, *self.shown(name, args))


def blit_without_assertions():
    import kelo_ui.fast.klrendertex.kl_render_tex as m
    from kelo_ui.fast.klvector2.klvector2 import KlVector2
    from kelo_ui.fast.raylib import kelo_raylib

    kelo_raylib.backend = PrintingBackend()
    dst = m.KlRenderTexture.__new__(m.KlRenderTexture)
    src = m.KlRenderTexture.__new__(m.KlRenderTexture)
    src.size = KlVector2(2, 2)
    src.render_texture = type("RT", (), {"texture": "tex"})()
    dst.blit(src, (0, 0))


def default_tints_read_at_import():
    """Color.White changed before and after the import, and the module's
    Color dropped: prints the tint each fast form draws with."""
    import kelo_ui.presentation.color as c

    c.Color.White = None
    import kelo_ui.fast.klrendertex.kl_render_tex as m
    from kelo_ui.fast.klvector2.klvector2 import KlVector2
    from kelo_ui.fast.raylib import kelo_raylib

    c.Color.White = (1, 2, 3, 4)
    m.Color = None
    kelo_raylib.backend = PrintingBackend(lambda name, args: [args[-2] if name == "c_draw_texture_vec" else args[-1:]])
    rt = m.KlRenderTexture.__new__(m.KlRenderTexture)
    rt.size = KlVector2(1, 1)
    rt.render_texture = type("RT", (), {"texture": "tex"})()
    rt.fast_blit(rt, (0, 0))
    rt.fast_blit_texture("tex", (0, 0))


def scope_without_assertions():
    import kelo_ui.fast.klrendertex.kl_render_tex as m
    from kelo_ui.fast.raylib import kelo_raylib

    kelo_raylib.backend = PrintingBackend()
    with m.KlRenderTexture.__new__(m.KlRenderTexture):
        pass


def kill_without_assertions():
    """Prints what the binding was asked to unload."""
    import kelo_ui.fast.klrendertex.kl_render_tex as m

    calls = []
    m.md = types.SimpleNamespace(
        rl=types.SimpleNamespace(unload_render_texture=lambda rt: calls.append(rt), is_window_ready=lambda: True)
    )
    rt = m.KlRenderTexture.__new__(m.KlRenderTexture)
    rt.kill()
    print(calls)
