// The `dest` argument of the toolkit's drawing calls: (x, y) draws at a
// position, (x, y, width, height) into a rectangle.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

// ValueError for a `dest` of any other length, in the words that the render
// targets and the display both use.
inline void raise_invalid_dest(PyObject* dest) {
    Ref text = Ref::steal(PyObject_Format(dest, nullptr));
    if (!text) return;
    PyErr_Format(PyExc_ValueError, "Invalid dest argument - %U, must be (x, y) or (x, y, width, height)", text.get());
}

}  // namespace kl
