// Publishing a native type's method table, so that other native modules can
// call its methods by slot: an unnamed capsule in the type's dictionary under
// "__pyx_vtable__".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

// Ready `type` once per process, publish `table` once (a module executed
// again finds both in place) and bind the type in `module` as `name`.
inline int add_native_type(PyObject* module, PyTypeObject* type, void* table, const char* name) {
    if (PyType_Ready(type) < 0) return -1;
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) return -1;
    const int published = PyDict_ContainsString(dict.get(), "__pyx_vtable__");
    if (published < 0) return -1;
    if (!published) {
        Ref capsule = Ref::steal(PyCapsule_New(table, nullptr, nullptr));
        if (!capsule || PyDict_SetItemString(dict.get(), "__pyx_vtable__", capsule.get()) < 0) return -1;
        PyType_Modified(type);
    }
    return PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type));
}

}  // namespace kl
