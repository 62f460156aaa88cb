#include "kelo_ui/fast/runtime/native_type.h"

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

bool set_type_attribute(PyTypeObject* type, const char* name, PyObject* value) {
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict || PyDict_SetItemString(dict.get(), name, value) < 0) return false;
    PyType_Modified(type);
    return true;
}

bool publish_native_type(PyObject* module, PyTypeObject* type, void* table, const char* name) {
    if (PyType_Ready(type) < 0) return false;
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) return false;
    const int published = PyDict_ContainsString(dict.get(), "__pyx_vtable__");
    if (published < 0) return false;
    if (!published) {
        Ref capsule = Ref::steal(PyCapsule_New(table, nullptr, nullptr));
        if (!capsule || !set_type_attribute(type, "__pyx_vtable__", capsule.get())) return false;
    }
    return PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

}  // namespace kl
