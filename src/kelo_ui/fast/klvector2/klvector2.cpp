// kelo_ui.fast.klvector2.klvector2: the 2-D vector of doubles that the toolkit
// uses for sizes and positions. Native callers read the record directly and
// make vectors through slot 0 of the method table.
#include "kelo_ui/fast/klvector2/klvector2.h"

#include "kelo_ui/fast/runtime/ref.h"
#include "kelo_ui/fast/runtime/vtable.h"

#include <cstddef>

namespace {

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

// A coordinate: any number that float() accepts; `what` names it in the error.
bool to_double(PyObject* value, const char* what, double& out) {
    out = PyFloat_AsDouble(value);
    if (out != -1.0 || !PyErr_Occurred()) return true;
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s must be a number, not %.200s", what, Py_TYPE(value)->tp_name);
    }
    return false;
}

int vector2_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const keywords[] = {"x", "y", nullptr};
    PyObject* x = nullptr;
    PyObject* y = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO:KlVector2", keywords, &x, &y)) return -1;
    double values[2] = {0.0, 0.0};
    if (x && !to_double(x, "KlVector2() argument 'x'", values[0])) return -1;
    if (y && !to_double(y, "KlVector2() argument 'y'", values[1])) return -1;
    as_vector(self)->x = values[0];
    as_vector(self)->y = values[1];
    return 0;
}

void vector2_dealloc(PyObject* self) { Py_TYPE(self)->tp_free(self); }

// Shared by the x and y attributes: `closure` is the field's offset.
double& field(PyObject* self, void* closure) {
    return *reinterpret_cast<double*>(reinterpret_cast<char*>(self) + reinterpret_cast<Py_ssize_t>(closure));
}

PyObject* get_field(PyObject* self, void* closure) { return PyFloat_FromDouble(field(self, closure)); }

int set_field(PyObject* self, PyObject* value, void* closure) {
    if (!value) {
        PyErr_SetString(PyExc_TypeError, "KlVector2 attributes cannot be deleted");
        return -1;
    }
    double number;
    if (!to_double(value, "KlVector2 coordinates", number)) return -1;
    field(self, closure) = number;
    return 0;
}

PyObject* vector2_repr(PyObject* self) {
    kl::Ref name = kl::Ref::steal(PyType_GetName(Py_TYPE(self)));
    if (!name) return nullptr;
    kl::Ref x = kl::Ref::steal(PyFloat_FromDouble(as_vector(self)->x));
    if (!x) return nullptr;
    kl::Ref y = kl::Ref::steal(PyFloat_FromDouble(as_vector(self)->y));
    if (!y) return nullptr;
    return PyUnicode_FromFormat("%U(%R, %R)", name.get(), x.get(), y.get());
}

PyObject* vector2_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, &KlVector2Type)) Py_RETURN_NOTIMPLEMENTED;
    bool equal = as_vector(self)->x == as_vector(other)->x && as_vector(self)->y == as_vector(other)->y;
    return PyBool_FromLong(equal == (op == Py_EQ));
}

// (type(self), (x, y)), plus the instance dictionary of a subclass when it
// holds anything, so that pickle and copy rebuild an equal object.
PyObject* vector2_reduce(PyObject* self, PyObject*) {
    kl::Ref args = kl::Ref::steal(Py_BuildValue("(dd)", as_vector(self)->x, as_vector(self)->y));
    if (!args) return nullptr;
    PyObject* raw_dict = nullptr;
    if (PyObject_GetOptionalAttrString(self, "__dict__", &raw_dict) < 0) return nullptr;
    kl::Ref dict = kl::Ref::steal(raw_dict);
    if (dict && PyDict_Check(dict.get()) && PyDict_GET_SIZE(dict.get()) > 0)
        return PyTuple_Pack(3, Py_TYPE(self), args.get(), dict.get());
    return PyTuple_Pack(2, Py_TYPE(self), args.get());
}

PyGetSetDef vector2_getset[] = {
    {"x", get_field, set_field, "horizontal component", reinterpret_cast<void*>(offsetof(KlVector2Object, x))},
    {"y", get_field, set_field, "vertical component", reinterpret_cast<void*>(offsetof(KlVector2Object, y))},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef vector2_methods[] = {
    {"__reduce__", vector2_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// GCC counts the slots left out of a designated initializer as missing; they
// are meant to be zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject KlVector2Type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.klvector2.klvector2.KlVector2",
    .tp_basicsize = sizeof(KlVector2Object),
    .tp_itemsize = 0,
    .tp_dealloc = vector2_dealloc,
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

int vector2_exec(PyObject* module) { return kl::add_native_type(module, &KlVector2Type, &vector2_vtable, "KlVector2"); }

PyModuleDef_Slot vector2_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(vector2_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef vector2_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kelo_ui.fast.klvector2.klvector2",
    .m_doc = "The toolkit's 2-D vector type.",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = vector2_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_klvector2() { return PyModuleDef_Init(&vector2_module); }
