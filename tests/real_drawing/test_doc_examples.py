"""Every Python example in README.md and docs/*.md runs, so that a changed
interface breaks a test instead of a reader's first try.

A block fenced as ```python runs in a fresh interpreter, in an empty folder,
without DISPLAY: an example that draws opens its own hidden window, which
starts a private Xvfb. Its asserts are part of what it shows. A block fenced
as ```python no-run is only shown (the text around it says why); it must
still compile.
"""

import os
import pathlib
import re
import subprocess
import sys

import pytest

from support.display import need_display

ROOT = pathlib.Path(__file__).resolve().parents[2]
DOCUMENTS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
NO_RUN = "no-run"
OPENING = re.compile(r"^```\s*(\S*)\s*(.*?)\s*$")


def fenced_blocks(path):
    """(first line number, language, tags, code) of each fenced block."""
    blocks, current = [], None
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), start=1):
        if current is None:
            opening = OPENING.match(line)
            if opening:
                current = (number + 1, opening[1], opening[2].split(), [])
        elif line.strip() == "```":
            blocks.append((*current[:3], "\n".join(current[3]) + "\n"))
            current = None
        else:
            current[3].append(line)
    assert current is None, f"{path.name}: the block opened on line {current[0] - 1} is never closed"
    return blocks


def python_blocks(*tags):
    """pytest parameters for the Python blocks with exactly these tags."""
    return [
        pytest.param(code, id=f"{path.name}:{line}")
        for path in DOCUMENTS
        for line, language, block_tags, code in fenced_blocks(path)
        if language == "python" and block_tags == list(tags)
    ]


def test_python_fences_are_runnable_or_marked():
    # A misspelt tag or language would turn an example into one that never runs.
    wrong = [
        f"{path.name}:{line - 1}: ```{language} {' '.join(tags)}"
        for path in DOCUMENTS
        for line, language, tags, _ in fenced_blocks(path)
        if language.lower().startswith("py") and (language != "python" or tags not in ([], [NO_RUN]))
    ]
    assert not wrong, f"use ```python or ```python {NO_RUN}: {wrong}"


@pytest.mark.parametrize("code", python_blocks())
def test_example_runs(code, tmp_path):
    need_display(own_server=True)
    env = {name: value for name, value in os.environ.items() if name not in ("DISPLAY", "XDG_RUNTIME_DIR")}
    result = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, cwd=tmp_path, env=env, timeout=120
    )
    assert result.returncode == 0, f"the example failed:\n{code}\n{result.stderr}"


@pytest.mark.parametrize("code", python_blocks(NO_RUN))
def test_example_not_run_compiles(code):
    compile(code, "<example>", "exec")
