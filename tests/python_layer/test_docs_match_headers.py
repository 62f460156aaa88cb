"""The native interface is declared once, in the public headers and in
kelo_raylib's export table; its documentation repeats it for people. These
tests hold the documentation's tables to what is built, so neither can drift
alone."""

import ctypes
import pathlib
import re

import pytest

from kelo_ui.fast.raylib import kelo_raylib

pytestmark = pytest.mark.contract

ROOT = pathlib.Path(__file__).resolve().parents[2]
INTERFACE_DOC = ROOT / "docs" / "native-interface.md"
RENDER_TEX_HEADER = ROOT / "src" / "kelo_ui" / "fast" / "klrendertex" / "kl_render_tex.h"

capsule_name = ctypes.PYFUNCTYPE(ctypes.c_char_p, ctypes.py_object)(("PyCapsule_GetName", ctypes.pythonapi))


def table_rows(first_header_cell):
    """The rows of the documentation table whose header starts with that cell,
    as lists of cells."""
    lines = INTERFACE_DOC.read_text().splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith(f"| {first_header_cell} |"))
    rows = []
    for line in lines[start + 2 :]:
        if not line.startswith("|"):
            break
        rows.append([cell.strip() for cell in line.strip("|").split("|")])
    return rows


def header_slots():
    table = re.search(r"#define KL_RENDER_TEXTURE_SLOTS\(X\)(.*?[^\\])\n", RENDER_TEX_HEADER.read_text(), re.S).group(1)
    return re.findall(r"\bX\((\w+),", table)


def documented_slots():
    slots = []
    for number, *_ in table_rows("slot"):
        numbers = [int(n) for n in re.findall(r"\d+", number.partition("`")[0])]
        named = re.findall(r"`(\w+)`", number)
        assert numbers[0] == len(slots) and len(named) == numbers[-1] - numbers[0] + 1, number
        slots += named
    return slots


def test_the_documented_method_table_is_the_headers():
    assert documented_slots() == header_slots()


def test_the_documented_exports_are_kelo_raylibs():
    capsules = {name: capsule_name(capsule).decode() for name, capsule in kelo_raylib.__pyx_capi__.items()}
    documented = {name.strip("`"): signature.strip("`") for name, signature, _ in table_rows("function")}
    assert documented == capsules
    assert list(documented) == list(kelo_raylib.__pyx_capi__)
