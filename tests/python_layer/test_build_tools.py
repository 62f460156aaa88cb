"""scripts/find-compiler and scripts/find-python, which `make demo` and `make
test` ask before building: which tool they pick, and what they say to install
when none will do. Run against stand-ins for compilers, interpreters and the
package manager, on a PATH of nothing else."""

import os
import pathlib
import subprocess

import pytest

SCRIPTS = pathlib.Path(__file__).parents[2] / "scripts"
BASH = "/bin/bash"

# The stand-ins' bodies. A compiler that builds C++20 must be asked for it;
# an interpreter prints what find-python's probe would: version, headers, venv.
BODIES = {
    "cxx20": 'while read -r _; do :; done; [[ " $* " == *" -std=c++20 "* ]]',
    "cxx17": "echo \"error: unrecognized command-line option '-std=c++20'\" >&2; exit 1",
    "py": 'echo "3.13 yes yes"',
    "py-no-headers": 'echo "3.13 no yes"',
    "py-no-venv": 'echo "3.13 yes no"',
    "py312": 'echo "3.12 yes yes"',
    "apt": "exit 0",
}

DEBIAN = {"bin/apt-get": "apt"}
PYENV = "home/.pyenv/versions/3.13.1/bin/python3.13"


@pytest.fixture
def run(tmp_path):
    def run(script, files, env):
        for name, body in files.items():
            path = tmp_path / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(f"#!{BASH}\n{BODIES[body]}\n")
            path.chmod(0o755)
        (tmp_path / "bin").mkdir(exist_ok=True)
        environment = {
            "PATH": str(tmp_path / "bin"),
            "HOME": str(tmp_path / "home"),
            **{key: value.replace("TMP", str(tmp_path)) for key, value in env.items()},
        }
        result = subprocess.run(
            [BASH, str(SCRIPTS / script)], capture_output=True, text=True, env=environment, timeout=30
        )
        out, err = (text.strip().replace(str(tmp_path), "TMP") for text in (result.stdout, result.stderr))
        return result.returncode, out, err

    return run


@pytest.mark.parametrize(
    "script, files, env, expected_code, expected_out, says",
    [
        # The compiler: CMake's order, a hand-picked one kept, C++20 required.
        ("find-compiler", {"bin/c++": "cxx20", "bin/g++": "cxx20"}, {}, 0, "TMP/bin/c++", None),
        ("find-compiler", {"bin/c++": "cxx17", "bin/clang++": "cxx20"}, {}, 0, "TMP/bin/clang++", None),
        ("find-compiler", {"bin/c++": "cxx20", "bin/g++": "cxx20"}, {"CXX": "g++"}, 0, "g++", None),
        ("find-compiler", {"bin/c++": "cxx20", "bin/g++": "cxx17"}, {"CXX": "g++"}, 1, "", "g++ cannot build C++20"),
        ("find-compiler", {"bin/c++": "cxx20"}, {"CXX": "TMP/gone"}, 1, "", "CXX=TMP/gone: no such compiler"),
        ("find-compiler", {"bin/c++": "cxx17", **DEBIAN}, {}, 1, "", "unrecognized command-line option"),
        ("find-compiler", {"bin/c++": "cxx17", **DEBIAN}, {}, 1, "", "run: sudo apt-get install g++"),
        ("find-compiler", DEBIAN, {}, 1, "", "no C++ compiler was found"),
        ("find-compiler", DEBIAN, {}, 1, "", "run: sudo apt-get install g++"),
        ("find-compiler", {}, {}, 1, "", "install one with the system's package manager"),
        # Python 3.13 with its headers and venv: PATH, then pyenv; $PYTHON alone when set.
        ("find-python", {"bin/python3.13": "py"}, {}, 0, "TMP/bin/python3.13", None),
        ("find-python", {PYENV: "py"}, {}, 0, f"TMP/{PYENV}", None),
        ("find-python", {"bin/python3.13": "py-no-headers", PYENV: "py"}, {}, 0, f"TMP/{PYENV}", None),
        (
            "find-python",
            {"bin/python3.13": "py-no-headers", **DEBIAN},
            {},
            1,
            "",
            "TMP/bin/python3.13 has no C headers (Python.h)",
        ),
        (
            "find-python",
            {"bin/python3.13": "py-no-headers", **DEBIAN},
            {},
            1,
            "",
            "run: sudo apt-get install python3.13-dev python3.13-venv",
        ),
        ("find-python", {"bin/python3.13": "py-no-venv"}, {}, 1, "", "has no venv module (ensurepip)"),
        ("find-python", {"bin/python3.13": "py", "mine": "py"}, {"PYTHON": "TMP/mine"}, 0, "TMP/mine", None),
        (
            "find-python",
            {"bin/python3.13": "py", "mine": "py312"},
            {"PYTHON": "TMP/mine"},
            1,
            "",
            "PYTHON=TMP/mine is not a Python 3.13 interpreter",
        ),
        ("find-python", {"bin/python3.13": "py"}, {"PYTHON": "TMP/gone"}, 1, "", "Install Python 3.13"),
        ("find-python", {"bin/python3": "py312"}, {}, 1, "", "Python 3.13 was not found"),
        ("find-python", {"bin/python3": "py312"}, {}, 1, "", "'uv python install 3.13'"),
    ],
    ids=[
        "cxx-first",
        "cxx-skips-old",
        "cxx-chosen",
        "cxx-chosen-old",
        "cxx-chosen-missing",
        "cxx-old-says-why",
        "cxx-old-debian",
        "cxx-none",
        "cxx-none-debian",
        "cxx-none-elsewhere",
        "py-path",
        "py-pyenv",
        "py-skips-headerless",
        "py-headerless",
        "py-headerless-debian",
        "py-no-venv",
        "py-chosen",
        "py-chosen-wrong",
        "py-chosen-missing",
        "py-none",
        "py-none-hint",
    ],
)
def test_build_tool(run, script, files, env, expected_code, expected_out, says):
    if (
        script == "find-python"
        and expected_code
        and "PYTHON" not in env
        and any(os.access(p, os.X_OK) for p in ("/usr/bin/python3.13", "/usr/local/bin/python3.13"))
    ):
        pytest.skip("find-python looks at this machine's own python3.13 whatever PATH says")
    code, out, err = run(script, files, env)
    assert (code, out) == (expected_code, expected_out), err
    # A tool found is named on stdout alone; a refusal says why and what to install.
    assert says in err if says else err == ""
