// kelo_ui.fast.klshader.klshader: a shader program id and its uniform
// locations. This stand-in loads no program: it holds an id, and no locations.
#include "kelo_ui/fast/klshader/klshader.h"

#include <climits>

#include "kelo_ui/fast/runtime/args.h"
#include "kelo_ui/fast/runtime/module_def.h"
#include "kelo_ui/fast/runtime/native_type.h"
#include "kelo_ui/fast/runtime/ref.h"
#include "kelo_ui/fast/runtime/value_type.h"

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

const char* const shader_params[] = {"id"};
const kl::Signature shader_signature = kl::make_signature("KlShader", shader_params, 0);

int shader_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* given = nullptr;  // null: not given, 0
    if (!kl::bind_call_arguments(shader_signature, args, kwargs, &given)) return -1;
    unsigned int id = 0;
    if (given && !to_id(given, id)) return -1;
    as_shader(self)->id = id;
    return 0;
}

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
    return kl::reduce_value(self, kl::Ref::steal(Py_BuildValue("(I)", as_shader(self)->id)));
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
    .tp_dealloc = kl::dealloc_value,
    .tp_repr = shader_repr,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = PyDoc_STR("KlShader(id=0)\n--\n\nA shader program id."),
    .tp_methods = shader_methods,
    .tp_getset = shader_getset,
    .tp_init = shader_init,
    .tp_new = shader_tp_new,
};
#pragma GCC diagnostic pop

int shader_exec(PyObject* module) {
    return kl::publish_native_type(module, &KlShaderType, &shader_vtable, "KlShader") ? 0 : -1;
}

kl::ModuleDefinition shader_module({.name = "kelo_ui.fast.klshader.klshader", .doc = "The toolkit's shader type.", .exec = shader_exec});

}  // namespace

PyMODINIT_FUNC PyInit_klshader() { return shader_module.init(); }
