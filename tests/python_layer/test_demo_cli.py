"""`python -m kelo_ui`'s command line: what it answers without drawing. The
drawing itself is tests/real_drawing/test_demo.py."""

import subprocess
import sys

import pytest


@pytest.mark.parametrize(
    "args, expected_code, stream, says",
    [
        (["--help"], 0, "stdout", "usage: python -m kelo_ui [-h] [-o PATH] [--frames N]"),
        (["--help"], 0, "stdout", "(default: demo.png in the current folder)"),
        (["--help"], 0, "stdout", "--frames N animate N frames of the panel as a Scene"),
        (["-h"], 0, "stdout", "--output PATH"),
        (["--bogus"], 2, "stderr", "error: unrecognized arguments: --bogus"),
        (["--output"], 2, "stderr", "error: argument -o/--output: expected one argument"),
        (["--output", "missing/demo.png"], 2, "stderr", "missing does not exist"),
        (["--output", "."], 2, "stderr", "is a folder"),
        (["--frames"], 2, "stderr", "error: argument --frames: expected one argument"),
        (["--frames", "0"], 2, "stderr", "error: argument --frames: expected a whole number of frames, at least 1"),
        (["--frames", "2.5"], 2, "stderr", "at least 1, got '2.5'"),
    ],
    ids=[
        "help-usage",
        "help-default",
        "help-frames",
        "h",
        "bad-option",
        "output-without-path",
        "output-in-missing-folder",
        "output-is-folder",
        "frames-without-count",
        "no-frames",
        "fractional-frames",
    ],
)
def test_demo_command_line(tmp_path, args, expected_code, stream, says):
    result = subprocess.run(
        [sys.executable, "-m", "kelo_ui", *args], capture_output=True, text=True, cwd=tmp_path, timeout=60
    )
    assert result.returncode == expected_code, result.stderr
    assert says in " ".join(getattr(result, stream).split())  # as argparse wraps it for any width
    # Only a run that draws writes a picture; none of these does.
    assert list(tmp_path.iterdir()) == []
