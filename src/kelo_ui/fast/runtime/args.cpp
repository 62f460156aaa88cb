#include "kelo_ui/fast/runtime/args.h"

#include <memory>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {
namespace {

bool raise_count(const Signature& sig, Py_ssize_t given) {
    const bool exact = sig.required == sig.count;
    const Py_ssize_t bound = given < sig.required ? sig.required : sig.count;
    const char* word = exact ? "exactly" : (given < sig.required ? "at least" : "at most");
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", sig.name, word, bound,
                 bound == 1 ? "" : "s", given);
    return false;
}

Py_ssize_t parameter_index(const Signature& sig, PyObject* key) {
    for (Py_ssize_t i = 0; i < sig.count; ++i) {
        if (PyUnicode_EqualToUTF8(key, sig.params[i].name)) return i;
    }
    return -1;
}

PyObject* keyword_value(PyObject* kwnames, PyObject* const* kwvalues, const char* name) {
    const Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, i);
        if (PyUnicode_Check(key) && PyUnicode_EqualToUTF8(key, name)) return kwvalues[i];
    }
    return nullptr;
}

}  // namespace

bool bind_arguments_slow(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         PyObject** values) {
    if (nargs > sig.count) return raise_count(sig, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) values[i] = args[i];
    for (Py_ssize_t i = nargs; i < sig.count; ++i) values[i] = sig.defaults[i];
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0) {
        if (nargs < sig.required) return raise_count(sig, nargs);
        return true;
    }
    PyObject* const* kwvalues = args + nargs;
    Py_ssize_t unused = nkw;
    // Required parameters first: the first one missing is reported as a count
    // error, given as the number of parameters before it.
    for (Py_ssize_t i = nargs; i < sig.required; ++i) {
        PyObject* value = keyword_value(kwnames, kwvalues, sig.params[i].name);
        if (value == nullptr) return raise_count(sig, i);
        values[i] = value;
        --unused;
    }
    for (Py_ssize_t i = nargs > sig.required ? nargs : sig.required; i < sig.count && unused > 0; ++i) {
        PyObject* value = keyword_value(kwnames, kwvalues, sig.params[i].name);
        if (value != nullptr) {
            values[i] = value;
            --unused;
        }
    }
    if (unused == 0) return true;
    // Some keyword matched nothing bindable: report the first, in call order.
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", sig.name);
            return false;
        }
        const Py_ssize_t index = parameter_index(sig, key);
        if (index < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, key);
            return false;
        }
        if (index < nargs) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", sig.name, key);
            return false;
        }
    }
    // Only a keyword repeated in kwnames gets here; the interpreter never
    // builds such a call, but a native caller might.
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument", sig.name);
    return false;
}

bool bind_call_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** values) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
    PyObject* const* positional = &PyTuple_GET_ITEM(args, 0);
    if (nkw == 0) return bind_arguments(sig, positional, nargs, nullptr, values);

    // Lay the call out as a vectorcall: positional values, then keyword
    // values in the dict's (call) order, with their names in a tuple. The
    // values stay borrowed from the caller's tuple and dict.
    std::unique_ptr<PyObject*[], decltype(&PyMem_Free)> flat(
        static_cast<PyObject**>(PyMem_Malloc(sizeof(PyObject*) * static_cast<std::size_t>(nargs + nkw))), &PyMem_Free);
    if (!flat) {
        PyErr_NoMemory();
        return false;
    }
    Ref kwnames = Ref::steal(PyTuple_New(nkw));
    if (!kwnames) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) flat[i] = positional[i];
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
        PyTuple_SET_ITEM(kwnames.get(), k, Py_NewRef(key));
        flat[nargs + k++] = value;
    }
    return bind_arguments_slow(sig, flat.get(), nargs, kwnames.get(), values);
}

bool raise_argument_type(const char* name, const char* expected, PyObject* given) {
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name, expected,
                 Py_TYPE(given)->tp_name);
    return false;
}

bool check_argument_not_none(PyObject* object, const char* name) {
    if (object != Py_None) return true;
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' must not be None", name);
    return false;
}

bool check_field_type(PyObject* object, PyTypeObject* type) {
    if (PyObject_TypeCheck(object, type)) return true;
    PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(object)->tp_name, type->tp_name);
    return false;
}

}  // namespace kl
