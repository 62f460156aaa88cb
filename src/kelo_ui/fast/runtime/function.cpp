#include "kelo_ui/fast/runtime/function.h"

#include <cstddef>

namespace kl {
namespace {

FunctionObject* as_function(PyObject* object) { return reinterpret_cast<FunctionObject*>(object); }

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    FunctionObject* function = as_function(callable);
    if (function->usable != nullptr && !function->usable()) [[unlikely]]
        return nullptr;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (function->owner == nullptr) return function->entry(nullptr, args, nargs, kwnames);
    if (nargs < 1) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s", function->signature->name, "needs an argument");
        return nullptr;
    }
    PyObject* self = args[0];
    // Never read another object as this class's record.
    if (!PyObject_TypeCheck(self, function->owner)) [[unlikely]] {
        PyErr_Format(PyExc_TypeError, "descriptor '%s' for '%.100s' objects doesn't apply to a '%.100s' object",
                     function->signature->name, function->owner->tp_name, Py_TYPE(self)->tp_name);
        return nullptr;
    }
    return function->entry(self, args + 1, nargs - 1, kwnames);
}

PyObject* function_descr_get(PyObject* self, PyObject* instance, PyObject*) {
    if (instance == nullptr || instance == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, instance);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    FunctionObject* f = as_function(self);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->defaults);
    Py_VISIT(f->annotations);
    Py_VISIT(f->code);
    return 0;
}

// Breaks cycles through the fields Python code can set or fill. __name__ and
// __qualname__ may be str subclasses (and so in a cycle): they become the
// empty string, as for the interpreter's own functions. The call path needs
// none of these fields.
int function_clear(PyObject* self) {
    FunctionObject* f = as_function(self);
    Py_SETREF(f->name, Py_GetConstant(Py_CONSTANT_EMPTY_STR));
    Py_SETREF(f->qualname, Py_GetConstant(Py_CONSTANT_EMPTY_STR));
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->annotations);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->code);
    PyObject_GC_Del(self);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

// Pickled by reference, like any module-level or class-level function.
PyObject* function_reduce(PyObject* self, PyObject*) { return Py_NewRef(as_function(self)->qualname); }

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* get_field(PyObject* self, void* offset) {
    PyObject* value =
        *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + reinterpret_cast<std::size_t>(offset));
    return Py_NewRef(value ? value : Py_None);
}

int set_string_field(PyObject* self, PyObject* value, void* offset) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__name__ and __qualname__ must be set to a string object");
        return -1;
    }
    PyObject** slot =
        reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + reinterpret_cast<std::size_t>(offset));
    Py_SETREF(*slot, Py_NewRef(value));
    return 0;
}

int set_any_field(PyObject* self, PyObject* value, void* offset) {
    PyObject** slot =
        reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + reinterpret_cast<std::size_t>(offset));
    Py_SETREF(*slot, Py_NewRef(value ? value : Py_None));
    return 0;
}

PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

#define KL_FIELD(member) reinterpret_cast<void*>(offsetof(FunctionObject, member))

PyGetSetDef function_getset[] = {
    {"__name__", get_field, set_string_field, nullptr, KL_FIELD(name)},
    {"__qualname__", get_field, set_string_field, nullptr, KL_FIELD(qualname)},
    {"__module__", get_field, set_any_field, nullptr, KL_FIELD(module)},
    {"__doc__", get_field, set_any_field, nullptr, KL_FIELD(doc)},
    {"__defaults__", get_field, nullptr, nullptr, KL_FIELD(defaults)},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__annotations__", get_field, nullptr, nullptr, KL_FIELD(annotations)},
    {"__code__", get_field, nullptr, nullptr, KL_FIELD(code)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef KL_FIELD

bool type_ready = false;

}  // namespace

PyTypeObject FunctionType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kl_function_or_method",
    .tp_basicsize = sizeof(FunctionObject),
    .tp_dealloc = function_dealloc,
    .tp_vectorcall_offset = offsetof(FunctionObject, vectorcall),
    .tp_repr = function_repr,
    .tp_call = PyVectorcall_Call,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR,
    .tp_traverse = function_traverse,
    .tp_clear = function_clear,
    .tp_methods = function_methods,
    .tp_getset = function_getset,
    .tp_descr_get = function_descr_get,
};

bool ready_function_type() {
    if (type_ready) return true;
    if (PyType_Ready(&FunctionType) < 0) return false;
    type_ready = true;
    return true;
}

Ref make_code(const FunctionSpec& spec) {
    const Signature& sig = *spec.signature;
    const bool method = spec.owner != nullptr;
    const Py_ssize_t argcount = sig.count + (method ? 1 : 0);
    Ref varnames = Ref::steal(PyTuple_New(argcount));
    if (!varnames) return {};
    Py_ssize_t i = 0;
    if (method) {
        PyObject* self_name = PyUnicode_InternFromString("self");
        if (!self_name) return {};
        PyTuple_SET_ITEM(varnames.get(), i++, self_name);
    }
    for (Py_ssize_t p = 0; p < sig.count; ++p) {
        PyObject* param = PyUnicode_InternFromString(sig.params[p].name);
        if (!param) return {};
        PyTuple_SET_ITEM(varnames.get(), i++, param);
    }
    Ref name = Ref::steal(PyUnicode_FromString(sig.name));
    Ref qualname = Ref::steal(PyUnicode_FromString(spec.qualname));
    Ref empty_bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, 0));
    Ref empty_tuple = Ref::steal(PyTuple_New(0));
    if (!name || !qualname || !empty_bytes || !empty_tuple) return {};
    return Ref::steal(reinterpret_cast<PyObject*>(PyUnstable_Code_NewWithPosOnlyArgs(
        static_cast<int>(argcount), 0, 0, static_cast<int>(argcount), 0, CO_OPTIMIZED | CO_NEWLOCALS, empty_bytes.get(),
        empty_tuple.get(), empty_tuple.get(), varnames.get(), empty_tuple.get(), empty_tuple.get(), spec.filename,
        name.get(), qualname.get(), 1, empty_bytes.get(), empty_bytes.get())));
}

Ref make_function(const FunctionSpec& spec, PyObject* code) {
    Ref name = Ref::steal(PyUnicode_InternFromString(spec.signature->name));
    Ref qualname = Ref::steal(PyUnicode_FromString(spec.qualname));
    Ref annotations = spec.annotations ? Ref::newref(spec.annotations) : Ref::steal(PyDict_New());
    if (!name || !qualname || !annotations) return {};
    FunctionObject* f = PyObject_GC_New(FunctionObject, &FunctionType);
    if (f == nullptr) return {};
    f->vectorcall = function_vectorcall;
    f->entry = spec.entry;
    f->owner = spec.owner;
    f->signature = spec.signature;
    f->usable = spec.usable;
    f->name = name.release();
    f->qualname = qualname.release();
    f->module = Py_NewRef(spec.module);
    f->doc = Py_NewRef(Py_None);
    f->defaults = Py_NewRef(spec.defaults ? spec.defaults : Py_None);
    f->annotations = annotations.release();
    f->code = Py_NewRef(code);
    PyObject_GC_Track(f);
    return Ref::steal(reinterpret_cast<PyObject*>(f));
}

bool has_native_entry(PyObject* callable, FunctionEntry entry) {
    if (PyObject_TypeCheck(callable, &FunctionType)) return as_function(callable)->entry == entry;
    if (PyCFunction_Check(callable)) {
        return PyCFunction_GET_FUNCTION(callable) == reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
    }
    return false;
}

}  // namespace kl
