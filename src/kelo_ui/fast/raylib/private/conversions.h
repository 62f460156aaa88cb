// The window context's per-call conversions: the binding's struct cdata
// copied by cffi's own conversion, and vectors, rectangles and colours made
// from any sequence of numbers (or a cdata of that struct). Each returns
// false with an exception set when the value is refused, saying where it was
// given.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/raylib/private/binding_check.h"
#include "kelo_ui/fast/raylib/private/raylib_declarations.h"

namespace kelo_raylib::native {

// Where a value was given, for messages: "<function>: <parameter> ...".
struct Where {
    const char* function;
    const char* parameter;
};

// A cdata of exactly the binding's struct `index`, copied into `out`;
// anything else raises TypeError "... must be <expected>, not ...".
bool from_cdata(const Binding& binding, StructIndex index, PyObject* object, void* out, Where where,
                const char* expected);
// A cdata of the binding's struct `index`, or anything the binding makes one
// of (a sequence or dict of its fields), copied into `out`.
bool to_struct(const Binding& binding, StructIndex index, PyObject* object, void* out, Where where,
               const char* expected);
// The 16 floats of a matrix as rlgl takes them (m0, m1, ..., m15): a raylib
// Matrix, a cdata array or pointer of floats, or a sequence of 16 numbers.
bool to_matrix_floats(const Binding& binding, PyObject* object, float (&out)[16], Where where);
bool to_vector2(const Binding& binding, PyObject* object, rl::Vector2& out, Where where);
bool to_rectangle(const Binding& binding, PyObject* object, rl::Rectangle& out, Where where);
// None stands for `if_none`: white as a tint, blank as a clear colour.
bool to_color(const Binding& binding, PyObject* object, rl::Color& out, rl::Color if_none, Where where);

// The same conversions for values whose conversion runs no code: an exact
// tuple of exact ints and floats (a colour: exact ints of 0..255), and a
// double. False, with nothing raised, for anything else or for a value out of
// range: the caller then takes the conversions above, which say why.
bool plain_vector2(PyObject* object, rl::Vector2& out);
bool plain_rectangle(PyObject* object, rl::Rectangle& out);
bool plain_color(PyObject* object, rl::Color& out);
bool plain_float(double value, float& out);

}  // namespace kelo_raylib::native
