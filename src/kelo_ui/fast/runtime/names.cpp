#include "kelo_ui/fast/runtime/names.h"

namespace kl {

Ref get_builtin(PyObject* builtins, PyObject* name) {
    PyObject* value = nullptr;
    const int found = PyObject_GetOptionalAttr(builtins, name, &value);
    if (found == 0) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return Ref::steal(value);
}

Ref get_global(PyObject* globals, PyObject* builtins, PyObject* name) {
    PyObject* value = nullptr;
    const int found = PyDict_GetItemRef(globals, name, &value);
    if (found < 0) return {};
    if (found > 0) return Ref::steal(value);
    return get_builtin(builtins, name);
}

}  // namespace kl
