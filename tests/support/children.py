"""Child interpreters: each runs one function of the package `children`
(beside `support`), as `python -m children MODULE FUNCTION [ARGUMENT ...]`.

A child runs apart when it opens or closes a window, forks, crashes on
purpose, or needs an interpreter that has not imported the toolkit yet. The
package is found through PYTHONPATH, set here, so that a child finds it from
any working directory and under any wrapper (`scripts/sanitize` too), which
passes its own environment on.
"""

import os
import pathlib
import subprocess
import sys

TESTS = pathlib.Path(__file__).resolve().parents[1]


def child_environment(env=None, drop=()):
    """This process's environment less the names in `drop`, with `env` over
    it and the tests' folder first on PYTHONPATH."""
    environment = {name: value for name, value in os.environ.items() if name not in drop}
    environment.update(env or {})
    paths = [str(TESTS), *filter(None, environment.get("PYTHONPATH", "").split(os.pathsep))]
    environment["PYTHONPATH"] = os.pathsep.join(paths)
    return environment


def child_command(module, function, *arguments, flags=()):
    """The command line of a child that calls children.<module>.<function>(*arguments)."""
    return [sys.executable, *flags, "-m", "children", module, function, *map(str, arguments)]


def run_python(module, function, *arguments, flags=(), env=None, drop=(), timeout=60):
    """Run children.<module>.<function>(*arguments) in a fresh interpreter
    started with `flags`; returns the CompletedProcess."""
    return subprocess.run(
        child_command(module, function, *arguments, flags=flags),
        capture_output=True,
        text=True,
        env=child_environment(env, drop),
        timeout=timeout,
    )


def run_ok(module, function, *arguments, flags=(), env=None):
    """As run_python; the child must succeed. Returns its stdout."""
    result = run_python(module, function, *arguments, flags=flags, env=env)
    assert result.returncode == 0, result.stderr
    return result.stdout
