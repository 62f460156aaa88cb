// kelo_ui.fast.klrect.klrect: a rectangle of single-precision floats, the
// layout raylib uses for rectangles. Native callers read the record directly
// and make rectangles through slot 0 of the method table.
#include "kelo_ui/fast/klrect/klrect.h"

#include <cstddef>

#include "kelo_ui/fast/runtime/args.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/module_def.h"
#include "kelo_ui/fast/runtime/native_type.h"
#include "kelo_ui/fast/runtime/value_type.h"

namespace {

using kl::Ref;

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

const char* const rect_params[] = {"x", "y", "w", "h"};
const kl::Signature rect_signature = kl::make_signature("KlRect", rect_params, 0);

// Each coordinate: any number that float() accepts, rounded to single precision.
int rect_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* given[] = {nullptr, nullptr, nullptr, nullptr};  // null: not given, 0
    if (!kl::bind_call_arguments(rect_signature, args, kwargs, given)) return -1;
    static const char* const what[] = {"'x'", "'y'", "'w'", "'h'"};
    double values[] = {0.0, 0.0, 0.0, 0.0};
    for (int i = 0; i < 4; ++i)
        if (given[i] && !kl::to_number(given[i], "KlRect() argument ", what[i], values[i])) return -1;
    KlRectObject* rect = as_rect(self);
    rect->x = kl::to_single(values[0]);
    rect->y = kl::to_single(values[1]);
    rect->w = kl::to_single(values[2]);
    rect->h = kl::to_single(values[3]);
    return 0;
}

// (x, y, w, h) as Python floats, for repr and pickling.
PyObject* rect_fields(PyObject* self) {
    KlRectObject* rect = as_rect(self);
    return Py_BuildValue("(dddd)", double(rect->x), double(rect->y), double(rect->w), double(rect->h));
}

PyObject* rect_repr(PyObject* self) { return kl::repr_value(self, Ref::steal(rect_fields(self))); }

PyObject* rect_reduce(PyObject* self, PyObject*) { return kl::reduce_value(self, Ref::steal(rect_fields(self))); }

PyObject* rect_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, &KlRectType)) Py_RETURN_NOTIMPLEMENTED;
    KlRectObject* a = as_rect(self);
    KlRectObject* b = as_rect(other);
    bool equal = a->x == b->x && a->y == b->y && a->w == b->w && a->h == b->h;
    return PyBool_FromLong(equal == (op == Py_EQ));
}

const kl::NumberField x_field{offsetof(KlRectObject, x), "KlRect"};
const kl::NumberField y_field{offsetof(KlRectObject, y), "KlRect"};
const kl::NumberField w_field{offsetof(KlRectObject, w), "KlRect"};
const kl::NumberField h_field{offsetof(KlRectObject, h), "KlRect"};

PyGetSetDef rect_getset[] = {
    kl::number_field<float>("x", "left edge", x_field),
    kl::number_field<float>("y", "top edge", y_field),
    kl::number_field<float>("w", "width", w_field),
    kl::number_field<float>("h", "height", h_field),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef rect_methods[] = {
    {"__reduce__", rect_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// Designated initialisers name only the slots in use; the rest stay zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject KlRectType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.klrect.klrect.KlRect",
    .tp_basicsize = sizeof(KlRectObject),
    .tp_itemsize = 0,
    .tp_dealloc = kl::dealloc_value,
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

int rect_exec(PyObject* module) {
    return kl::publish_native_type(module, &KlRectType, &rect_vtable, "KlRect") ? 0 : -1;
}

kl::ModuleDefinition rect_module({.name = "kelo_ui.fast.klrect.klrect", .doc = "The toolkit's rectangle type.", .exec = rect_exec});

}  // namespace

PyMODINIT_FUNC PyInit_klrect() { return rect_module.init(); }
