// Imports of sibling modules at start-up: modules with a from-list, names
// taken from them, native types checked against the record size a header
// expects, their native method tables, and exported native functions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

// An absolute import through the import system, with `globals` as the
// importing module's dictionary; `fromlist` may be null.
Ref import_module(PyObject* name, PyObject* globals, PyObject* fromlist);

// `from module import name`: the attribute, else the submodule registered in
// sys.modules as "<module>.<name>", else ImportError "cannot import name ...".
Ref import_from(PyObject* module, PyObject* name);

// A native type of a sibling module whose record must be at least
// `expected_size` bytes; a larger record only warns.
Ref import_type(const char* module_name, const char* type_name, std::size_t expected_size);

// The native method table published in a type's dictionary as the unnamed
// capsule "__pyx_vtable__".
void* get_vtable(PyTypeObject* type);

// A native function exported in `module.__pyx_capi__` under `name`, in a
// capsule named after its signature. One that is not `required` may be
// missing: null with no exception set.
void* import_function(PyObject* module, const char* module_name, const char* name, const char* signature,
                      bool required = true);

}  // namespace kl
