#include "kelo_ui/fast/runtime/dispatch.h"

namespace kl {

Override call_override(PyObject* self, PyObject* name, FunctionEntry own_entry, PyObject* const* args, Py_ssize_t nargs,
                       Ref& result) {
    Ref attribute = Ref::steal(Py_TYPE(self)->tp_getattro(self, name));
    if (!attribute) return Override::failed;
    PyObject* function = attribute.get();
    PyObject* bound_self = nullptr;
    if (PyMethod_Check(function)) {
        bound_self = PyMethod_GET_SELF(function);
        function = PyMethod_GET_FUNCTION(function);
    }
    if (has_native_entry(function, own_entry)) return Override::none;

    // Room for the bound object in front of the (at most few) arguments.
    constexpr Py_ssize_t max_args = 4;
    if (nargs > max_args) {
        PyErr_SetString(PyExc_SystemError, "too many arguments for override dispatch");
        return Override::failed;
    }
    PyObject* call_args[1 + max_args];
    Py_ssize_t count = 0;
    PyObject* callable = attribute.get();
    if (bound_self != nullptr) {
        callable = function;
        call_args[count++] = bound_self;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) call_args[count++] = args[i];
    result = Ref::steal(PyObject_Vectorcall(callable, call_args, static_cast<size_t>(count), nullptr));
    return result ? Override::called : Override::failed;
}

}  // namespace kl
