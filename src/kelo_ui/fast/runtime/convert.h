// Conversions of arguments at the boundary, and the type tests of parameters.
//
// Every function returns false (or the documented error value) with an
// exception set when the object is refused.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace kl {

// True, False and None by identity (None is false); anything else through the
// interpreter's truth test. Returns 1, 0, or -1 with an exception set.
inline int truth(PyObject* object) {
    if (object == Py_True) return 1;
    if (object == Py_False || object == Py_None) return 0;
    return PyObject_IsTrue(object);
}

// An int or int subclass as it is; anything else through its __int__.
// Returns a new reference to an exact or subclassed int, or null.
PyObject* int_from_object(PyObject* object);

// 32-bit signed integer parameter. On failure returns false with an exception
// set ("an integer is required", "value too large to convert to int", ...).
bool as_int32(PyObject* object, int& out);

// 64-bit signed integer (the pickle checksum); the range error is the
// interpreter's own.
bool as_int64(PyObject* object, std::int64_t& out);

// A foreign number read as a double: a float directly, else float(object).
// Returns -1.0 with an exception set on failure (test PyErr_Occurred()).
inline double as_double(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    return PyFloat_AsDouble(object);
}

// Subtype test through the method resolution order, or the chain of bases
// for a type that has none yet.
inline bool is_instance(PyObject* object, PyTypeObject* type) {
    return Py_IS_TYPE(object, type) || PyType_IsSubtype(Py_TYPE(object), type);
}

// "Argument '<name>' has incorrect type (expected <type>, got <type>)"
bool raise_argument_type(const char* name, const char* expected, PyObject* given);

// Parameter declared as an extension type: that type or a subclass.
inline bool check_argument_type(PyObject* object, PyTypeObject* type, bool none_allowed, const char* name) {
    if (none_allowed && object == Py_None) return true;
    if (is_instance(object, type)) return true;
    return raise_argument_type(name, type->tp_name, object);
}

// Parameter declared `tuple`: exactly a tuple (a named tuple is refused).
inline bool check_argument_tuple(PyObject* object, bool none_allowed, const char* name) {
    if (PyTuple_CheckExact(object) || (none_allowed && object == Py_None)) return true;
    return raise_argument_type(name, "tuple", object);
}

// An untyped parameter that refuses None.
bool check_argument_not_none(PyObject* object, const char* name);

// A tuple-typed value produced inside the module (a default, a state, a value
// tested in a method body): "Expected tuple, got <type>".
inline bool check_tuple_value(PyObject* object, bool none_allowed) {
    if (PyTuple_CheckExact(object) || (none_allowed && object == Py_None)) return true;
    PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "tuple", Py_TYPE(object)->tp_name);
    return false;
}

// An object stored into a field of an extension type:
// "Cannot convert <given type> to <target type>".
bool check_field_type(PyObject* object, PyTypeObject* type);

}  // namespace kl
