// The compositor's arguments as its callers write them: positions and
// rectangles (tuples or lists of numbers, KlVector2, KlRect), colours,
// blend modes, depths. Each returns false with the exception set that names
// the function and the argument as the caller wrote them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/compose/private/scene.h"

namespace kelo_compose {

// Where an argument was given: "Scene.add: pos ...".
struct Named {
    const char* function;
    const char* parameter;
};

// 2 or 4 finite numbers (as `allowed` permits: 2, 4, or 6 for either), from a
// tuple or list, a KlVector2 (2) or a KlRect (4); how many in `count`.
bool numbers(PyObject* object, double (&out)[4], int allowed, int& count, Named named);
// (x, y, width, height) of whole pixels, width and height 0 or more.
bool box_value(PyObject* object, Box& out, Named named);
// None (`if_none`) or (r, g, b, a) of ints 0..255.
bool color_value(PyObject* object, rl::Color& out, rl::Color if_none, Named named);
// One of raylib's blend modes, 0 to 7.
bool blend_value(PyObject* object, int& out, Named named);
// A finite number.
bool finite_value(PyObject* object, double& out, Named named);
// (x, y, ...) as a tuple of Python floats.
PyObject* float_tuple(const double* values, int count);

}  // namespace kelo_compose
