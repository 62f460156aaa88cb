"""Pickling, copy.copy and copy.deepcopy of KlRenderTexture."""

import collections
import copy
import pickle

import pytest

from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from support.render_tex import FakeRenderTexture

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

unpickle = kl_render_tex.__pyx_unpickle_KlRenderTexture
CHECKSUM = 0xD7BABC0
VECTOR = "kelo_ui.fast.klvector2.klvector2.KlVector2"
INCOMPATIBLE = "Incompatible checksums (0x{:x} vs (0xd7babc0, 0x80a1750, 0x4dee0a1) = (loaded, render_texture, size))"
State = collections.namedtuple("State", "loaded render_texture size")

# A target holding ("rt", 7) and KlVector2(256.0, 128.5), loaded, pickled at
# protocol 2 when this format was first written: it must always load.
STORED = (
    b"\x80\x02ckelo_ui.fast.klrendertex.kl_render_tex\n__pyx_unpickle_KlRenderTexture\nq\x00ckelo_ui.fast."
    b"klrendertex.kl_render_tex\nKlRenderTexture\nq\x01J\xc0\xab{\rN\x87q\x02Rq\x03\x88X\x02\x00\x00\x00rtq"
    b"\x04K\x07\x86q\x05ckelo_ui.fast.klvector2.klvector2\nKlVector2\nq\x06G@p\x00\x00\x00\x00\x00\x00G@`\x10"
    b"\x00\x00\x00\x00\x00\x86q\x07Rq\x08\x87q\tb."
)


class Tagged(KlRenderTexture):
    """A Python subclass, with an instance dictionary."""


def holding(render_texture, size, loaded=True, cls=KlRenderTexture):
    rt = cls.__new__(cls)
    rt.render_texture, rt.size, rt.loaded = render_texture, size, loaded
    return rt


def fields(rt):
    return rt.loaded, rt.render_texture, rt.size


def test_reduce_forms():
    empty = KlRenderTexture.__new__(KlRenderTexture)
    assert empty.__reduce__() == (unpickle, (KlRenderTexture, CHECKSUM, (False, None, None)))
    render_texture, size = FakeRenderTexture(4, 4), KlVector2(4.0, 4.0)
    function, args, state = holding(render_texture, size).__reduce__()
    assert (function, args) == (unpickle, (KlRenderTexture, CHECKSUM, None))
    assert state[0] is True and state[1] is render_texture and state[2] is size
    # A subclass: its own type, its dictionary only when it holds anything.
    tagged = Tagged.__new__(Tagged)
    assert tagged.__reduce__() == (unpickle, (Tagged, CHECKSUM, (False, None, None)))
    tagged.name = "x"
    assert tagged.__reduce__() == (unpickle, (Tagged, CHECKSUM, None), (False, None, None, {"name": "x"}))
    assert type(tagged.__reduce__()[2][0]) is bool


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("loaded", [True, False])
def test_round_trip(protocol, loaded):
    rt = holding(FakeRenderTexture(16, 8, 3), KlVector2(16.0, 8.5), loaded, Tagged)
    rt.name = "panel"
    back = pickle.loads(pickle.dumps(rt, protocol))
    assert type(back) is Tagged and back.loaded is loaded and back.name == "panel"
    assert back.size == rt.size and back.size is not rt.size
    assert repr(back.render_texture) == repr(rt.render_texture)
    empty = pickle.loads(pickle.dumps(KlRenderTexture.__new__(KlRenderTexture), protocol))
    assert fields(empty) == (False, None, None)


def test_stored_pickle_still_loads():
    rt = pickle.loads(STORED)
    assert type(rt) is KlRenderTexture
    assert fields(rt) == (True, ("rt", 7), KlVector2(256.0, 128.5))
    assert (rt.width, rt.height) == (256.0, 128.5)


def test_copy_shares_and_deepcopy_copies():
    render_texture, size = FakeRenderTexture(4, 4), KlVector2(4.0, 4.0)
    rt = holding(render_texture, size, cls=Tagged)
    rt.extra = [1]
    shallow = copy.copy(rt)
    assert type(shallow) is Tagged and shallow is not rt
    assert shallow.render_texture is render_texture and shallow.size is size and shallow.extra is rt.extra
    deep = copy.deepcopy(rt)
    assert deep.render_texture is not render_texture and deep.render_texture.texture.width == 4
    assert deep.size is not size and deep.size == size and deep.extra == [1] and deep.extra is not rt.extra
    assert deep.loaded is True


@pytest.mark.parametrize("checksum", [0xD7BABC0, 0x80A1750, 0x4DEE0A1])
def test_accepted_checksums(checksum):
    rt = unpickle(KlRenderTexture, checksum, (True, None, None))
    assert type(rt) is KlRenderTexture and fields(rt) == (True, None, None)
    made = unpickle(__pyx_state=None, __pyx_checksum=checksum, __pyx_type=Tagged)
    assert type(made) is Tagged and fields(made) == (False, None, None)


class Checksum:
    def __int__(self):
        return CHECKSUM


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((KlRenderTexture, 1, None), pickle.PickleError, INCOMPATIBLE.format(1)),
        ((KlRenderTexture, -1, None), pickle.PickleError, INCOMPATIBLE.format(0xFFFFFFFF)),
        ((KlRenderTexture, 2**40 + 0xD7BABC0, None), pickle.PickleError, INCOMPATIBLE.format(0xD7BABC0)),
        ((KlRenderTexture, "1", None), TypeError, "an integer is required"),
        ((KlRenderTexture, 2**64, None), OverflowError, None),
        (
            (KlRenderTexture, CHECKSUM, [True, None, None]),
            TypeError,
            "Argument '__pyx_state' has incorrect type (expected tuple, got list)",
        ),
        # The state's type is tested before the checksum.
        (
            (KlRenderTexture, 1, State(True, None, None)),
            TypeError,
            "Argument '__pyx_state' has incorrect type (expected tuple, got State)",
        ),
        ((int, CHECKSUM, None), TypeError, None),
        ((KlVector2, CHECKSUM, None), TypeError, None),
        (
            (KlRenderTexture, CHECKSUM),
            TypeError,
            "__pyx_unpickle_KlRenderTexture() takes exactly 3 positional arguments (2 given)",
        ),
    ],
)
def test_unpickle_refusals(args, error, message):
    with pytest.raises(error) as raised:
        unpickle(*args)
    if message is not None:
        assert str(raised.value) == message


def test_unpickle_converts_the_checksum_first():
    assert unpickle(KlRenderTexture, Checksum(), None).loaded is False
    with pytest.raises(TypeError, match="an integer is required"):
        unpickle(int, object(), "not a state")


@pytest.mark.parametrize(
    "state, loaded",
    [
        ((1, None, None), True),
        ((0, "R", None), False),
        ((None, "R", KlVector2(1, 2)), False),
        (([1], "R", None, {}), True),
        ((True, "R", None, {}, "ignored"), True),
    ],
)
def test_setstate(state, loaded):
    rt = holding(FakeRenderTexture(1, 1), KlVector2(9, 9))
    assert rt.__setstate__(state) is None
    assert fields(rt) == (loaded, state[1], state[2])


def test_setstate_restores_a_subclass_dictionary():
    rt = Tagged.__new__(Tagged)
    rt.kept = 1
    rt.__setstate__((True, None, None, {"name": "x"}, "fifth"))
    assert vars(rt) == {"kept": 1, "name": "x"}


class Broken:
    def __bool__(self):
        raise ZeroDivisionError("truth")


ORIGINAL = ("R0", KlVector2(1, 1), True)


@pytest.mark.parametrize(
    "state, error, message, after",
    [
        ([1, None, None], TypeError, "Expected tuple, got list", ORIGINAL),
        (State(1, None, None), TypeError, "Expected tuple, got State", ORIGINAL),
        (None, TypeError, "cannot pass None into a C function argument that is declared 'not None'", ORIGINAL),
        ((True, "R"), TypeError, "a KlRenderTexture state has at least 3 items, got 2", ORIGINAL),
        ((), TypeError, "a KlRenderTexture state has at least 3 items, got 0", ORIGINAL),
        ((Broken(), "R", None), ZeroDivisionError, "truth", ORIGINAL),
        # Fields before the refused item have been replaced already.
        ((False, "R", 5), TypeError, f"Cannot convert int to {VECTOR}", ("R", ORIGINAL[1], False)),
        ((False, "R", None, Broken()), ZeroDivisionError, "truth", ("R", None, False)),
        ((False, "R", None, {"a": 1}), AttributeError, None, ("R", None, False)),
    ],
)
def test_refused_states(state, error, message, after):
    rt = holding(ORIGINAL[0], ORIGINAL[1])
    with pytest.raises(error) as raised:
        rt.__setstate__(state)
    if message is not None:
        assert str(raised.value) == message
    assert (rt.render_texture, rt.size, rt.loaded) == after


def test_a_refused_state_unloads_nothing(rl):
    with pytest.raises(TypeError):
        unpickle(KlRenderTexture, CHECKSUM, (True, FakeRenderTexture(2, 2), "not a vector"))
    assert rl.calls == []


def test_unpickling_name_is_looked_up_at_every_reduce(monkeypatch):
    rt = holding(None, None)

    def replacement(*args):
        return "replaced"

    monkeypatch.setattr(kl_render_tex, "__pyx_unpickle_KlRenderTexture", replacement)
    assert rt.__reduce__()[0] is replacement
    monkeypatch.delattr(kl_render_tex, "__pyx_unpickle_KlRenderTexture")
    with pytest.raises(NameError, match="^name '__pyx_unpickle_KlRenderTexture' is not defined$"):
        rt.__reduce__()


def test_reduce_refuses_arguments():
    rt = holding(None, None)
    with pytest.raises(TypeError, match=r"^__reduce__\(\) takes exactly 0 positional arguments \(1 given\)$"):
        rt.__reduce__(2)
    with pytest.raises(TypeError, match=r"^__reduce__\(\) got an unexpected keyword argument 'protocol'$"):
        rt.__reduce__(protocol=2)
