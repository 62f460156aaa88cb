// Argument binding of Python-visible functions: positional arguments, keyword
// arguments by parameter name, defaults, and the interpreter's messages for
// every way a call can be wrong; then the type tests of the bound parameters,
// with their messages.
//
// Calls that pass only positional arguments take an inline fast path that
// copies borrowed pointers and allocates nothing.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

namespace kl {

// A parameter of a Python-visible function: its name and what it takes when
// it is not given. `required` ones must be given; `absent` ones leave the
// entry a null value; any other number names a default object that the
// module sets when it builds the function (Signature::defaults).
struct Parameter {
    static constexpr int required = -2;
    static constexpr int absent = -1;

    const char* name;
    int default_value = required;
};

// The parameters of a function and the default object of each, in one place.
template <std::size_t N>
struct Parameters {
    Parameter list[N];
    PyObject* defaults[N] = {};  // borrowed; null until set, and for required and absent ones
};

// The parameters of a Python-visible function, `self` excluded. The first
// `required` parameters have no default.
struct Signature {
    const char* name;
    const Parameter* params;
    Py_ssize_t count;
    Py_ssize_t required;
    PyObject** defaults;  // per parameter: what the entry binds when it is not given

    // The module's number for the default of parameter `i`.
    int default_value(Py_ssize_t i) const { return params[i].default_value; }
};

template <std::size_t N>
constexpr Signature make_signature(const char* name, Parameters<N>& parameters) {
    Py_ssize_t required = 0;
    while (required < static_cast<Py_ssize_t>(N) && parameters.list[required].default_value == Parameter::required)
        ++required;
    return Signature{name, parameters.list, static_cast<Py_ssize_t>(N), required, parameters.defaults};
}
constexpr Signature make_signature(const char* name) { return Signature{name, nullptr, 0, 0, nullptr}; }

bool bind_arguments_slow(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         PyObject** values);

// Bind a vectorcall argument list into `values` (borrowed references, one per
// parameter); a parameter not given binds its default.
inline bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                           PyObject** values) {
    if (kwnames == nullptr && nargs >= sig.required && nargs <= sig.count) [[likely]] {
        for (Py_ssize_t i = 0; i < nargs; ++i) values[i] = args[i];
        for (Py_ssize_t i = nargs; i < sig.count; ++i) values[i] = sig.defaults[i];
        return true;
    }
    return bind_arguments_slow(sig, args, nargs, kwnames, values);
}

// A function without parameters refuses every argument.
inline bool bind_no_arguments(const Signature& sig, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs == 0 && kwnames == nullptr) [[likely]]
        return true;
    return bind_arguments_slow(sig, nullptr, nargs, kwnames, nullptr);
}

// Bind a tuple-and-dict call (an initialiser); the rules and messages are
// those of bind_arguments.
bool bind_call_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** values);

// ------------------------------------------------------------ type tests

// "Argument '<name>' has incorrect type (expected <type>, got <type>)"
bool raise_argument_type(const char* name, const char* expected, PyObject* given);

// Parameter declared as an extension type: that type or a subclass.
inline bool check_argument_type(PyObject* object, PyTypeObject* type, bool none_allowed, const char* name) {
    if (none_allowed && object == Py_None) return true;
    if (PyObject_TypeCheck(object, type)) return true;
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
