#include "kelo_ui/fast/runtime/imports.h"

namespace kl {

Ref import_module(PyObject* name, PyObject* globals, PyObject* fromlist) {
    return Ref::steal(PyImport_ImportModuleLevelObject(name, globals, nullptr, fromlist, 0));
}

Ref import_from(PyObject* module, PyObject* name) {
    PyObject* value = nullptr;
    if (PyObject_GetOptionalAttr(module, name, &value) != 0) return Ref::steal(value);
    // A submodule that is imported but not (yet) bound on its package. A
    // module without a name has none; any other error of the lookup
    // (MemoryError, KeyboardInterrupt, ...) is the import's failure.
    PyObject* raw_name = nullptr;
    if (PyObject_GetOptionalAttrString(module, "__name__", &raw_name) < 0) return {};
    Ref module_name = Ref::steal(raw_name);
    if (module_name) {
        Ref full_name = Ref::steal(PyUnicode_FromFormat("%S.%U", module_name.get(), name));
        if (!full_name) return {};
        Ref submodule = Ref::steal(PyImport_GetModule(full_name.get()));
        if (submodule) return submodule;
        if (PyErr_Occurred()) return {};
    }
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    return {};
}

Ref import_type(const char* module_name, const char* type_name, std::size_t expected_size) {
    Ref module = Ref::steal(PyImport_ImportModule(module_name));
    if (!module) return {};
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), type_name));
    if (!type) return {};
    if (!PyType_Check(type.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, type_name);
        return {};
    }
    const Py_ssize_t basic_size = type.as<PyTypeObject>()->tp_basicsize;
    Py_ssize_t item_size = type.as<PyTypeObject>()->tp_itemsize;
    // A variable-size record is at least one aligned item longer.
    constexpr Py_ssize_t alignment = alignof(void*);
    if (item_size > 0 && item_size < alignment) item_size = alignment;
    if (static_cast<std::size_t>(basic_size + item_size) < expected_size) {
        PyErr_Format(PyExc_ValueError,
                     "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C "
                     "header, got %zd from PyObject",
                     module_name, type_name, static_cast<Py_ssize_t>(expected_size), basic_size + item_size);
        return {};
    }
    if (static_cast<std::size_t>(basic_size) > expected_size) {
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 0,
                             "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from "
                             "C header, got %zd from PyObject",
                             module_name, type_name, static_cast<Py_ssize_t>(expected_size), basic_size) < 0) {
            return {};
        }
    }
    return type;
}

void* get_vtable(PyTypeObject* type) {
    Ref dict = Ref::steal(PyType_GetDict(type));
    if (!dict) return nullptr;
    Ref key = Ref::steal(PyUnicode_FromString("__pyx_vtable__"));
    if (!key) return nullptr;
    Ref capsule = Ref::steal(PyObject_GetItem(dict.get(), key.get()));
    if (!capsule) return nullptr;
    void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
    if (table == nullptr && !PyErr_Occurred()) {
        PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
    }
    return table;
}

void* import_function(PyObject* module, const char* module_name, const char* name, const char* signature,
                      bool required) {
    Ref exports = Ref::steal(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!exports) return nullptr;
    Ref key = Ref::steal(PyUnicode_FromString(name));
    if (!key) return nullptr;
    Ref capsule = Ref::steal(PyObject_GetItem(exports.get(), key.get()));
    if (!capsule) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) return nullptr;
        PyErr_Clear();
        if (!required) return nullptr;
        PyErr_Format(PyExc_ImportError, "%.200s does not export expected C %.8s %.200s", module_name, "function", name);
        return nullptr;
    }
    if (!PyCapsule_IsValid(capsule.get(), signature)) {
        const char* given = PyCapsule_CheckExact(capsule.get()) ? PyCapsule_GetName(capsule.get()) : nullptr;
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "C %.8s %.200s.%.200s has wrong signature (expected %.500s, got %.500s)",
                     "function", module_name, name, signature, given ? given : "NULL");
        return nullptr;
    }
    return PyCapsule_GetPointer(capsule.get(), signature);
}

}  // namespace kl
