"""The table of md.rl's functions (kelo_ui.gpu.functions) against the
installed binding: every function of pyray has a kind, every one that takes a
texture says what becomes of an atlas cell, and every refusal says why. No
window opens here."""

import types

import pyray
import pytest
from raylib import ffi, rl

import kelo_ui.gpu.binding
from kelo_ui.core import virtual_display
from kelo_ui.gpu import functions
from kelo_ui.gpu.functions import CELL_REFUSALS, CELLS, KINDS, REFUSALS

KINDS_ALLOWED = {
    functions.FREE,
    functions.WINDOW,
    functions.DRAWS,
    functions.AT_ONCE,
    functions.DRAWS_AT_ONCE,
    functions.RESIZES,
    functions.READS_BACK,
    functions.SCOPED,
    functions.OWNED,
    functions.TOOLKIT,
    functions.REFUSED,
}
POLICIES_ALLOWED = {
    functions.CONTEXT,
    functions.PAGE,
    functions.DRAW,
    functions.UPDATE,
    functions.READ,
    functions.REFUSE,
}

TEXTURE_PARAMETERS = {"struct Texture", "struct RenderTexture", "struct Texture *", "struct RenderTexture *"}

# The functions of the installed pyray, as md.rl sees them.
BINDING_FUNCTIONS = sorted(
    name for name in dir(pyray) if isinstance(getattr(pyray, name), types.FunctionType) and not name[:1].isupper()
)


def c_signatures():
    """The binding's C functions' types, by pyray's names for them."""
    signatures = {}
    for c_name in dir(rl):
        try:
            ctype = ffi.typeof(getattr(rl, c_name))
        except TypeError:  # a constant, not a function
            continue
        if ctype.kind == "function":
            signatures[pyray._underscore(c_name)] = ctype
    return signatures


def takes_a_texture(ctype):
    return any(parameter.cname in TEXTURE_PARAMETERS for parameter in ctype.args)


def test_every_function_of_the_binding_has_a_kind():
    unclassified = [name for name in BINDING_FUNCTIONS if name not in KINDS]
    assert not unclassified, f"add these functions of pyray to kelo_ui/gpu/functions.py: {' '.join(unclassified)}"
    assert set(KINDS.values()) <= KINDS_ALLOWED


def test_the_table_names_only_functions_of_the_binding():
    # Only GLFW's own may be missing, and only from SDL's build: any other
    # name missing is misspelt.
    missing = sorted(name for name in KINDS if not hasattr(pyray, name))
    if virtual_display.sdl_binding():
        missing = [name for name in missing if not name.startswith("glfw_")]
    assert missing == []
    not_functions = [name for name in KINDS if name in vars(pyray) and name not in BINDING_FUNCTIONS]
    assert not_functions == []


def test_cells_cover_exactly_the_functions_that_take_a_texture():
    signatures = c_signatures()
    taking = {name for name, ctype in signatures.items() if takes_a_texture(ctype)}
    assert taking, "no function of the binding takes a texture: the signature rule no longer matches"
    declared = {name for name in CELLS if name in signatures}
    assert sorted(declared - taking) == [], "these take no texture: drop them from CELLS"
    assert sorted(taking - declared) == [], "these take a texture: say in CELLS what becomes of a cell there"
    assert set(CELLS.values()) <= POLICIES_ALLOWED


@pytest.mark.parametrize(
    ("kinds_or_policies", "reasons", "marker"),
    [(KINDS, REFUSALS, functions.REFUSED), (CELLS, CELL_REFUSALS, functions.REFUSE)],
    ids=["refused", "cells-refused"],
)
def test_every_refusal_has_a_reason_and_only_refusals_do(kinds_or_policies, reasons, marker):
    refused = {name for name, value in kinds_or_policies.items() if value == marker}
    assert refused
    assert set(reasons) == refused
    assert [name for name, reason in reasons.items() if not reason.strip()] == []


def test_a_cell_given_to_a_function_is_seen_by_the_window_context():
    # md.rl hands out pyray's own FREE functions, which would take a cell as
    # it is; and "context" is for the context's own functions, and they only.
    assert [name for name in CELLS if KINDS.get(name, functions.FREE) == functions.FREE] == []
    own = {functions.OWNED, functions.SCOPED}
    mismatched = [name for name, policy in CELLS.items() if (policy == functions.CONTEXT) != (KINDS.get(name) in own)]
    assert mismatched == []


def test_what_md_rl_replaces_is_the_context_s_or_the_toolkit_s():
    namespace = vars(kelo_ui.gpu.binding)
    replaced = [
        name
        for name in BINDING_FUNCTIONS
        if name in namespace
        and namespace[name] is not getattr(pyray, name)
        and getattr(namespace[name], "__wrapped__", None) is not getattr(pyray, name)  # merely guarded
    ]
    assert "load_texture" in replaced
    own = {functions.OWNED, functions.SCOPED, functions.TOOLKIT, functions.REFUSED}
    assert {name: KINDS[name] for name in replaced if KINDS[name] not in own} == {}


@pytest.mark.parametrize(
    ("table", "names"),
    [({}, "draw_line draw_line"), ({"draw_line": functions.DRAWS}, "draw_pixel draw_line")],
    ids=["twice-in-a-block", "in-another-block"],
)
def test_a_name_declared_twice_is_refused(table, names):
    with pytest.raises(ValueError, match="draw_line is declared twice"):
        functions._declare(table, functions.FREE, names)
