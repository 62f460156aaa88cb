#include "kelo_ui/fast/runtime/value_type.h"

#include <climits>

#include "kelo_ui/fast/runtime/convert.h"

namespace kl::value {
namespace {

char* at(PyObject* self, const ValueField& field) { return reinterpret_cast<char*>(self) + field.offset; }

double& real_of(PyObject* self, const ValueField& field) { return *reinterpret_cast<double*>(at(self, field)); }
float& single_of(PyObject* self, const ValueField& field) { return *reinterpret_cast<float*>(at(self, field)); }
unsigned int& id_of(PyObject* self, const ValueField& field) {
    return *reinterpret_cast<unsigned int*>(at(self, field));
}

// An id: an integer (or an object with __index__) from 0 to UINT_MAX.
bool to_id(PyObject* value, const char* owner, unsigned int& out) {
    Ref index = Ref::steal(PyNumber_Index(value));
    if (!index) return false;
    const unsigned long number = PyLong_AsUnsignedLong(index.get());
    if (number == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
    if (number > UINT_MAX) {
        PyErr_Format(PyExc_OverflowError, "%s id does not fit in an unsigned int", owner);
        return false;
    }
    out = static_cast<unsigned int>(number);
    return true;
}

// A number as float() reads it.
bool to_real(PyObject* value, const ValueField& field, const char* owner, bool argument, double& out) {
    out = PyFloat_AsDouble(value);
    if (out != -1.0 || !PyErr_Occurred()) return true;
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        if (argument) {
            PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be a number, not %.200s", owner, field.name,
                         Py_TYPE(value)->tp_name);
        } else {
            PyErr_Format(PyExc_TypeError, "%s coordinates must be a number, not %.200s", owner,
                         Py_TYPE(value)->tp_name);
        }
    }
    return false;
}

}  // namespace

void dealloc(PyObject* self) { Py_TYPE(self)->tp_free(self); }

PyObject* get(PyObject* self, const ValueField& field) {
    switch (field.kind) {
        case ValueField::real:
            return PyFloat_FromDouble(real_of(self, field));
        case ValueField::single:
            return PyFloat_FromDouble(static_cast<double>(single_of(self, field)));
        case ValueField::id:
            return PyLong_FromUnsignedLong(id_of(self, field));
    }
    Py_UNREACHABLE();
}

bool convert(const ValueField& field, PyObject* value, const char* owner, bool argument, double& out) {
    if (field.kind != ValueField::id) return to_real(value, field, owner, argument, out);
    unsigned int id;
    if (!to_id(value, owner, id)) return false;
    out = id;
    return true;
}

bool set(PyObject* self, const ValueField& field, PyObject* value, const char* owner, bool argument) {
    if (field.kind == ValueField::id) {
        unsigned int id;
        if (!to_id(value, owner, id)) return false;
        id_of(self, field) = id;
        return true;
    }
    double number;
    if (!to_real(value, field, owner, argument, number)) return false;
    if (field.kind == ValueField::single) {
        single_of(self, field) = to_single(number);
    } else {
        real_of(self, field) = number;
    }
    return true;
}

PyObject* fields(PyObject* self, const ValueField* fields, std::size_t count) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* item = get(self, fields[i]);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple.release();
}

PyObject* repr(PyObject* self, const ValueField* fields_of, std::size_t count, bool keywords) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(self)));
    Ref values = name ? Ref::steal(fields(self, fields_of, count)) : Ref();
    if (!values) return nullptr;
    if (!keywords) return PyUnicode_FromFormat("%U%R", name.get(), values.get());
    Ref text = Ref::steal(PyUnicode_FromFormat("%U(", name.get()));
    for (std::size_t i = 0; text && i < count; ++i) {
        text = Ref::steal(PyUnicode_FromFormat("%U%s%s=%R", text.get(), i ? ", " : "", fields_of[i].name,
                                               PyTuple_GET_ITEM(values.get(), static_cast<Py_ssize_t>(i))));
    }
    return text ? PyUnicode_FromFormat("%U)", text.get()) : nullptr;
}

PyObject* reduce(PyObject* self, const ValueField* fields_of, std::size_t count) {
    Ref args = Ref::steal(fields(self, fields_of, count));
    if (!args) return nullptr;
    PyObject* found = nullptr;
    if (PyObject_GetOptionalAttrString(self, "__dict__", &found) < 0) return nullptr;
    Ref dict = Ref::steal(found);
    if (dict && PyDict_Check(dict.get()) && PyDict_GET_SIZE(dict.get()) > 0)
        return PyTuple_Pack(3, Py_TYPE(self), args.get(), dict.get());
    return PyTuple_Pack(2, Py_TYPE(self), args.get());
}

bool equal(PyObject* self, PyObject* other, const ValueField* fields, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const ValueField& field = fields[i];
        const bool same = field.kind == ValueField::real     ? real_of(self, field) == real_of(other, field)
                          : field.kind == ValueField::single ? single_of(self, field) == single_of(other, field)
                                                             : id_of(self, field) == id_of(other, field);
        if (!same) return false;
    }
    return true;
}

}  // namespace kl::value
