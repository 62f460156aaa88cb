// kelo_ui.fast.klshader.klshader: a shader program id and its uniform
// locations. This stand-in loads no program: it holds an id, and no locations.
#include "kelo_ui/fast/klshader/klshader.h"

#include "kelo_ui/fast/runtime/ref.h"
#include "kelo_ui/fast/runtime/vtable.h"

#include <climits>

namespace {

unsigned int shader_get_id(KlShaderObject* self) { return self->id; }

KlShaderVTable shader_vtable = {shader_get_id};

KlShaderObject* as_shader(PyObject* self) { return reinterpret_cast<KlShaderObject*>(self); }

// Every instance, of this type or a subclass, carries the table pointer.
PyObject* shader_tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    as_shader(self)->vtab = &shader_vtable;
    as_shader(self)->id = 0;
    as_shader(self)->locs = nullptr;
    return self;
}

// An id: an integer (or an object with __index__) from 0 to UINT_MAX.
bool to_id(PyObject* value, unsigned int& out) {
    kl::Ref index = kl::Ref::steal(PyNumber_Index(value));
    if (!index) return false;
    unsigned long number = PyLong_AsUnsignedLong(index.get());
    if (number == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
    if (number > UINT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "KlShader id does not fit in an unsigned int");
        return false;
    }
    out = static_cast<unsigned int>(number);
    return true;
}

int shader_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* const keywords[] = {"id", nullptr};
    PyObject* given = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:KlShader", keywords, &given)) return -1;
    unsigned int id = 0;
    if (given && !to_id(given, id)) return -1;
    as_shader(self)->id = id;
    return 0;
}

void shader_dealloc(PyObject* self) { Py_TYPE(self)->tp_free(self); }

PyObject* get_id(PyObject* self, void*) { return PyLong_FromUnsignedLong(as_shader(self)->id); }

int set_id(PyObject* self, PyObject* value, void*) {
    if (!value) {
        PyErr_SetString(PyExc_TypeError, "KlShader attributes cannot be deleted");
        return -1;
    }
    unsigned int id;
    if (!to_id(value, id)) return -1;
    as_shader(self)->id = id;
    return 0;
}

PyObject* shader_repr(PyObject* self) {
    kl::Ref name = kl::Ref::steal(PyType_GetName(Py_TYPE(self)));
    if (!name) return nullptr;
    return PyUnicode_FromFormat("%U(id=%u)", name.get(), as_shader(self)->id);
}

// Only the id travels: the locations belong to a loaded program.
PyObject* shader_reduce(PyObject* self, PyObject*) {
    return Py_BuildValue("(O(I))", Py_TYPE(self), as_shader(self)->id);
}

PyGetSetDef shader_getset[] = {
    {"id", get_id, set_id, "shader program id", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef shader_methods[] = {
    {"__reduce__", shader_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// GCC counts the slots left out of a designated initializer as missing; they
// are meant to be zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject KlShaderType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.klshader.klshader.KlShader",
    .tp_basicsize = sizeof(KlShaderObject),
    .tp_itemsize = 0,
    .tp_dealloc = shader_dealloc,
    .tp_repr = shader_repr,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = PyDoc_STR("KlShader(id=0)\n--\n\nA shader program id."),
    .tp_methods = shader_methods,
    .tp_getset = shader_getset,
    .tp_init = shader_init,
    .tp_new = shader_tp_new,
};
#pragma GCC diagnostic pop

int shader_exec(PyObject* module) { return kl::add_native_type(module, &KlShaderType, &shader_vtable, "KlShader"); }

PyModuleDef_Slot shader_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(shader_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef shader_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kelo_ui.fast.klshader.klshader",
    .m_doc = "The toolkit's shader type.",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = shader_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_klshader() { return PyModuleDef_Init(&shader_module); }
