// Traceback entries for native functions.
//
// A native function that an exception passes through adds an entry named
// after its qualified name, so a Python traceback shows the native path the
// exception took.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

// Add an entry for `funcname` in `filename` to the pending exception; its
// frame's globals are the module's dictionary `globals` (a new empty one when
// null). The pending exception is kept whatever happens; if the entry itself
// cannot be made, it is simply missing.
void add_traceback(const char* funcname, const char* filename, PyObject* globals = nullptr, int lineno = 1);

}  // namespace kl
