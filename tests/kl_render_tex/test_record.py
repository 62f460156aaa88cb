"""The KlRenderTexture record: properties, size queries, argument binding,
override dispatch from native callers, garbage collection and leaks."""

import gc
import math
import struct
import traceback
import weakref

import pytest

from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klrendertex import kl_render_tex
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.klvector2.klvector2 import KlVector2
from kelo_ui.fast.probe import kl_probe
from support.render_tex import FakeRenderTexture

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"
VECTOR = "kelo_ui.fast.klvector2.klvector2.KlVector2"


def empty():
    return KlRenderTexture.__new__(KlRenderTexture)


def sized(width=800.0, height=600.0, cls=KlRenderTexture):
    rt = cls.__new__(cls)
    rt.size = KlVector2(width, height)
    return rt


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


@pytest.mark.parametrize("value, expected", [(5, True), (True, True), ("x", True), (None, False), ([], False),
                                             (0, False), (False, False)])
def test_loaded_stores_a_truth_value(value, expected):
    rt = empty()
    rt.loaded = value
    assert rt.loaded is expected


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
    rt = sized()
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
    rt = sized()
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
    rt = sized(800.0, 600.0)
    assert (rt.width, rt.height) == (800.0, 600.0)
    assert (rt.get_width(), rt.get_height()) == (800.0, 600.0)
    rect = rt.get_rect()
    assert type(rect) is KlRect
    assert (rect.x, rect.y, rect.w, rect.h) == (0.0, 0.0, 800.0, 600.0)


def test_size_precision():
    rt = sized(0.1, 0.3)
    assert rt.get_width() == 0.1 and rt.width == 0.1
    rect = rt.get_rect()
    assert rect.w == single(0.1) and rect.h == single(0.3)
    assert rect.w != 0.1


@pytest.mark.parametrize(
    "size, single_precision",
    [(1e300, math.inf), (-1e300, -math.inf), (3.4028235677973366e38, math.inf),
     (3.4028235677973245e38, 3.4028234663852886e38), (math.nan, math.nan)],
)
def test_sizes_beyond_single_precision_round_as_the_hardware_does(size, single_precision):
    rect = sized(size, 1.0).get_rect()
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


@pytest.mark.parametrize("name", ["get_width", "get_height", "get_rect", "kill", "__enter__"])
def test_binding_of_methods_without_parameters(name):
    rt = sized()
    method = getattr(rt, name)
    with pytest.raises(TypeError) as error:
        method(1)
    assert str(error.value) == f"{name}() takes exactly 0 positional arguments (1 given)"
    with pytest.raises(TypeError) as error:
        method(2, 3)
    assert str(error.value) == f"{name}() takes exactly 0 positional arguments (2 given)"
    with pytest.raises(TypeError) as error:
        method(color=1, other=2)
    assert str(error.value) == f"{name}() got an unexpected keyword argument 'color'"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda rt: rt.clear(), "clear() takes exactly 1 positional argument (0 given)"),
        (lambda rt: rt.fill(None, None), "fill() takes exactly 1 positional argument (2 given)"),
        (lambda rt: rt.clear(colour=None), "clear() takes exactly 1 positional argument (0 given)"),
        (lambda rt: rt.clear(None, colour=None), "clear() got an unexpected keyword argument 'colour'"),
        (lambda rt: rt.fast_clear(None, color=None), "fast_clear() got multiple values for keyword argument 'color'"),
        (lambda rt: rt.__exit__(None, exc_tb=None), "__exit__() takes exactly 3 positional arguments (1 given)"),
        (lambda rt: rt.__exit__(1, 2, 3, 4), "__exit__() takes exactly 3 positional arguments (4 given)"),
        (lambda rt: KlRenderTexture.get_width(), "get_width() needs an argument"),
        (lambda rt: KlRenderTexture.clear(color=None), "clear() needs an argument"),
        (lambda rt: KlRenderTexture.get_width(5),
         f"descriptor 'get_width' for '{CLASS}' objects doesn't apply to a 'int' object"),
        (lambda rt: KlRenderTexture.kill(None),
         f"descriptor 'kill' for '{CLASS}' objects doesn't apply to a 'NoneType' object"),
        (lambda rt: KlRenderTexture.from_rl_render_texture(),
         "from_rl_render_texture() takes exactly 1 positional argument (0 given)"),
        (lambda rt: KlRenderTexture(), "__init__() takes exactly 1 positional argument (0 given)"),
        (lambda rt: KlRenderTexture(1, 2), "__init__() takes exactly 1 positional argument (2 given)"),
        (lambda rt: KlRenderTexture(sz=1), "__init__() takes exactly 1 positional argument (0 given)"),
        (lambda rt: KlRenderTexture(None, size=1), "__init__() got multiple values for keyword argument 'size'"),
    ],
)
def test_argument_binding_messages(call, message):
    with pytest.raises(TypeError) as error:
        call(sized())
    assert str(error.value) == message


def test_keyword_arguments_bind_by_name():
    rt = sized()
    assert rt.__exit__(exc_tb=None, exc_val=None, exc_type=None) is None
    assert rt.fast_clear.__func__ is KlRenderTexture.fast_clear


def test_traceback_entries_have_frames_of_their_own():
    rt = empty()
    frames = []
    for _ in range(2):
        with pytest.raises(AttributeError) as error:
            rt.get_width()
        frames.append(error.value.__traceback__.tb_next.tb_frame)
    # A frame is shared by nothing: what one traceback's user does to it stays there.
    assert frames[0] is not frames[1] and frames[0].f_code is frames[1].f_code
    assert frames[0].f_globals is vars(kl_render_tex)


def test_traceback_entries_name_the_native_path():
    rt = empty()
    with pytest.raises(AttributeError) as error:
        rt.get_width()
    frames = traceback.extract_tb(error.value.__traceback__)
    native = [(frame.name, frame.filename) for frame in frames if frame.name.startswith("kelo_ui")]
    assert native == [(f"{CLASS}.get_width", "src/kelo_ui/fast/klrendertex/kl_render_tex")] * 2


# --- override dispatch from a native caller ----------------------------------


class Overrides(KlRenderTexture):
    def get_width(self):
        return 3

    def get_height(self):
        return "tall"

    def get_rect(self):
        return None


class TupleRect(KlRenderTexture):
    def get_rect(self):
        return (0, 0, 1, 1)


class CallsUp(KlRenderTexture):
    calls = 0

    def get_width(self):
        CallsUp.calls += 1
        return KlRenderTexture.get_width(self) + 1


def test_native_caller_reaches_python_overrides():
    rt = sized(cls=Overrides)
    assert kl_probe.rt_slot("get_width", rt, 0) == 3.0
    with pytest.raises(TypeError, match="must be real number, not str"):
        kl_probe.rt_slot("get_height", rt, 0)
    assert kl_probe.rt_slot("get_rect", rt, 0) is None
    # With the flag set the class's own body runs.
    assert kl_probe.rt_slot("get_width", rt, 1) == 800.0
    assert kl_probe.rt_slot("get_height", rt, 1) == 600.0
    assert type(kl_probe.rt_slot("get_rect", rt, 1)) is KlRect


def test_override_result_must_be_a_rect():
    with pytest.raises(TypeError) as error:
        kl_probe.rt_slot("get_rect", sized(cls=TupleRect), 0)
    assert str(error.value) == "Cannot convert tuple to kelo_ui.fast.klrect.klrect.KlRect"


def test_override_calling_up_does_not_recurse():
    rt = sized(cls=CallsUp)
    CallsUp.calls = 0
    assert kl_probe.rt_slot("get_width", rt, 0) == 801.0
    assert CallsUp.calls == 1


def test_instance_attribute_counts_as_override_and_exact_type_has_none():
    class Plain(KlRenderTexture):
        pass

    rt = sized(cls=Plain)
    assert kl_probe.rt_slot("get_width", rt, 0) == 800.0  # inherited: no override
    rt.get_width = lambda: 11.5
    assert kl_probe.rt_slot("get_width", rt, 0) == 11.5
    assert kl_probe.rt_slot("get_width", sized(), 0) == 800.0


def test_override_lookup_failure_propagates():
    class Broken(KlRenderTexture):
        def __getattribute__(self, name):
            if name == "get_height":
                raise LookupError("lookup failed")
            return super().__getattribute__(name)

    with pytest.raises(LookupError):
        kl_probe.rt_slot("get_height", sized(cls=Broken), 0)


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


# --- boundary conversions ------------------------------------------------------


class IntSubclass(int):
    pass


class ReturnsSubclass:
    def __int__(self):
        return IntSubclass(7)


class ReturnsFloat:
    def __int__(self):
        return 7.5


class Flag(__import__("enum").IntEnum):
    ONE = 1


@pytest.mark.parametrize(
    "value, expected",
    [(1, 1), (True, 1), (Flag.ONE, 1), (IntSubclass(5), 5), (1.9, 1), (-1.9, -1), (2**31 - 1, 2**31 - 1),
     (-(2**31), -(2**31))],
)
def test_int32_conversion(value, expected):
    assert kl_probe.as_int32(value) == expected


@pytest.mark.parametrize(
    "value, error, message",
    [
        ("1", TypeError, "an integer is required"),
        (None, TypeError, "an integer is required"),
        (2**31, OverflowError, "value too large to convert to int"),
        (-(2**31) - 1, OverflowError, "value too large to convert to int"),
        (2**100, OverflowError, "value too large to convert to int"),
        (ReturnsFloat(), TypeError, "__int__ returned non-int (type float)"),
        (float("inf"), OverflowError, None),
    ],
)
def test_int32_conversion_errors(value, error, message):
    with pytest.raises(error) as raised:
        kl_probe.as_int32(value)
    if message is not None:
        assert str(raised.value) == message


def test_int_subclass_from_dunder_int_is_deprecated():
    with pytest.warns(DeprecationWarning, match=r"^__int__ returned non-int \(type IntSubclass\)\.  The ability "
                                                "to return an instance of a strict subclass of int is deprecated"):
        assert kl_probe.as_int32(ReturnsSubclass()) == 7


def test_int64_conversion():
    assert kl_probe.as_int64(0xD7BABC0) == 226208704
    assert kl_probe.as_int64(-1) == -1
    with pytest.raises(OverflowError):
        kl_probe.as_int64(2**63)
    with pytest.raises(TypeError, match="an integer is required"):
        kl_probe.as_int64(b"1")


def test_truth_values():
    class Falsy:
        def __len__(self):
            return 0

    class Broken:
        def __bool__(self):
            raise ValueError("no")

    assert [kl_probe.truth(v) for v in (True, False, None, 2, [], Falsy())] == [True, False, False, True, False,
                                                                               False]
    with pytest.raises(ValueError):
        kl_probe.truth(Broken())


METHOD_NAMES = ["blit", "fast_blit", "blit_texture", "fast_blit_texture", "clear", "fast_clear", "fill", "kill",
                "get_rect", "get_height", "get_width", "copy", "__enter__", "__exit__", "__reduce__",
                "__setstate__"]


@pytest.mark.parametrize("name", METHOD_NAMES)
@pytest.mark.parametrize("stranger", [5, None, KlVector2(1.0, 2.0), "rt"])
def test_no_method_reads_a_stranger_as_a_record(name, stranger):
    function = KlRenderTexture.__dict__[name]
    with pytest.raises(TypeError) as error:
        function(stranger, None, None, None)
    kind = type(stranger)
    kind_name = kind.__name__ if kind.__module__ == "builtins" else f"{kind.__module__}.{kind.__name__}"
    assert str(error.value) == f"descriptor '{name}' for '{CLASS}' objects doesn't apply to a '{kind_name}' object"


@pytest.mark.parametrize("name", METHOD_NAMES)
def test_junk_arguments_raise_cleanly(name):
    rt = empty()
    method = getattr(rt, name)
    for args, kwargs in [((), {}), ((object(),), {}), ((1,) * 7, {}), ((), {"bogus": 1}), ((None, None), {})]:
        try:
            method(*args, **kwargs)
        except (TypeError, AssertionError, AttributeError, NotImplementedError, NameError, ImportError):
            pass
