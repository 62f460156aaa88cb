// Run-time names: module-level names looked up at every use, in the module's
// dictionary first and then among the built-ins.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

// A built-in name; NameError "name '...' is not defined" when it is missing.
Ref get_builtin(PyObject* builtins, PyObject* name);

// A module-level name: `globals` first, then `builtins`; NameError otherwise.
Ref get_global(PyObject* globals, PyObject* builtins, PyObject* name);

}  // namespace kl
