// Making a native type usable from Python and from other native modules:
// readying it, publishing its method table (the unnamed capsule
// "__pyx_vtable__" in the type's dictionary, through which other modules call
// it by slot) and binding it in its module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

// Ready `type`, publish `table` (once: a start-up run again finds it in
// place) and bind the type in `module` as `name`. False with an exception
// set on failure.
bool publish_native_type(PyObject* module, PyTypeObject* type, void* table, const char* name);

}  // namespace kl
