// Making a native type usable from Python and from other native modules:
// readying it, publishing its method table (the unnamed capsule
// "__pyx_vtable__" in the type's dictionary, through which other modules call
// it by slot) and binding it in its module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

// Store `value` under `name` in the dictionary of a static `type`, which
// Python code cannot assign to, and tell the type's attribute caches.
bool set_type_attribute(PyTypeObject* type, const char* name, PyObject* value);

// Ready `type`, publish `table` (once: a start-up run again finds it in
// place) and bind the type in `module` as `name`. False with an exception
// set on failure.
bool publish_native_type(PyObject* module, PyTypeObject* type, void* table, const char* name);

}  // namespace kl
