"""scripts/setup-display decides what to install, run against stand-ins for the
system's commands so that nothing is installed for real."""

import pathlib
import subprocess

import pytest

SCRIPT = pathlib.Path(__file__).parents[2] / "scripts" / "setup-display"
BASH = "/bin/bash"

STUBS = {
    "uname": 'echo "${STUB_SYSTEM:-Linux}"',
    "id": 'echo "$STUB_UID"',
    # Installed packages are listed in $STUB_INSTALLED.
    "dpkg-query": (
        'for p in $STUB_INSTALLED; do [ "$p" = "${@: -1}" ] && { printf "install ok installed"; exit 0; }; done; exit 1'
    ),
    "apt-get": (
        'echo "apt-get $*" >> "$STUB_LOG"; [ -z "$STUB_APT_FAILS" ] || exit 100; '
        'case "$*" in *install*xvfb*) printf "#!/bin/sh\\n" > "$STUB_BIN/Xvfb"; /bin/chmod +x "$STUB_BIN/Xvfb";; esac'
    ),
}


@pytest.fixture
def run(tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    for name, body in STUBS.items():
        stub = bin_dir / name
        stub.write_text(f"#!{BASH}\n{body}\n")
        stub.chmod(0o755)
    log = tmp_path / "apt.log"

    def run(uid=0, installed="", display="", apt_fails="", system="Linux"):
        env = {
            "PATH": str(bin_dir),
            "STUB_BIN": str(bin_dir),
            "STUB_LOG": str(log),
            "STUB_UID": str(uid),
            "STUB_INSTALLED": installed,
            "STUB_APT_FAILS": apt_fails,
            "STUB_SYSTEM": system,
        }
        if display:
            env["DISPLAY"] = display
        result = subprocess.run([BASH, str(SCRIPT)], capture_output=True, text=True, env=env, timeout=30)
        apt = log.read_text().splitlines() if log.exists() else []
        return result.returncode, result.stdout + result.stderr, apt

    return run


INSTALL = "apt-get install -y -qq --no-install-recommends"


@pytest.mark.parametrize(
    "case, expected_code, expected_apt, says",
    [
        ({"installed": "xvfb libgl1-mesa-dri"}, 0, [], "already installed"),
        ({"installed": "libgl1-mesa-dri"}, 0, ["apt-get update -qq", f"{INSTALL} xvfb"], "Xvfb installed"),
        ({}, 0, ["apt-get update -qq", f"{INSTALL} xvfb libgl1-mesa-dri"], "Xvfb installed"),
        ({"apt_fails": "yes"}, 1, ["apt-get update -qq"], "apt-get failed"),
        ({"uid": 1000}, 1, [], "run: sudo apt-get install xvfb libgl1-mesa-dri"),
        ({"uid": 1000, "installed": "xvfb"}, 1, [], "run: sudo apt-get install libgl1-mesa-dri"),
        ({"uid": 1000, "display": ":0"}, 0, [], "using DISPLAY=:0"),
        ({"system": "Darwin"}, 0, [], "needs no virtual X server"),
    ],
    ids=["present", "half", "missing", "apt-fails", "not-root", "not-root-half", "not-root-display", "not-linux"],
)
def test_setup_display(run, case, expected_code, expected_apt, says):
    code, output, apt = run(**case)
    assert (code, apt) == (expected_code, expected_apt), output
    assert says in output
