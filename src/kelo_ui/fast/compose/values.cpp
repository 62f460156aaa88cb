#include "kelo_ui/fast/compose/private/values.h"

#include <cmath>

#include "kelo_ui/fast/klrect/klrect.h"
#include "kelo_ui/fast/klvector2/klvector2.h"

namespace kelo_compose {
namespace {

const char* counts(int allowed) {
    return allowed == 2 ? "(x, y)" : allowed == 4 ? "(x, y, width, height)" : "(x, y) or (x, y, width, height)";
}

}  // namespace

bool finite_value(PyObject* object, double& out, Named named) {
    out = PyFloat_AsDouble(object);
    if (out == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "%s: %s must be a number, not %.200s", named.function, named.parameter,
                         Py_TYPE(object)->tp_name);
        }
        return false;
    }
    if (!std::isfinite(out)) {
        PyErr_Format(PyExc_ValueError, "%s: %s is %R; it must be finite", named.function, named.parameter, object);
        return false;
    }
    return true;
}

bool numbers(PyObject* object, double (&out)[4], int allowed, int& count, Named named) {
    if (PyObject_TypeCheck(object, state.vector2_type.get()) && allowed != 4) {
        const auto* vector = reinterpret_cast<const KlVector2Object*>(object);
        out[0] = vector->x, out[1] = vector->y, count = 2;
    } else if (PyObject_TypeCheck(object, state.rect_type.get()) && allowed != 2) {
        const auto* rect = reinterpret_cast<const KlRectObject*>(object);
        out[0] = rect->x, out[1] = rect->y, out[2] = rect->w, out[3] = rect->h, count = 4;
    } else if (PyTuple_Check(object) || PyList_Check(object)) {
        // A copy: converting an item may change a list.
        Ref items = Ref::steal(PySequence_Tuple(object));
        if (!items) return false;
        count = static_cast<int>(PyTuple_GET_SIZE(items.get()));
        if (!(count == allowed || (allowed == 6 && (count == 2 || count == 4)))) {
            PyErr_Format(PyExc_ValueError, "%s: %s must be %s, not %d numbers", named.function, named.parameter,
                         counts(allowed), count);
            return false;
        }
        for (int i = 0; i < count; ++i) {
            PyObject* item = PyTuple_GET_ITEM(items.get(), i);
            double value = PyFloat_AsDouble(item);
            if (value == -1.0 && PyErr_Occurred()) {
                if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                    PyErr_Clear();
                    PyErr_Format(PyExc_TypeError, "%s: %s[%d] must be a number, not %.200s", named.function,
                                 named.parameter, i, Py_TYPE(item)->tp_name);
                }
                return false;
            }
            out[i] = value;
        }
    } else {
        PyErr_Format(PyExc_TypeError, "%s: %s must be %s%s, not %.200s", named.function, named.parameter,
                     counts(allowed),
                     allowed == 2   ? " or a KlVector2"
                     : allowed == 4 ? " or a KlRect"
                                    : "",
                     Py_TYPE(object)->tp_name);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(out[i])) {
            PyErr_Format(PyExc_ValueError, "%s: %s[%d] is %R; it must be finite", named.function, named.parameter, i,
                         Ref::steal(PyFloat_FromDouble(out[i])).get());
            return false;
        }
    }
    return true;
}

bool box_value(PyObject* object, Box& out, Named named) {
    double values[4];
    int count = 0;
    if (!numbers(object, values, 4, count, named)) return false;
    if (values[2] < 0.0 || values[3] < 0.0) {
        PyErr_Format(PyExc_ValueError, "%s: %s has a negative width or height", named.function, named.parameter);
        return false;
    }
    // Whole pixels: the box from the left and top edges, rounded down, its
    // size whole pixels too. Its edges (not its corner and size apart, which
    // would move its far edge) are held far past any scene, near enough that
    // no edge summed from them overflows an int.
    constexpr double most = 1 << 29;
    const auto held = [](double value) { return std::fmax(-most, std::fmin(most, value)); };
    const double x0 = std::floor(values[0]), y0 = std::floor(values[1]);
    const double x1 = held(x0 + std::trunc(values[2])), y1 = held(y0 + std::trunc(values[3]));
    out = {static_cast<int>(held(x0)), static_cast<int>(held(y0)), static_cast<int>(x1 - held(x0)),
           static_cast<int>(y1 - held(y0))};
    return true;
}

bool color_value(PyObject* object, rl::Color& out, rl::Color if_none, Named named) {
    if (object == Py_None) {
        out = if_none;
        return true;
    }
    if (!PyTuple_Check(object) && !PyList_Check(object)) {
        PyErr_Format(PyExc_TypeError, "%s: %s must be None or (r, g, b, a), not %.200s", named.function,
                     named.parameter, Py_TYPE(object)->tp_name);
        return false;
    }
    Ref items = Ref::steal(PySequence_Tuple(object));
    if (!items) return false;
    if (PyTuple_GET_SIZE(items.get()) != 4) {
        PyErr_Format(PyExc_ValueError, "%s: %s must have 4 items (r, g, b, a), not %zd", named.function,
                     named.parameter, PyTuple_GET_SIZE(items.get()));
        return false;
    }
    unsigned char channels[4];
    for (Py_ssize_t i = 0; i < 4; ++i) {
        PyObject* item = PyTuple_GET_ITEM(items.get(), i);
        Ref index = Ref::steal(PyNumber_Index(item));
        if (!index) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "%s: %s[%zd] must be an integer of 0..255, not %.200s", named.function,
                             named.parameter, i, Py_TYPE(item)->tp_name);
            }
            return false;
        }
        int overflow = 0;
        const long value = PyLong_AsLongAndOverflow(index.get(), &overflow);
        if (overflow != 0 || value < 0 || value > 255) {
            PyErr_Format(PyExc_ValueError, "%s: %s[%zd] is %R, outside 0..255", named.function, named.parameter, i,
                         index.get());
            return false;
        }
        channels[i] = static_cast<unsigned char>(value);
    }
    out = {channels[0], channels[1], channels[2], channels[3]};
    return true;
}

bool blend_value(PyObject* object, int& out, Named named) {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "%s: %s must be an integer, not %.200s", named.function, named.parameter,
                         Py_TYPE(object)->tp_name);
        }
        return false;
    }
    int overflow = 0;
    const long value = PyLong_AsLongAndOverflow(index.get(), &overflow);
    if (overflow != 0 || value < 0 || value > 7) {
        PyErr_Format(PyExc_ValueError, "%s: %s is %R, not one of raylib's blend modes (0 to 7)", named.function,
                     named.parameter, index.get());
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

PyObject* float_tuple(const double* values, int count) {
    Ref tuple = Ref::steal(PyTuple_New(count));
    if (!tuple) return nullptr;
    for (int i = 0; i < count; ++i) {
        PyObject* value = PyFloat_FromDouble(values[i]);
        if (value == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), i, value);
    }
    return tuple.release();
}

}  // namespace kelo_compose
