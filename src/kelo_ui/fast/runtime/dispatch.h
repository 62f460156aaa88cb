// Override dispatch: a native entry called with the skip-dispatch flag 0
// defers to a Python-level override of the same name on the object's class.
//
// An exact instance of a native class pays one test of its type; only types
// that can carry an override (heap types, types with an instance dictionary,
// abstract types) look the name up, afresh at every call.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/runtime/function.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

inline bool may_be_overridden(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    return type->tp_dictoffset != 0 || (type->tp_flags & (Py_TPFLAGS_IS_ABSTRACT | Py_TPFLAGS_HEAPTYPE)) != 0;
}

enum class Override {
    none,    // the attribute is the class's own method: run the native body
    called,  // an override ran; its result is in `result`
    failed,  // the lookup or the override raised
};

// Look `name` up on `self`; unless it is the method whose Python-visible
// entry is `own_entry`, call it with `args` and keep its result.
Override call_override(PyObject* self, PyObject* name, FunctionEntry own_entry, PyObject* const* args, Py_ssize_t nargs,
                       Ref& result);

// What an override would be called with: the method's name, the entry by
// which the class's own method is recognised, and the native method's own
// arguments.
struct OverrideCall {
    PyObject* self;
    PyObject* name;
    FunctionEntry own_entry;
    PyObject* const* args = nullptr;
    Py_ssize_t nargs = 0;
};

// The native entry of a method that a Python subclass may override. With the
// skip-dispatch flag 0 and an override found, the override runs instead of
// `body()` and `convert(result)` makes the entry's result of what it
// returned; a lookup or call that raised gives `failed()`. Otherwise the
// result is `body()`.
template <typename Body, typename Convert, typename Failed>
auto overridable(int skip_dispatch, const OverrideCall& call, Body body, Convert convert, Failed failed)
    -> decltype(body()) {
    if (skip_dispatch || !may_be_overridden(call.self)) [[likely]]
        return body();
    Ref result;
    const Override found = call_override(call.self, call.name, call.own_entry, call.args, call.nargs, result);
    if (found == Override::none) return body();
    if (found == Override::called) return convert(std::move(result));
    return failed();
}

}  // namespace kl
