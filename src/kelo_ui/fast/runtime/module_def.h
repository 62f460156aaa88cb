// The definition of an extension module of the toolkit, with multi-phase
// initialisation, and the one policy every module follows:
//
// - One interpreter: the first interpreter that creates the module owns it
//   (its state is process-wide); creation in any other raises ImportError
//   with the module's `other_interpreter` message. The module therefore lets
//   the import system call it from any interpreter, isolated ones included,
//   so that their users see this refusal rather than a generic one.
// - One module: once execution has begun, creation returns that module and
//   execution of it again does nothing, so a second import (even after its
//   entry left sys.modules) yields the same module; executing another module
//   object raises RuntimeError "Module '<name>' has already been imported.
//   Re-initialisation is not supported.". A failed execution forgets the
//   module, and the next import runs creation and execution again.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

struct ModuleDefinition {
    using Create = PyObject* (*)(PyObject * module_spec);
    using Exec = int (*)(PyObject* module);

    struct Parts {
        const char* name;  // the dotted name, or its last part; messages name the last part
        const char* doc = nullptr;
        PyMethodDef* functions = nullptr;
        Create create = nullptr;  // null: a plain module with the name the import system gives
        Exec exec = nullptr;
        // The ImportError of every interpreter but the first.
        const char* other_interpreter = "this module of kelo_ui can be used by one interpreter only";
    };

    explicit ModuleDefinition(const Parts& parts);
    ModuleDefinition(const ModuleDefinition&) = delete;
    ModuleDefinition& operator=(const ModuleDefinition&) = delete;

    // The PyInit_ result.
    PyObject* init() { return PyModuleDef_Init(&definition); }

    // First, so that the interpreter's PyModuleDef* is this definition.
    PyModuleDef definition;
    PyModuleDef_Slot slots[4];
    Parts parts;
    std::atomic<std::int64_t> owner{-1};  // the first interpreter; atomic: isolated ones run at once
    Pinned<> module;                      // the module whose execution has begun
};

}  // namespace kl
