"""Dispatch from a native caller (the probe) to a Python override of a
method, and to the class's own body when the caller skips dispatch."""

import pytest

from kelo_ui.fast.klrect.klrect import KlRect
from kelo_ui.fast.klrendertex.kl_render_tex import KlRenderTexture
from kelo_ui.fast.probe import kl_probe
from support.render_tex import Overrides, sized_target

# Pins the interface native callers, stored pickles and Python callers rely on.
pytestmark = pytest.mark.contract


class TupleRect(KlRenderTexture):
    def get_rect(self):
        return (0, 0, 1, 1)


class CallsUp(KlRenderTexture):
    calls = 0

    def get_width(self):
        CallsUp.calls += 1
        return KlRenderTexture.get_width(self) + 1


def test_native_caller_reaches_python_overrides():
    rt = sized_target(cls=Overrides)
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
        kl_probe.rt_slot("get_rect", sized_target(cls=TupleRect), 0)
    assert str(error.value) == "Cannot convert tuple to kelo_ui.fast.klrect.klrect.KlRect"


def test_override_calling_up_does_not_recurse():
    rt = sized_target(cls=CallsUp)
    CallsUp.calls = 0
    assert kl_probe.rt_slot("get_width", rt, 0) == 801.0
    assert CallsUp.calls == 1


def test_instance_attribute_counts_as_override_and_exact_type_has_none():
    class Plain(KlRenderTexture):
        pass

    rt = sized_target(cls=Plain)
    assert kl_probe.rt_slot("get_width", rt, 0) == 800.0  # inherited: no override
    rt.get_width = lambda: 11.5
    assert kl_probe.rt_slot("get_width", rt, 0) == 11.5
    assert kl_probe.rt_slot("get_width", sized_target(), 0) == 800.0


def test_override_lookup_failure_propagates():
    class Broken(KlRenderTexture):
        def __getattribute__(self, name):
            if name == "get_height":
                raise LookupError("lookup failed")
            return super().__getattribute__(name)

    with pytest.raises(LookupError):
        kl_probe.rt_slot("get_height", sized_target(cls=Broken), 0)
