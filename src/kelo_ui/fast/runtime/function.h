// The function-object type in which native modules publish their
// Python-visible functions and methods.
//
// A function object behaves like a Python function: looked up on an instance
// it binds as a method, staticmethod can wrap it, and it carries __name__,
// __qualname__, __module__, __doc__, __defaults__, __kwdefaults__,
// __annotations__ and a __code__ that lists its parameters for introspection.
// It is called through vectorcall, and the method-descriptor flag lets
// `obj.method(...)` call it without making a bound-method object.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/runtime/args.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

// The native entry of every function object: for a method `self` is the
// instance, already tested against the owning class; for a plain function it
// is null. `args` and `kwnames` are the vectorcall arguments after `self`.
using FunctionEntry = PyObject* (*)(PyObject * self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    FunctionEntry entry;
    PyTypeObject* owner;         // the class whose instances the entry takes; null for a plain function
    const Signature* signature;  // the name used in messages, whatever __name__ is set to
    bool (*usable)();            // null, or the module's gate: false with an exception set refuses every call
    // Never null: clearing (the collector breaking a cycle) leaves empty
    // strings, so repr and pickling by name keep working. `code` is never
    // cleared either; the other fields read as None once cleared.
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* defaults;  // tuple or None
    PyObject* annotations;
    PyObject* code;
};

extern PyTypeObject FunctionType;

// Ready the function type (once per process; later calls do nothing).
bool ready_function_type();

// What a function object is made of; `defaults` and `annotations` may be null
// (None and an empty dict).
struct FunctionSpec {
    FunctionEntry entry;
    PyTypeObject* owner;
    const Signature* signature;
    const char* qualname;
    PyObject* module;
    PyObject* filename;
    PyObject* defaults;
    PyObject* annotations;
    bool (*usable)();  // may be null
};

// A code object that lists the parameters (with `self` first for a method);
// it runs nothing and serves introspection.
Ref make_code(const FunctionSpec& spec);

Ref make_function(const FunctionSpec& spec, PyObject* code);

// Whether `callable` is a built-in function or one of our function objects
// whose native entry is `entry` (override dispatch uses this to tell the
// class's own method from an override).
bool has_native_entry(PyObject* callable, FunctionEntry entry);

}  // namespace kl
