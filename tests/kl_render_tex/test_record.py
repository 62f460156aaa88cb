"""The KlRenderTexture record: its properties, size queries and garbage
collection."""

import gc
import math
import struct
import weakref

import pytest

from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from support.render_tex import FakeRenderTexture, sized_target

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"
VECTOR = "kelo_ui.fast.klvector2.klvector2.KlVector2"


def empty():
    return KlRenderTexture.__new__(KlRenderTexture)


def single(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def test_allocation_leaves_the_empty_state():
    rt = empty()
    assert rt.render_texture is None
    assert rt.size is None
    assert rt.loaded is False


def test_size_property():
    rt = empty()
    vector = KlVector2(3.0, 4.0)
    rt.size = vector
    assert rt.size is vector

    class Sub(KlVector2):
        pass

    sub = Sub(1.0, 2.0)
    rt.size = sub
    assert rt.size is sub
    with pytest.raises(TypeError) as error:
        rt.size = (800, 600)
    assert str(error.value) == f"Cannot convert tuple to {VECTOR}"
    assert rt.size is sub  # the old value stays
    rt.size = None
    assert rt.size is None
    rt.size = vector
    del rt.size
    assert rt.size is None


def test_render_texture_property_takes_anything():
    rt = empty()
    marker = object()
    rt.render_texture = marker
    assert rt.render_texture is marker
    del rt.render_texture
    assert rt.render_texture is None


def test_loaded_refuses_deletion_and_failing_truth():
    class Bad:
        def __bool__(self):
            raise ZeroDivisionError("no truth")

    rt = empty()
    rt.loaded = 1
    with pytest.raises(NotImplementedError, match="^__del__$"):
        del rt.loaded
    with pytest.raises(ZeroDivisionError):
        rt.loaded = Bad()
    assert rt.loaded is True


@pytest.mark.parametrize("name", ["texture", "id", "depth", "width", "height"])
def test_read_only_properties(name):
    rt = sized_target()
    with pytest.raises(AttributeError):
        setattr(rt, name, 5)
    with pytest.raises(AttributeError):
        delattr(rt, name)


def test_no_instance_dict_or_weakref_for_the_exact_type():
    rt = empty()
    with pytest.raises(AttributeError):
        rt.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(rt)

    class Sub(KlRenderTexture):
        pass

    sub = Sub.__new__(Sub)
    sub.anything = 1
    assert weakref.ref(sub)() is sub


def test_render_texture_attributes_are_looked_up_at_every_read():
    rt = sized_target()
    render_texture = FakeRenderTexture(800, 600)
    rt.render_texture = render_texture
    assert rt.texture is render_texture.texture
    assert rt.id == render_texture.id
    assert rt.depth == render_texture.depth
    render_texture.id = 7
    assert rt.id == 7
    rt.size = KlVector2(10.0, 20.0)  # a new size does not touch the texture
    assert rt.texture.width == 800


@pytest.mark.parametrize("name", ["texture", "id", "depth"])
def test_render_texture_attribute_missing(name):
    with pytest.raises(AttributeError):
        getattr(empty(), name)


def test_sizes():
    rt = sized_target(800.0, 600.0)
    assert (rt.width, rt.height) == (800.0, 600.0)
    assert (rt.get_width(), rt.get_height()) == (800.0, 600.0)
    rect = rt.get_rect()
    assert type(rect) is KlRect
    assert (rect.x, rect.y, rect.w, rect.h) == (0.0, 0.0, 800.0, 600.0)


def test_size_precision():
    rt = sized_target(0.1, 0.3)
    assert rt.get_width() == 0.1 and rt.width == 0.1
    rect = rt.get_rect()
    assert rect.w == single(0.1) and rect.h == single(0.3)
    assert rect.w != 0.1


@pytest.mark.parametrize(
    "size, single_precision",
    [
        (1e300, math.inf),
        (-1e300, -math.inf),
        (3.4028235677973366e38, math.inf),
        (3.4028235677973245e38, 3.4028234663852886e38),
        (math.nan, math.nan),
    ],
)
def test_sizes_beyond_single_precision_round_as_the_hardware_does(size, single_precision):
    rect = sized_target(size, 1.0).get_rect()
    assert math.isnan(rect.w) if math.isnan(single_precision) else rect.w == single_precision
    assert KlRect(size).x == rect.w or math.isnan(rect.w)


def test_shared_vector_changes_show_at_once():
    vector = KlVector2(1.0, 2.0)
    rt = empty()
    rt.size = vector
    vector.x = 64.0
    assert rt.width == 64.0 and rt.get_rect().w == 64.0


def test_record_fields_not_attributes_are_measured():
    class Sneaky(KlVector2):
        @property
        def x(self):
            return 1234.0

    rt = empty()
    rt.size = Sneaky(5.0, 6.0)
    assert rt.width == 5.0
    assert rt.get_width() == 5.0


@pytest.mark.parametrize(
    "call, field",
    [
        (lambda rt: rt.width, "x"),
        (lambda rt: rt.height, "y"),
        (lambda rt: rt.get_width(), "x"),
        (lambda rt: rt.get_height(), "y"),
        (lambda rt: rt.get_rect(), "x"),
        (lambda rt: kl_probe.rt_slot("get_width", rt, 0), "x"),
        (lambda rt: kl_probe.rt_slot("get_height", rt, 1), "y"),
        (lambda rt: kl_probe.rt_slot("get_rect", rt, 0), "x"),
    ],
)
def test_sizes_without_a_vector(call, field):
    with pytest.raises(AttributeError) as error:
        call(empty())
    assert str(error.value) == f"'NoneType' object has no attribute '{field}'"


# --- garbage collection ------------------------------------------------------


def test_reference_cycle_is_collected():
    class Node(KlRenderTexture):
        pass

    rt = Node.__new__(Node)
    rt.render_texture = [rt]
    probe = weakref.ref(rt)
    del rt
    gc.collect()
    assert probe() is None


def test_cycle_through_the_exact_type():
    rt = empty()
    holder = [rt]
    rt.render_texture = holder
    del rt
    del holder
    assert gc.collect() >= 1
