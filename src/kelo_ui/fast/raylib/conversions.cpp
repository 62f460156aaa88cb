// The window context's per-call conversions (conversions.h).
#include "kelo_ui/fast/raylib/private/conversions.h"

#include "kelo_ui/fast/raylib/private/context.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace kelo_raylib::native {

bool from_cdata(const Binding& binding, StructIndex index, PyObject* object, void* out, Where where,
                const char* expected) {
    if (!is_cdata(binding, object)) {
        PyErr_Format(PyExc_TypeError, "%s: %s must be %s, not %.200s", shown(where.function), where.parameter, expected,
                     Py_TYPE(object)->tp_name);
        return false;
    }
    if (binding.to_c(static_cast<char*>(out), binding.ctype(index), object) == 0) [[likely]]
        return true;
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s: %s must be %s, not %R", shown(where.function), where.parameter, expected,
                     object);
    }
    return false;
}

bool to_struct(const Binding& binding, StructIndex index, PyObject* object, void* out, Where where,
               const char* expected) {
    if (is_cdata(binding, object)) return from_cdata(binding, index, object, out, where, expected);
    Ref type = Ref::steal(PyUnicode_FromFormat("%s *", declared_structs[index].name));
    Ref made = type ? Ref::steal(PyObject_CallFunctionObjArgs(binding.new_.get(), type.get(), object, nullptr)) : Ref();
    if (!made) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_ValueError) ||
            PyErr_ExceptionMatches(PyExc_IndexError) || PyErr_ExceptionMatches(PyExc_KeyError)) {
            Ref cause = Ref::steal(PyErr_GetRaisedException());
            PyErr_Format(PyExc_TypeError, "%s: %s must be %s or its fields, not %.200s (%S)", shown(where.function),
                         where.parameter, expected, Py_TYPE(object)->tp_name, cause.get());
        }
        return false;
    }
    std::memcpy(out, reinterpret_cast<CDataHead*>(made.get())->c_data, declared_structs[index].size);
    return true;
}

namespace {

// Calls item(value, i) for each of the `count` items of a sequence.
template <typename Item>
bool for_items(PyObject* object, Py_ssize_t count, Where where, const char* items, Item item) {
    if (PyTuple_CheckExact(object)) [[likely]] {
        if (PyTuple_GET_SIZE(object) == count) [[likely]] {
            for (Py_ssize_t i = 0; i < count; ++i)
                if (!item(PyTuple_GET_ITEM(object, i), i)) return false;
            return true;
        }
    } else if (!PySequence_Check(object)) {
        PyErr_Format(PyExc_TypeError, "%s: %s must be a sequence %s, not %.200s", shown(where.function),
                     where.parameter, items, Py_TYPE(object)->tp_name);
        return false;
    }
    const Py_ssize_t size = PySequence_Size(object);
    if (size < 0) return false;
    if (size != count) {
        PyErr_Format(PyExc_ValueError, "%s: %s must have %zd items %s, not %zd", shown(where.function), where.parameter,
                     count, items, size);
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        Ref value = Ref::steal(PySequence_GetItem(object, i));
        if (!value || !item(value.get(), i)) return false;
    }
    return true;
}

// A coordinate: any real number (float(), as cffi reads a float field); a
// finite value beyond a float's range raises ValueError instead of turning
// into infinity.
bool float_item(PyObject* value, float& out, Where where, Py_ssize_t i) {
    double number;
    if (PyFloat_CheckExact(value)) {
        number = PyFloat_AS_DOUBLE(value);
    } else {
        // An exact int is read without the float object that float() makes.
        number = PyLong_CheckExact(value) ? PyLong_AsDouble(value) : PyFloat_AsDouble(value);
        if (number == -1.0 && PyErr_Occurred()) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "%s: %s[%zd] must be a number, not %.200s", shown(where.function),
                             where.parameter, i, Py_TYPE(value)->tp_name);
            } else if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_ValueError, "%s: %s[%zd] is too large for a 32-bit float", shown(where.function),
                             where.parameter, i);
            }
            return false;
        }
    }
    if (std::isfinite(number) && std::fabs(number) > static_cast<double>(FLT_MAX)) {
        PyErr_Format(PyExc_ValueError, "%s: %s[%zd] is too large for a 32-bit float", shown(where.function),
                     where.parameter, i);
        return false;
    }
    out = static_cast<float>(number);
    return true;
}

// A colour channel: an integer (int, bool, or anything with __index__) of
// 0..255. Floats are refused (TypeError) and other integers raise
// ValueError; nothing wraps.
bool channel_item(PyObject* value, unsigned char& out, Where where, Py_ssize_t i) {
    Ref index;
    PyObject* number = value;
    if (!PyLong_Check(value)) {
        index = Ref::steal(PyNumber_Index(value));
        if (!index) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "%s: %s[%zd] must be an integer of 0..255, not %.200s",
                             shown(where.function), where.parameter, i, Py_TYPE(value)->tp_name);
            }
            return false;
        }
        number = index.get();
    }
    int overflow = 0;
    const long channel = PyLong_AsLongAndOverflow(number, &overflow);
    if (channel == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || channel < 0 || channel > 255) {
        PyErr_Format(PyExc_ValueError, "%s: %s[%zd] is %R, outside 0..255", shown(where.function), where.parameter, i,
                     number);
        return false;
    }
    out = static_cast<unsigned char>(channel);
    return true;
}

template <std::size_t count>
bool to_floats(const Binding& binding, StructIndex index, PyObject* object, float (&out)[count], Where where,
               const char* items, const char* expected) {
    if (!PyTuple_CheckExact(object) && is_cdata(binding, object)) {
        static_assert(sizeof(rl::Vector2) == 2 * sizeof(float) && sizeof(rl::Rectangle) == 4 * sizeof(float));
        return from_cdata(binding, index, object, out, where, expected);
    }
    return for_items(object, count, where, items,
                     [&](PyObject* value, Py_ssize_t i) { return float_item(value, out[i], where, i); });
}

}  // namespace

bool to_matrix_floats(const Binding& binding, PyObject* object, float (&out)[16], Where where) {
    if (is_cdata(binding, object)) {
        if (reinterpret_cast<CDataHead*>(object)->c_type == binding.ctype(matrix_struct)) {
            rl::Matrix matrix;
            if (!from_cdata(binding, matrix_struct, object, &matrix, where, "a raylib Matrix")) return false;
            const float values[16] = {matrix.m0,  matrix.m1,  matrix.m2,  matrix.m3, matrix.m4,  matrix.m5,
                                      matrix.m6,  matrix.m7,  matrix.m8,  matrix.m9, matrix.m10, matrix.m11,
                                      matrix.m12, matrix.m13, matrix.m14, matrix.m15};
            std::memcpy(out, values, sizeof values);
            return true;
        }
        // An array or pointer of floats, read as rlgl reads it.
        const float* values = nullptr;
        if (binding.to_c(reinterpret_cast<char*>(&values), reinterpret_cast<CTypeDescr*>(binding.float_pointer.get()),
                         object) < 0) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "%s: %s must be a raylib Matrix, floats or 16 numbers, not %R",
                             shown(where.function), where.parameter, object);
            }
            return false;
        }
        if (values == nullptr) {
            PyErr_Format(PyExc_ValueError, "%s: %s is NULL", shown(where.function), where.parameter);
            return false;
        }
        std::memcpy(out, values, sizeof out);
        return true;
    }
    return for_items(object, 16, where, "of a matrix",
                     [&](PyObject* value, Py_ssize_t i) { return float_item(value, out[i], where, i); });
}

bool to_vector2(const Binding& binding, PyObject* object, rl::Vector2& out, Where where) {
    float xy[2];
    if (!to_floats(binding, vector2_struct, object, xy, where, "(x, y)", "a sequence (x, y) or a raylib Vector2"))
        return false;
    out = {xy[0], xy[1]};
    return true;
}

bool to_rectangle(const Binding& binding, PyObject* object, rl::Rectangle& out, Where where) {
    float xywh[4];
    if (!to_floats(binding, rectangle_struct, object, xywh, where, "(x, y, width, height)",
                   "a sequence (x, y, width, height) or a raylib Rectangle"))
        return false;
    out = {xywh[0], xywh[1], xywh[2], xywh[3]};
    return true;
}

// None stands for `if_none`: white as a tint, blank as a clear colour.
bool to_color(const Binding& binding, PyObject* object, rl::Color& out, rl::Color if_none, Where where) {
    if (object == Py_None) {
        out = if_none;
        return true;
    }
    if (!PyTuple_CheckExact(object) && is_cdata(binding, object))
        return from_cdata(binding, color_struct, object, &out, where, "a sequence (r, g, b, a) or a raylib Color");
    unsigned char rgba[4];
    if (!for_items(object, 4, where, "(r, g, b, a)",
                   [&](PyObject* value, Py_ssize_t i) { return channel_item(value, rgba[i], where, i); }))
        return false;
    out = {rgba[0], rgba[1], rgba[2], rgba[3]};
    return true;
}

namespace {

// An exact int that fits a machine word, or an exact float.
bool plain_number(PyObject* value, double& out) {
    if (PyFloat_CheckExact(value)) {
        out = PyFloat_AS_DOUBLE(value);
        return true;
    }
    if (PyLong_CheckExact(value) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(value))) {
        out = static_cast<double>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(value)));
        return true;
    }
    return false;
}

template <std::size_t count>
bool plain_floats(PyObject* object, float (&out)[count]) {
    if (!PyTuple_CheckExact(object) || PyTuple_GET_SIZE(object) != static_cast<Py_ssize_t>(count)) return false;
    for (std::size_t i = 0; i < count; ++i) {
        double number;
        if (!plain_number(PyTuple_GET_ITEM(object, static_cast<Py_ssize_t>(i)), number) || !plain_float(number, out[i]))
            return false;
    }
    return true;
}

}  // namespace

bool plain_float(double value, float& out) {
    // Beyond a float's range the ordinary conversion raises OverflowError.
    if (std::isfinite(value) && std::fabs(value) > static_cast<double>(FLT_MAX)) return false;
    out = static_cast<float>(value);
    return true;
}

bool plain_vector2(PyObject* object, rl::Vector2& out) {
    float xy[2];
    if (!plain_floats(object, xy)) return false;
    out = {xy[0], xy[1]};
    return true;
}

bool plain_rectangle(PyObject* object, rl::Rectangle& out) {
    float xywh[4];
    if (!plain_floats(object, xywh)) return false;
    out = {xywh[0], xywh[1], xywh[2], xywh[3]};
    return true;
}

bool plain_color(PyObject* object, rl::Color& out) {
    if (!PyTuple_CheckExact(object) || PyTuple_GET_SIZE(object) != 4) return false;
    unsigned char rgba[4];
    for (Py_ssize_t i = 0; i < 4; ++i) {
        PyObject* value = PyTuple_GET_ITEM(object, i);
        if (!PyLong_CheckExact(value) || !PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(value)))
            return false;
        const Py_ssize_t channel = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(value));
        if (channel < 0 || channel > 255) return false;
        rgba[i] = static_cast<unsigned char>(channel);
    }
    out = {rgba[0], rgba[1], rgba[2], rgba[3]};
    return true;
}

}  // namespace kelo_raylib::native
