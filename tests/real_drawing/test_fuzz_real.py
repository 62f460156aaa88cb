"""The real-stack fuzzer (fuzz_real.py beside this file), a short run of a few
fixed seeds, each in a child interpreter without a display: it opens and
closes windows on a private Xvfb, and drops targets on other threads.
`make fuzz-real` runs it for longer, seed after seed."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

from support.display import need_display

SCRIPT = pathlib.Path(__file__).with_name("fuzz_real.py")
STEPS = 700


@pytest.mark.parametrize("seed", [1, 2, 3, 5, 8])
def test_a_seed_runs_clean(seed):
    need_display(own_server=True)
    env = {name: value for name, value in os.environ.items() if name not in ("DISPLAY", "XDG_RUNTIME_DIR")}
    result = subprocess.run(
        [sys.executable, str(SCRIPT), "--seed", str(seed), "--steps", str(STEPS)],
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )
    assert result.returncode == 0, f"exit {result.returncode}\n{result.stdout[-6000:]}\n{result.stderr[-3000:]}"
    summary = re.search(r"seed \d+ clean: (\d+) steps", result.stdout)
    assert summary and int(summary.group(1)) >= STEPS, result.stdout
