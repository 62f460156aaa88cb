// Argument binding of Python-visible functions: positional arguments, keyword
// arguments by parameter name, defaults, and the interpreter's messages for
// every way a call can be wrong.
//
// Calls that pass only positional arguments take an inline fast path that
// copies borrowed pointers and allocates nothing.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

namespace kl {

// The parameters of a Python-visible function, `self` excluded. The first
// `required` parameters have no default.
struct Signature {
    const char* name;
    const char* const* params;
    Py_ssize_t count;
    Py_ssize_t required;
};

template <std::size_t N>
constexpr Signature make_signature(const char* name, const char* const (&params)[N], Py_ssize_t required) {
    return Signature{name, params, static_cast<Py_ssize_t>(N), required};
}
constexpr Signature make_signature(const char* name) { return Signature{name, nullptr, 0, 0}; }

bool bind_arguments_slow(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         PyObject** values);

// Bind a vectorcall argument list into `values` (borrowed references, one per
// parameter). On entry `values` holds the defaults of the optional parameters.
inline bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                           PyObject** values) {
    if (kwnames == nullptr && nargs >= sig.required && nargs <= sig.count) [[likely]] {
        for (Py_ssize_t i = 0; i < nargs; ++i) values[i] = args[i];
        return true;
    }
    return bind_arguments_slow(sig, args, nargs, kwnames, values);
}

// A function without parameters refuses every argument.
inline bool bind_no_arguments(const Signature& sig, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs == 0 && kwnames == nullptr) [[likely]] return true;
    return bind_arguments_slow(sig, nullptr, nargs, kwnames, nullptr);
}

// Bind a tuple-and-dict call (an initialiser); the rules and messages are
// those of bind_arguments.
bool bind_call_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** values);

}  // namespace kl
