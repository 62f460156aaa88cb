"""Leak checks: every operation, on its success path and on each of its
failure paths, repeated 10,000 times with no growth in the reference counts
of the objects involved nor in the memory that tracemalloc traces.

Every leak check of the suite is a row of OPERATIONS: a path worth watching
is a line in one of them, not a loop of its own in a topic file."""

import gc
import math
import pickle
import sys
import types

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from kelo_ui.presentation.color import Color
from support.render_tex import FakeRenderTexture, leaks, loaded_target
from support.render_tex import Overrides as SizeOverrides

RED = (255, 0, 0, 255)
UNPICKLE = kl_render_tex.__pyx_unpickle_KlRenderTexture
CHECKSUM = 0xD7BABC0


class Refused(Exception):
    pass


class BadTruth:
    def __bool__(self):
        raise Refused("truth")


class Overrides(SizeOverrides):
    def get_rect(self):
        return (0, 0, 1, 1)

    def clear(self, color):
        raise Refused("override")


class WithAttributes(KlRenderTexture):
    pass


class Discard:
    def write(self, text):
        return len(text)

    def flush(self):
        pass


def fails(error, call, *args, **kwargs):
    """Take a failure path: `call` must raise `error`."""
    try:
        call(*args, **kwargs)
    except error:
        return
    raise AssertionError(f"{call!r} did not raise {error.__name__}")


@pytest.fixture
def world(rl, backend):
    """Everything the operations touch, made once per test."""
    made = FakeRenderTexture(8, 8)
    overrides = loaded_target(cls=Overrides)
    with_attributes = loaded_target(cls=WithAttributes)
    with_attributes.note = "kept"
    return types.SimpleNamespace(
        rl=rl,
        backend=backend,
        vector=KlVector2(8.0, 8.0),
        nan=KlVector2(math.nan, 8.0),
        made=made,
        wide=FakeRenderTexture("wide", 1),
        dst=loaded_target(16, 16),
        src=loaded_target(4, 2),
        empty=KlRenderTexture.__new__(KlRenderTexture),
        overrides=overrides,
        with_attributes=with_attributes,
        bad=BadTruth(),
        error=RuntimeError,  # a class: every raise is a fresh exception
    )


def settle(w):
    """Forget what the recording binding and backend kept of this round."""
    w.rl.calls.clear()
    w.rl.loaded.clear()
    w.rl.fail.clear()
    w.rl.window_ready = True
    w.backend.calls.clear()
    w.backend.fail.clear()


def construct(w):
    KlRenderTexture(w.vector)
    KlRenderTexture(size=w.vector)
    fails(TypeError, KlRenderTexture, 5)
    fails(TypeError, KlRenderTexture)
    fails(TypeError, KlRenderTexture, w.vector, size=w.vector)
    fails(TypeError, KlRenderTexture, sz=w.vector)
    fails(ValueError, KlRenderTexture, w.nan)
    w.rl.fail["load_render_texture"] = w.error
    fails(RuntimeError, KlRenderTexture, w.vector)


def native_new(w):
    kl_probe.rt_slot("new", w.vector)
    fails(ValueError, kl_probe.rt_slot, "new", w.nan)
    fails(TypeError, kl_probe.rt_slot, "new", 5)
    w.rl.fail["load_render_texture"] = w.error
    fails(RuntimeError, kl_probe.rt_slot, "new", w.vector)


def adopt(w):
    KlRenderTexture.from_rl_render_texture(w.made)
    w.empty.from_rl_render_texture(rl_render_texture=w.made)
    KlRenderTexture.from_rl_render_texture(w.made).kill()
    fails(AttributeError, KlRenderTexture.from_rl_render_texture, None)
    fails(TypeError, KlRenderTexture.from_rl_render_texture, w.wide)
    fails(TypeError, KlRenderTexture.from_rl_render_texture)


def kill(w):
    target = loaded_target()
    target.kill()
    fails(AssertionError, target.kill)
    fails(TypeError, target.kill, 1)
    target.loaded = True
    kl_probe.rt_slot("kill", target, 0)
    target.loaded = True
    w.rl.fail["unload_render_texture"] = w.error
    fails(RuntimeError, target.kill)
    target.loaded = False


def destroy(w):
    loaded_target()  # unloaded on the spot
    w.rl.window_ready = False
    loaded_target()
    w.rl.window_ready = True
    for member in ("is_window_ready", "unload_render_texture"):
        w.rl.fail = {member: w.error}
        loaded_target()  # the Exception is dropped
    w.rl.fail = {"unload_render_texture": KeyboardInterrupt}
    loaded_target()  # printed and handed to the unraisable hook
    w.rl.fail = {}
    target = loaded_target()
    target.render_texture.owner = target
    del target
    gc.collect(0)  # a cycle: released by the finaliser before it is cleared


def properties(w):
    t = w.src
    _ = t.texture, t.id, t.depth, t.width, t.height, t.render_texture, t.size, t.loaded
    for name in ("texture", "id", "depth", "width", "height"):
        fails(AttributeError, getattr, w.empty, name)
        fails(AttributeError, setattr, t, name, 1)
    w.empty.render_texture = w.made
    del w.empty.render_texture
    w.empty.size = w.vector
    w.empty.size = w.empty.size  # the value it holds already
    fails(TypeError, setattr, w.empty, "size", RED)
    del w.empty.size
    w.empty.loaded = RED
    fails(Refused, setattr, w.empty, "loaded", w.bad)
    fails(NotImplementedError, delattr, w.empty, "loaded")
    w.empty.loaded = False


def size_queries(w):
    t, o = w.src, w.overrides
    t.get_width(), t.get_height(), t.get_rect()
    for name in ("get_width", "get_height", "get_rect"):
        fails(AttributeError, getattr(w.empty, name))
        fails(TypeError, getattr(t, name), 1)
        fails(TypeError, getattr(t, name), color=1)
    kl_probe.rt_slot("get_width", o, 0)
    fails(TypeError, kl_probe.rt_slot, "get_height", o, 0)
    fails(TypeError, kl_probe.rt_slot, "get_rect", o, 0)
    kl_probe.rt_slot("get_rect", o, 1)


def native_size_queries(w):
    t = w.src
    for name in ("get_width", "get_height", "get_rect"):
        kl_probe.rt_slot(name, t, 0)
        kl_probe.rt_slot(name, t, 1)
    fails(AttributeError, kl_probe.rt_slot, "get_rect", w.empty, 0)


def clearing(w):
    d = w.dst
    d.clear(RED), d.fill(None), d.fast_clear(color=RED)
    with d:
        d.fast_clear(RED)
    for name in ("clear", "fill", "fast_clear"):
        fails(TypeError, getattr(d, name), [1])
        fails(TypeError, getattr(d, name))
        fails(AssertionError, getattr(w.empty, name), RED)
    fails(AssertionError, w.empty.__enter__)
    fails(TypeError, d.__exit__, None)
    fails(Refused, kl_probe.rt_slot, "clear", w.overrides, RED, 0)
    kl_probe.rt_slot("c_clear", d, RED)
    kl_probe.rt_slot("c_fast_clear", d, RED)
    for member in ("begin_texture_mode", "c_clear_background", "end_texture_mode"):
        w.backend.fail = {member: w.error}
        fails(RuntimeError, d.clear, RED)
    fails(RuntimeError, d.__exit__, None, None, None)


def blitting(w):
    d, s = w.dst, w.src
    d.blit(s, (1, 2))
    d.blit(s, (1, 2, 3, 4), 1, False, RED)
    d.fast_blit(s, (1, 2, 3, 4))
    d.fast_blit(s, (1, 2))
    d.fast_blit(s, (1, 2, 3, 4), color=RED)
    d.blit_texture(w.made, (1, 2), color=RED)
    d.fast_blit_texture(w.made, (1, 2, 3, 4))
    d.blit_texture(s, (1, 2), color=RED)  # a target as a plain texture
    d.fast_blit_texture(s, (1, 2, 3, 4))
    fails(TypeError, d.blit, None, (1, 2))
    fails(TypeError, d.blit, s, None)
    fails(TypeError, d.blit, s, [1, 2])
    fails(OverflowError, d.blit, s, (1, 2), 2**40)
    fails(TypeError, d.blit, s, (1, 2), "alpha")
    fails(Refused, d.blit, s, (1, 2), 0, w.bad)
    fails(ValueError, d.blit, s, (1, 2, 3))
    fails(AssertionError, w.empty.blit, s, (1, 2))
    fails(AttributeError, d.fast_blit, None, (1, 2))
    fails(TypeError, d.fast_blit, s, None)
    fails(TypeError, d.fast_blit, s, [RED])
    fails(AttributeError, d.fast_blit, w.empty, (1, 2))
    fails(TypeError, d.blit_texture, w.made, (1, 2), color=[1])
    fails(TypeError, d.fast_blit_texture, w.made, [1, 2])
    fails(AssertionError, w.empty.blit_texture, w.made, (1, 2))
    fails(AttributeError, kl_probe.rt_slot, "c_fast_blit", d, None, (1, 2), 1, RED)
    fails(TypeError, kl_probe.rt_slot, "c_fast_blit", d, s, None, 1, RED)
    for member, call, args in (
        ("c_draw_texture_vec", d.blit, (s, (1, 2))),
        ("c_draw_texture_rec", d.fast_blit, (s, (1, 2, 3, 4))),
        ("fast_blit_pro", d.blit_texture, (w.made, (1, 2))),
    ):
        w.backend.fail = {member: w.error}
        fails(RuntimeError, call, *args)
    for member in ("begin_blend_mode", "begin_texture_mode", "end_texture_mode", "end_blend_mode"):
        w.backend.fail = {member: w.error}
        fails(RuntimeError, d.blit, s, (1, 2))
        fails(RuntimeError, d.blit_texture, w.made, (1, 2))


def batched(w):
    d, s = w.dst, w.src
    d.fast_blits([(s, (1, 2)), (s, (1, 2, 3, 4), False, RED)])
    d.blits(iter([(s, (1, 2))]), 1)
    fails(TypeError, d.fast_blits, [(s, (1, 2)), [s, (1, 2)]])
    fails(TypeError, d.fast_blits, 5)
    fails(Refused, d.fast_blits, [(s, (1, 2), w.bad)])
    fails(ValueError, d.blits, [(s, (1,))])
    fails(ValueError, d.blits, [(s, (1, 2)), (s, (1, 2, 3))])  # the note names item 1
    fails(AssertionError, w.empty.blits, [])
    w.backend.fail = {"end_texture_mode": w.error}
    fails(AttributeError, d.blits, [(s, (1, 2)), (None, (1, 2))])  # the end's failure as its context


def copying(w):
    w.src.copy()
    w.src.copy(False)
    fails(AssertionError, w.empty.copy)
    fails(Refused, w.src.copy, w.bad)
    w.rl.fail["load_render_texture"] = w.error
    fails(RuntimeError, w.src.copy)


def pickling(w):
    t = w.src
    t.__reduce__(), w.empty.__reduce__(), w.with_attributes.__reduce__()
    pickle.loads(pickle.dumps(t)).loaded = False
    pickle.loads(pickle.dumps(w.with_attributes)).loaded = False
    w.empty.__setstate__((False, w.made, w.vector))
    fails(TypeError, w.empty.__setstate__, (False, w.made, 5))
    fails(TypeError, w.empty.__setstate__, [False, None, None])
    fails(TypeError, w.empty.__setstate__, None)
    fails(TypeError, w.empty.__setstate__, (False,))
    fails(Refused, w.empty.__setstate__, (w.bad, None, None))
    fails(AttributeError, w.empty.__setstate__, (False, None, None, {"note": 1}))
    UNPICKLE(KlRenderTexture, CHECKSUM, (False, w.made, w.vector))
    UNPICKLE(WithAttributes, CHECKSUM, None)
    fails(pickle.PickleError, UNPICKLE, KlRenderTexture, 1, None)
    fails(TypeError, UNPICKLE, int, CHECKSUM, None)
    fails(TypeError, UNPICKLE, KlRenderTexture, "checksum", None)
    fails(TypeError, UNPICKLE, KlRenderTexture, CHECKSUM, [])
    fails(TypeError, UNPICKLE, KlRenderTexture, CHECKSUM, (False, None, 5))
    fails(TypeError, t.__reduce__, 1)


def subclass_pickling(w):
    t = w.with_attributes
    good = (True, w.made, w.vector)
    t.__reduce__()
    t.__setstate__(good)
    t.__setstate__((True, w.made, w.vector, {"note": "kept"}))
    UNPICKLE(WithAttributes, CHECKSUM, good).loaded = False
    UNPICKLE(WithAttributes, CHECKSUM, (True, w.made, w.vector, {"note": 1})).loaded = False
    fails(TypeError, t.__setstate__, (True, w.made, 5))
    fails(pickle.PickleError, UNPICKLE, KlRenderTexture, 1, good)
    t.__setstate__(good)


OPERATIONS = [
    construct,
    native_new,
    adopt,
    kill,
    destroy,
    properties,
    size_queries,
    native_size_queries,
    clearing,
    blitting,
    batched,
    copying,
    pickling,
    subclass_pickling,
]


@pytest.mark.parametrize("operation", OPERATIONS, ids=[op.__name__ for op in OPERATIONS])
def test_operation_leaves_nothing_behind(world, operation, monkeypatch):
    # KeyboardInterrupt in a destructor is printed and reported: to nowhere.
    monkeypatch.setattr(sys, "stderr", Discard())
    monkeypatch.setattr(sys, "excepthook", lambda *exc_info: None)
    monkeypatch.setattr(sys, "unraisablehook", lambda unraisable: None)
    w = world
    watched = [value for value in vars(w).values()] + [
        w.made.texture,
        w.src.render_texture,
        w.src.size,
        w.dst.render_texture,
        Color.White,
        RED,
    ]
    # The operation's literal tuples too: the dests and rectangles handed over.
    watched += [value for value in operation.__code__.co_consts if type(value) is tuple]

    def round_():
        operation(w)
        settle(w)

    assert leaks(round_, objects=watched) <= 10


@pytest.mark.parametrize("kind", ["block", "reference"])
def test_the_check_sees_a_leak(kind):
    kept = []
    thing = object()
    leak = (lambda: kept.append(bytearray(16))) if kind == "block" else (lambda: kept.append(thing))
    assert leaks(leak, runs=1000, objects=[thing]) >= 100
