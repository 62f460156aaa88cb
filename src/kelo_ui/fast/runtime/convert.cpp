#include "kelo_ui/fast/runtime/convert.h"

#include <climits>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

PyObject* int_from_object(PyObject* object) {
    if (PyLong_Check(object)) return Py_NewRef(object);
    PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
    if (number == nullptr || number->nb_int == nullptr) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return nullptr;
    }
    Ref result = Ref::steal(number->nb_int(object));
    if (!result) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "an integer is required");
        return nullptr;
    }
    if (PyLong_CheckExact(result.get())) return result.release();
    if (PyLong_Check(result.get())) {
        // A strict subclass of int still converts, with the interpreter's
        // own deprecation of such __int__ results.
        if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                             "__int__ returned non-int (type %.200s).  The ability to return an instance of a "
                             "strict subclass of int is deprecated, and may be removed in a future version of "
                             "Python.",
                             Py_TYPE(result.get())->tp_name) < 0) {
            return nullptr;
        }
        return result.release();
    }
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)", Py_TYPE(result.get())->tp_name);
    return nullptr;
}

bool as_int32(PyObject* object, int& out) {
    Ref number = Ref::steal(int_from_object(object));
    if (!number) return false;
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || value < INT_MIN || value > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool as_int64(PyObject* object, std::int64_t& out) {
    Ref number = Ref::steal(int_from_object(object));
    if (!number) return false;
    long long value = PyLong_AsLongLong(number.get());
    if (value == -1 && PyErr_Occurred()) return false;
    out = static_cast<std::int64_t>(value);
    return true;
}

}  // namespace kl
