"""Ways a hostile but legal caller could take the interpreter down, each run
in a child interpreter so that a crash fails the test instead of the suite.
The children's code is in children/crashes.py (and children/startup.py for
the class after a failed start-up).

The children use the interpreter's debug allocator (unless the environment
already chose one, as the sanitizer run does), which fills freed memory so
that a use after free reads garbage and crashes instead of passing silently.
"""

import os

import pytest

from support.children import run_python

CLASS = "kelo_ui.fast.klrendertex.kl_render_tex.KlRenderTexture"
NOT_STARTED = (
    "ImportError: kelo_ui.fast.klrendertex.kl_render_tex has not started (its import failed or is still "
    "running): KlRenderTexture cannot be used until an import of it succeeds"
)


def run_child(module, function, *arguments):
    """Run children.<module>.<function>(*arguments) in a fresh interpreter;
    returns (exit code, stdout lines, stderr)."""
    allocator = os.environ.get("PYTHONMALLOC", "debug")
    result = run_python(module, function, *arguments, env={"PYTHONMALLOC": allocator})
    return result.returncode, result.stdout.splitlines(), result.stderr


def assert_clean(result, expected):
    returncode, lines, stderr = result
    assert returncode == 0, f"child died with {returncode}:\n{stderr[-3000:]}"
    assert lines == expected


# --- resurrection during destruction -------------------------------------------

# How a subclass keeps the dying object (children.crashes._resurrecting), and
# whether a finaliser of its own runs before the release step.
RESURRECTORS = {"property": False, "getattribute": False, "finaliser-then-property": True}


@pytest.mark.parametrize("resurrector", RESURRECTORS)
def test_object_kept_by_its_release_step_stays_alive(resurrector):
    finaliser = RESURRECTORS[resurrector]
    expected_calls = ["load"] + (["__del__"] if finaliser else []) + ["ready", ("unload", "Loaded")]
    assert_clean(
        run_child("crashes", "object_kept_by_its_release_step", resurrector), ["E True 4.0 4.0", repr(expected_calls)]
    )


# --- borrowed fields handed to Python code --------------------------------------


@pytest.mark.parametrize("name", ["texture", "id", "depth"])
def test_render_texture_replaced_by_its_own_attribute_lookup(name):
    # The lookup of `name` on the held object replaces rt.render_texture,
    # dropping the last reference to that object, then fails so that the
    # interpreter goes on to its __getattr__ with the same object.
    assert_clean(
        run_child("crashes", "render_texture_replaced_by_its_own_lookup", name),
        [f"('from __getattr__', 'Evil', '{name}')", "None"],
    )


# --- the class after a failed start-up --------------------------------------------

# Each leaves the readied class reachable with part of its state missing.
FAILED_STARTUPS = ["vector-type", "raylib-export", "default-tint"]


@pytest.mark.parametrize("breakage", FAILED_STARTUPS)
def test_class_refuses_every_use_until_start_up_succeeds(breakage):
    returncode, lines, stderr = run_child("startup", "class_after_failed_startup", breakage)
    assert returncode == 0, f"child died with {returncode}:\n{stderr[-3000:]}"
    assert lines[0].startswith("import failed:")
    refused = ["init", "init-junk", "new", "set-size", "subclass", "native-new"]
    for label, line in zip(refused, lines[1:7], strict=True):
        assert line == f"{label} {NOT_STARTED}"
    # The static method exists only once its step ran; where it does, it refuses too.
    assert lines[7] in (f"adopt {NOT_STARTED}", "adopt KeyError: 'from_rl_render_texture'")
    assert lines[8] == "retry: True False"


# --- deep chains ------------------------------------------------------------------


@pytest.mark.parametrize("subclass", [False, True], ids=["exact", "subclass"])
def test_freeing_a_deep_chain_does_not_overflow_the_stack(subclass):
    assert_clean(run_child("crashes", "free_a_deep_chain", subclass), ["freed []"])


# --- the function objects after the collector cleared them ----------------------


def test_function_object_cleared_by_the_collector_keeps_its_names():
    assert_clean(
        run_child("crashes", "function_object_cleared_by_the_collector"),
        ["'' '' None None", "True", "True", "'NoneType' object has no attribute 'x'"],
    )


def test_collector_clear_refuses_other_objects():
    expected = [f"collector_clear() takes a kl_function_or_method, not {kind}" for kind in ("int", "list", "module")]
    assert_clean(run_child("crashes", "collector_clear_of_other_objects"), expected)


# --- the probe hands only vectors to the native `new` ------------------------------


@pytest.mark.parametrize("stranger", ["12345", "None", "'800x600'", "KlRect(0, 0, 8, 8)", "[8.0, 8.0]"])
def test_probe_passes_only_vectors_to_native_new(stranger):
    kind = {"12345": "int", "None": "NoneType", "'800x600'": "str", "[8.0, 8.0]": "list"}.get(
        stranger, "kelo_ui.fast.klrect.klrect.KlRect"
    )
    assert_clean(
        run_child("crashes", "probe_new_with", stranger),
        [f"rt_slot('new', size): size must be a KlVector2, not {kind}", "[]"],
    )


# --- render textures that lead back to themselves ----------------------------------


@pytest.mark.parametrize("name", ["texture", "id", "depth"])
@pytest.mark.parametrize("loop", [1, 2], ids=["itself", "pair"])
def test_render_texture_chain_back_to_itself_raises_recursion_error(name, loop):
    # Each read looks the same name up on the held object, in C alone: the
    # interpreter's own recursion limit must stop it, not the end of the stack.
    assert_clean(run_child("crashes", "chain_back_to_itself", name, loop), ["RecursionError"])
