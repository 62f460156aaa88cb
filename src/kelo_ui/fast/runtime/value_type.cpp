#include "kelo_ui/fast/runtime/value_type.h"

#include <type_traits>

#include "kelo_ui/fast/runtime/convert.h"

namespace kl {

void dealloc_value(PyObject* self) { Py_TYPE(self)->tp_free(self); }

PyObject* repr_value(PyObject* self, Ref fields) {
    if (!fields) return nullptr;
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(self)));
    if (!name) return nullptr;
    return PyUnicode_FromFormat("%U%R", name.get(), fields.get());
}

PyObject* reduce_value(PyObject* self, Ref args) {
    if (!args) return nullptr;
    PyObject* found = nullptr;
    if (PyObject_GetOptionalAttrString(self, "__dict__", &found) < 0) return nullptr;
    Ref dict = Ref::steal(found);
    if (dict && PyDict_Check(dict.get()) && PyDict_GET_SIZE(dict.get()) > 0)
        return PyTuple_Pack(3, Py_TYPE(self), args.get(), dict.get());
    return PyTuple_Pack(2, Py_TYPE(self), args.get());
}

bool to_number(PyObject* value, const char* owner, const char* what, double& out) {
    out = PyFloat_AsDouble(value);
    if (out != -1.0 || !PyErr_Occurred()) return true;
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s%s must be a number, not %.200s", owner, what, Py_TYPE(value)->tp_name);
    }
    return false;
}

namespace {

template <typename Number>
Number& field_of(PyObject* self, const NumberField& field) {
    return *reinterpret_cast<Number*>(reinterpret_cast<char*>(self) + field.offset);
}

}  // namespace

template <typename Number>
PyObject* get_number(PyObject* self, void* closure) {
    return PyFloat_FromDouble(static_cast<double>(field_of<Number>(self, *static_cast<NumberField*>(closure))));
}

template <typename Number>
int set_number(PyObject* self, PyObject* value, void* closure) {
    const NumberField& field = *static_cast<NumberField*>(closure);
    if (value == nullptr) {
        PyErr_Format(PyExc_TypeError, "%s attributes cannot be deleted", field.owner);
        return -1;
    }
    double number;
    if (!to_number(value, field.owner, " coordinates", number)) return -1;
    if constexpr (std::is_same_v<Number, float>) {
        field_of<Number>(self, field) = to_single(number);
    } else {
        field_of<Number>(self, field) = number;
    }
    return 0;
}

template PyObject* get_number<double>(PyObject*, void*);
template PyObject* get_number<float>(PyObject*, void*);
template int set_number<double>(PyObject*, PyObject*, void*);
template int set_number<float>(PyObject*, PyObject*, void*);

}  // namespace kl
