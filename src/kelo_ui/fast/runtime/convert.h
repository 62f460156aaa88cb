// The conversions of arguments at the boundary, with the interpreter's own
// rules and messages: the one reader of each kind of value.
//
// - Integer parameters of the Python-visible methods (a blend mode, the
//   pickle checksum): through __int__, so a float is truncated (as_int32,
//   as_int64).
// - C int parameters of kelo_raylib's Python-visible functions, which mirror
//   their C signatures, and the window context's blend modes and sizes: only
//   an int or an object with __index__ (int_argument). (The context's own
//   c_draw_texture_vec takes its flip as a truth value, as the display's
//   fast_blit_pro does.)
// - Truth values (flip, loaded): True, False and None by identity, anything
//   else through the interpreter's truth test (as_truth).
//
// Every function returns false (or null) with an exception set when the object
// is refused.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace kl {

// An int or int subclass as it is; anything else through its __int__.
// Returns a new reference to an exact or subclassed int, or null.
PyObject* int_from_object(PyObject* object);

// 32-bit signed integer parameter. On failure returns false with an exception
// set ("an integer is required", "value too large to convert to int", ...).
bool as_int32(PyObject* object, int& out);

// 64-bit signed integer (the pickle checksum); the range error is the
// interpreter's own.
bool as_int64(PyObject* object, std::int64_t& out);

// A C int parameter: an int (or an object with __index__) in the range of a
// C int.
inline bool int_argument(PyObject* object, int& out) {
    out = PyLong_AsInt(object);
    return !(out == -1 && PyErr_Occurred());
}

// A truth-value parameter, as 1 or 0.
inline bool as_truth(PyObject* object, int& out) {
    out = PyObject_IsTrue(object);
    return out >= 0;
}

// A double as the nearest single-precision value, rounding to nearest even
// as the hardware does: beyond FLT_MAX by half a step or more it is infinity.
// (A bare cast of such a value is undefined behaviour.)
inline float to_single(double value) {
    if (!std::isfinite(value) || std::fabs(value) <= static_cast<double>(FLT_MAX)) [[likely]] {
        return static_cast<float>(value);
    }
    // Half a step of FLT_MAX's last digit; FLT_MAX's is odd, so a tie goes up.
    constexpr double half_step = 0x1p103;
    const float magnitude = std::fabs(value) < static_cast<double>(FLT_MAX) + half_step ? FLT_MAX : INFINITY;
    return std::signbit(value) ? -magnitude : magnitude;
}

}  // namespace kl
