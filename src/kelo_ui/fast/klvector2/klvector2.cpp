// kelo_ui.fast.klvector2.klvector2: the 2-D vector of doubles that the toolkit
// uses for sizes and positions. Native callers read the record directly and
// make vectors through slot 0 of the method table.
#include "kelo_ui/fast/klvector2/klvector2.h"

#include <cstddef>

#include "kelo_ui/fast/runtime/args.h"
#include "kelo_ui/fast/runtime/module_def.h"
#include "kelo_ui/fast/runtime/native_type.h"
#include "kelo_ui/fast/runtime/value_type.h"

namespace {

using kl::Ref;

PyObject* vector2_new_native(double x, double y);

KlVector2VTable vector2_vtable = {vector2_new_native};

extern PyTypeObject KlVector2Type;

KlVector2Object* as_vector(PyObject* self) { return reinterpret_cast<KlVector2Object*>(self); }

// Every instance, of this type or a subclass, carries the table pointer.
PyObject* vector2_tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    as_vector(self)->vtab = &vector2_vtable;
    as_vector(self)->x = 0.0;
    as_vector(self)->y = 0.0;
    return self;
}

PyObject* vector2_new_native(double x, double y) {
    PyObject* self = vector2_tp_new(&KlVector2Type, nullptr, nullptr);
    if (!self) return nullptr;
    as_vector(self)->x = x;
    as_vector(self)->y = y;
    return self;
}

const char* const vector2_params[] = {"x", "y"};
const kl::Signature vector2_signature = kl::make_signature("KlVector2", vector2_params, 0);

int vector2_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* given[] = {nullptr, nullptr};  // null: not given, 0.0
    if (!kl::bind_call_arguments(vector2_signature, args, kwargs, given)) return -1;
    static const char* const what[] = {"'x'", "'y'"};
    double values[] = {0.0, 0.0};
    for (int i = 0; i < 2; ++i)
        if (given[i] && !kl::to_number(given[i], "KlVector2() argument ", what[i], values[i])) return -1;
    as_vector(self)->x = values[0];
    as_vector(self)->y = values[1];
    return 0;
}

PyObject* vector2_fields(PyObject* self) { return Py_BuildValue("(dd)", as_vector(self)->x, as_vector(self)->y); }

PyObject* vector2_repr(PyObject* self) { return kl::repr_value(self, Ref::steal(vector2_fields(self))); }

PyObject* vector2_reduce(PyObject* self, PyObject*) { return kl::reduce_value(self, Ref::steal(vector2_fields(self))); }

PyObject* vector2_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, &KlVector2Type)) Py_RETURN_NOTIMPLEMENTED;
    bool equal = as_vector(self)->x == as_vector(other)->x && as_vector(self)->y == as_vector(other)->y;
    return PyBool_FromLong(equal == (op == Py_EQ));
}

const kl::NumberField x_field{offsetof(KlVector2Object, x), "KlVector2"};
const kl::NumberField y_field{offsetof(KlVector2Object, y), "KlVector2"};

PyGetSetDef vector2_getset[] = {
    kl::number_field<double>("x", "horizontal component", x_field),
    kl::number_field<double>("y", "vertical component", y_field),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef vector2_methods[] = {
    {"__reduce__", vector2_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// Designated initialisers name only the slots in use; the rest stay zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject KlVector2Type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.klvector2.klvector2.KlVector2",
    .tp_basicsize = sizeof(KlVector2Object),
    .tp_itemsize = 0,
    .tp_dealloc = kl::dealloc_value,
    .tp_repr = vector2_repr,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = PyDoc_STR("KlVector2(x=0.0, y=0.0)\n--\n\nA 2-D vector of doubles."),
    .tp_richcompare = vector2_richcompare,
    .tp_methods = vector2_methods,
    .tp_getset = vector2_getset,
    .tp_init = vector2_init,
    .tp_new = vector2_tp_new,
};
#pragma GCC diagnostic pop

int vector2_exec(PyObject* module) {
    return kl::publish_native_type(module, &KlVector2Type, &vector2_vtable, "KlVector2") ? 0 : -1;
}

kl::ModuleDefinition vector2_module({.name = "kelo_ui.fast.klvector2.klvector2", .doc = "The toolkit's 2-D vector type.", .exec = vector2_exec});

}  // namespace

PyMODINIT_FUNC PyInit_klvector2() { return vector2_module.init(); }
