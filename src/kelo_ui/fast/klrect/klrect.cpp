// kelo_ui.fast.klrect.klrect: a rectangle of single-precision floats, the
// layout raylib uses for rectangles. Native callers read the record directly
// and make rectangles through slot 0 of the method table.
#include "kelo_ui/fast/klrect/klrect.h"

#include "kelo_ui/fast/runtime/ref.h"
#include "kelo_ui/fast/runtime/vtable.h"

#include <cstddef>

namespace {

PyObject* rect_new_native(float x, float y, float w, float h);

KlRectVTable rect_vtable = {rect_new_native};

extern PyTypeObject KlRectType;

KlRectObject* as_rect(PyObject* self) { return reinterpret_cast<KlRectObject*>(self); }

// Every instance, of this type or a subclass, carries the table pointer.
PyObject* rect_tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    KlRectObject* rect = as_rect(self);
    rect->vtab = &rect_vtable;
    rect->x = rect->y = rect->w = rect->h = 0.0f;
    return self;
}

PyObject* rect_new_native(float x, float y, float w, float h) {
    PyObject* self = rect_tp_new(&KlRectType, nullptr, nullptr);
    if (!self) return nullptr;
    KlRectObject* rect = as_rect(self);
    rect->x = x;
    rect->y = y;
    rect->w = w;
    rect->h = h;
    return self;
}

// A coordinate: any number that float() accepts, rounded to single precision.
bool to_float(PyObject* value, const char* what, float& out) {
    double number = PyFloat_AsDouble(value);
    if (number == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "%s must be a number, not %.200s", what, Py_TYPE(value)->tp_name);
        }
        return false;
    }
    out = static_cast<float>(number);
    return true;
}

int rect_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const keywords[] = {"x", "y", "w", "h", nullptr};
    static const char* const what[] = {
        "KlRect() argument 'x'", "KlRect() argument 'y'", "KlRect() argument 'w'", "KlRect() argument 'h'"};
    PyObject* given[4] = {nullptr, nullptr, nullptr, nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOO:KlRect", keywords, &given[0], &given[1], &given[2],
                                     &given[3]))
        return -1;
    float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 4; ++i)
        if (given[i] && !to_float(given[i], what[i], values[i])) return -1;
    KlRectObject* rect = as_rect(self);
    rect->x = values[0];
    rect->y = values[1];
    rect->w = values[2];
    rect->h = values[3];
    return 0;
}

void rect_dealloc(PyObject* self) { Py_TYPE(self)->tp_free(self); }

// Shared by the four attributes: `closure` is the field's offset.
float& field(PyObject* self, void* closure) {
    return *reinterpret_cast<float*>(reinterpret_cast<char*>(self) + reinterpret_cast<Py_ssize_t>(closure));
}

PyObject* get_field(PyObject* self, void* closure) { return PyFloat_FromDouble(field(self, closure)); }

int set_field(PyObject* self, PyObject* value, void* closure) {
    if (!value) {
        PyErr_SetString(PyExc_TypeError, "KlRect attributes cannot be deleted");
        return -1;
    }
    float number;
    if (!to_float(value, "KlRect coordinates", number)) return -1;
    field(self, closure) = number;
    return 0;
}

// (x, y, w, h) as Python floats, for repr and pickling.
PyObject* rect_fields(PyObject* self) {
    KlRectObject* rect = as_rect(self);
    return Py_BuildValue("(dddd)", double(rect->x), double(rect->y), double(rect->w), double(rect->h));
}

PyObject* rect_repr(PyObject* self) {
    kl::Ref name = kl::Ref::steal(PyType_GetName(Py_TYPE(self)));
    if (!name) return nullptr;
    kl::Ref fields = kl::Ref::steal(rect_fields(self));
    if (!fields) return nullptr;
    return PyUnicode_FromFormat("%U%R", name.get(), fields.get());
}

PyObject* rect_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, &KlRectType)) Py_RETURN_NOTIMPLEMENTED;
    KlRectObject* a = as_rect(self);
    KlRectObject* b = as_rect(other);
    bool equal = a->x == b->x && a->y == b->y && a->w == b->w && a->h == b->h;
    return PyBool_FromLong(equal == (op == Py_EQ));
}

// (type(self), (x, y, w, h)), plus the instance dictionary of a subclass when
// it holds anything.
PyObject* rect_reduce(PyObject* self, PyObject*) {
    kl::Ref args = kl::Ref::steal(rect_fields(self));
    if (!args) return nullptr;
    PyObject* raw_dict = nullptr;
    if (PyObject_GetOptionalAttrString(self, "__dict__", &raw_dict) < 0) return nullptr;
    kl::Ref dict = kl::Ref::steal(raw_dict);
    if (dict && PyDict_Check(dict.get()) && PyDict_GET_SIZE(dict.get()) > 0)
        return PyTuple_Pack(3, Py_TYPE(self), args.get(), dict.get());
    return PyTuple_Pack(2, Py_TYPE(self), args.get());
}

void* offset(std::size_t value) { return reinterpret_cast<void*>(value); }

PyGetSetDef rect_getset[] = {
    {"x", get_field, set_field, "left edge", offset(offsetof(KlRectObject, x))},
    {"y", get_field, set_field, "top edge", offset(offsetof(KlRectObject, y))},
    {"w", get_field, set_field, "width", offset(offsetof(KlRectObject, w))},
    {"h", get_field, set_field, "height", offset(offsetof(KlRectObject, h))},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef rect_methods[] = {
    {"__reduce__", rect_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// GCC counts the slots left out of a designated initializer as missing; they
// are meant to be zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject KlRectType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.klrect.klrect.KlRect",
    .tp_basicsize = sizeof(KlRectObject),
    .tp_itemsize = 0,
    .tp_dealloc = rect_dealloc,
    .tp_repr = rect_repr,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = PyDoc_STR("KlRect(x=0, y=0, w=0, h=0)\n--\n\nA rectangle of single-precision floats."),
    .tp_richcompare = rect_richcompare,
    .tp_methods = rect_methods,
    .tp_getset = rect_getset,
    .tp_init = rect_init,
    .tp_new = rect_tp_new,
};
#pragma GCC diagnostic pop

int rect_exec(PyObject* module) { return kl::add_native_type(module, &KlRectType, &rect_vtable, "KlRect"); }

PyModuleDef_Slot rect_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(rect_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef rect_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kelo_ui.fast.klrect.klrect",
    .m_doc = "The toolkit's rectangle type.",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = rect_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_klrect() { return PyModuleDef_Init(&rect_module); }
