// Conversions of integer arguments at the boundary, with the interpreter's own
// rules and messages.
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
