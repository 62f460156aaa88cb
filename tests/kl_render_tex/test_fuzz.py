"""The property-based fuzzing of KlRenderTexture (fuzz_render_tex.py beside
this file), a short reproducible run in a child interpreter: a crash fails this
test. `make fuzz` runs it for long with fresh random examples."""

import os
import pathlib
import re
import subprocess
import sys

SCRIPT = pathlib.Path(__file__).with_name("fuzz_render_tex.py")


def test_short_fuzzing_run_is_clean():
    env = dict(os.environ)
    # The debug allocator fills freed memory, so a use after free crashes;
    # the sanitizer run's own allocator choice is kept.
    env.setdefault("PYTHONMALLOC", "debug")
    result = subprocess.run(
        [sys.executable, str(SCRIPT), "--calls", "1000", "--derandomize"],
        capture_output=True,
        text=True,
        env=env,
        timeout=900,
    )
    assert result.returncode == 0, f"exit {result.returncode}\n{result.stdout[-3000:]}\n{result.stderr[-6000:]}"
    summary = result.stdout.splitlines()[-1]
    calls = int(re.fullmatch(r"fuzz: (\d+) calls in [\d.]+ s \(\d+ examples\)", summary).group(1))
    assert calls >= 1000
