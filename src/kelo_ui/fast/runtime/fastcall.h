// Python-visible wrappers (METH_FASTCALL) of native functions that take
// positional arguments only: the count check and the result of a void call.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

// TypeError "<name>() takes exactly N argument(s) (M given)" unless `nargs`
// is `expected`.
inline bool check_positional_count(const char* name, Py_ssize_t nargs, Py_ssize_t expected) {
    if (nargs == expected) [[likely]]
        return true;
    PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd argument%s (%zd given)", name, expected,
                 expected == 1 ? "" : "s", nargs);
    return false;
}

// The result of a wrapped void native call: what it left pending becomes the
// Python caller's error, otherwise None.
inline PyObject* none_unless_error() {
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

}  // namespace kl
