// The definition of an extension module with multi-phase initialisation,
// built from what differs between the toolkit's modules: the name, the
// documentation, the module-level functions, the creation and execution
// steps, and which interpreters may import it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

class ModuleDefinition {
public:
    using Create = PyObject* (*)(PyObject* spec, PyModuleDef* definition);
    using Exec = int (*)(PyObject* module);

    struct Parts {
        const char* name;
        const char* doc = nullptr;
        PyMethodDef* functions = nullptr;
        Create create = nullptr;  // null: the interpreter's own module creation
        Exec exec = nullptr;
        // Py_mod_multiple_interpreters: by default only the interpreter that
        // imports the module first, since its state is process-wide.
        void* interpreters = Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED;
    };

    explicit ModuleDefinition(const Parts& parts);
    ModuleDefinition(const ModuleDefinition&) = delete;
    ModuleDefinition& operator=(const ModuleDefinition&) = delete;

    // The PyInit_ result.
    PyObject* init() { return PyModuleDef_Init(&definition_); }

private:
    PyModuleDef_Slot slots_[4];
    PyModuleDef definition_;
};

}  // namespace kl
