"""The real-stack fuzzer's model of rlgl's matrices (fuzzing/scopes.py, model.py)
against raymath's own, which raylib draws with: a camera, a turn and the
order in which rlgl multiplies its current matrix. No window is needed."""

import math
import pathlib
import sys

import pytest

from kelo_ui.core import modules

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from fuzzing.model import compose, rotation, scaling, translation  # noqa: E402
from fuzzing.scopes import as_floats, camera_matrix  # noqa: E402


def plain(matrix):
    """raymath's Matrix as the model's 2D map (a, b, c, d, e, f)."""
    return (matrix.m0, matrix.m1, matrix.m4, matrix.m5, matrix.m12, matrix.m13)


def assert_same(model, raymath):
    assert all(math.isclose(m, r, abs_tol=1e-5) for m, r in zip(model, plain(raymath), strict=True)), (model, raymath)


@pytest.mark.parametrize(
    "offset, target, degrees, zoom",
    [((0, 0), (0, 0), 0, 1), ((4, -2), (1, 3), 90, 2), ((-3, 5), (2, -1), 270, 3), ((1, 5), (-2, 6), -90, 1)],
)
def test_a_camera_maps_as_raylibs(offset, target, degrees, zoom):
    rl = modules.rl
    camera = rl.Camera2D(offset, target, degrees, zoom)
    assert_same(camera_matrix(offset, target, degrees, zoom), rl.get_camera_matrix_2d(camera))


@pytest.mark.parametrize(
    "applied, raymath",
    [
        (translation(3, -2), lambda rl: rl.matrix_translate(3, -2, 0)),
        (scaling(2, -1), lambda rl: rl.matrix_scale(2, -1, 1)),
        (rotation(90), lambda rl: rl.matrix_rotate((0, 0, 1), math.radians(90))),
        (rotation(-180), lambda rl: rl.matrix_rotate((0, 0, -1), math.radians(180))),
    ],
)
def test_rlgl_multiplies_its_current_matrix_on_the_right(applied, raymath):
    # rlTranslatef and its kin: current = MatrixMultiply(change, current), the change applied first.
    rl = modules.rl
    current = compose(translation(5, 1), rotation(270))
    raylib_current = rl.matrix_multiply(rl.matrix_rotate_z(math.radians(270)), rl.matrix_translate(5, 1, 0))
    assert_same(current, raylib_current)
    assert_same(compose(current, applied), rl.matrix_multiply(raymath(rl), raylib_current))


def test_a_map_is_given_to_rl_mult_matrixf_as_raymath_lays_it_out():
    rl = modules.rl
    matrix = compose(translation(4, -3), compose(rotation(90), scaling(2, 1)))
    turned = rl.matrix_multiply(rl.matrix_rotate_z(math.radians(90)), rl.matrix_translate(4, -3, 0))
    raylib_matrix = rl.matrix_multiply(rl.matrix_scale(2, 1, 1), turned)
    assert as_floats(matrix) == pytest.approx(list(rl.matrix_to_float_v(raylib_matrix).v), abs=1e-6)
