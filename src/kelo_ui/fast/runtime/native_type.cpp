#include "kelo_ui/fast/runtime/native_type.h"

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

bool publish_native_type(PyObject* module, PyTypeObject* type, void* table, const char* name) {
    if (PyType_Ready(type) < 0) return false;
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) return false;
    const int published = PyDict_ContainsString(dict.get(), "__pyx_vtable__");
    if (published < 0) return false;
    if (!published) {
        Ref capsule = Ref::steal(PyCapsule_New(table, nullptr, nullptr));
        // The type is immutable to Python: its dictionary is written directly
        // and its attribute caches told.
        if (!capsule || PyDict_SetItemString(dict.get(), "__pyx_vtable__", capsule.get()) < 0) return false;
        PyType_Modified(type);
    }
    return PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

TypeModule::TypeModule(const char* name, const char* doc, Exec exec)
    : slots_{
          {Py_mod_exec, reinterpret_cast<void*>(exec)},
          {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
          {0, nullptr},
      },
      definition_{
          PyModuleDef_HEAD_INIT,
          name,
          doc,
          0,
          nullptr,
          slots_,
          nullptr,
          nullptr,
          nullptr,
      } {}

}  // namespace kl
