// Conversions of integer arguments at the boundary, with the interpreter's own
// rules and messages.
//
// Every function returns false (or null) with an exception set when the object
// is refused.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

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

}  // namespace kl
