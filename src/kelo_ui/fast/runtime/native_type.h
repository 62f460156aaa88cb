// Making a native type usable from Python and from other native modules:
// readying it, publishing its method table (the unnamed capsule
// "__pyx_vtable__" in the type's dictionary, through which other modules call
// it by slot) and binding it in its module; and the definition of a module
// that holds one such type.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

// Ready `type`, publish `table` (once: a start-up run again finds it in
// place) and bind the type in `module` as `name`. False with an exception
// set on failure.
bool publish_native_type(PyObject* module, PyTypeObject* type, void* table, const char* name);

// A module whose execution publishes one native type. Process-wide state
// lives in the type, so only one interpreter may import it.
class TypeModule {
public:
    using Exec = int (*)(PyObject* module);
    TypeModule(const char* name, const char* doc, Exec exec);
    TypeModule(const TypeModule&) = delete;
    TypeModule& operator=(const TypeModule&) = delete;

    // The PyInit_ result.
    PyObject* init() { return PyModuleDef_Init(&definition_); }

private:
    PyModuleDef_Slot slots_[3];
    PyModuleDef definition_;
};

}  // namespace kl
