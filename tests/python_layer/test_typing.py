"""The stubs match the native modules, and typed code checks against them."""

import pathlib
import subprocess
import sys

NATIVE_MODULES = [
    "kelo_ui.fast.klrendertex.kl_render_tex",
    "kelo_ui.fast.klvector2.klvector2",
    "kelo_ui.fast.klrect.klrect",
    "kelo_ui.fast.klshader.klshader",
    "kelo_ui.fast.raylib.kelo_raylib",
]
USAGE = pathlib.Path(__file__).parent / "typing" / "usage.py"


def run_mypy(tool, *args, cwd):
    # Outside the source tree, so that the installed package (stubs and
    # py.typed included) is what gets checked.
    return subprocess.run([sys.executable, "-m", tool, *args], capture_output=True, text=True, cwd=cwd, timeout=300)


def test_stubs_match_the_runtime(tmp_path):
    result = run_mypy("mypy.stubtest", *NATIVE_MODULES, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_typed_usage_checks(tmp_path):
    result = run_mypy(
        "mypy", "--strict", "--warn-unused-ignores", "--cache-dir", str(tmp_path / "cache"), str(USAGE), cwd=tmp_path
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_the_backend_protocol_is_the_forwarded_functions():
    from kelo_ui.backends import DRAWING_METHODS, DrawingBackend
    from kelo_ui.fast.raylib import kelo_raylib

    members = {name for name in vars(DrawingBackend) if not name.startswith("_")}
    assert members == set(DRAWING_METHODS) and isinstance(kelo_raylib.context, DrawingBackend)
