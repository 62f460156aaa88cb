// Access to a KlRenderTexture record: the casts, storing a field, the size
// vector, and the loaded guard of the checked operations.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/klrendertex/private/state.h"

namespace klrt {

inline KlRenderTextureObject* record(PyObject* object) { return reinterpret_cast<KlRenderTextureObject*>(object); }

// The record's reserved field: set once destruction's release step has run,
// so that it runs once whichever of the finaliser, the collector's clear or
// the deallocation reaches it first.
inline int& released(KlRenderTextureObject* self) { return self->reserved; }
inline PyObject* object(KlRenderTextureObject* self) { return reinterpret_cast<PyObject*>(self); }

// Store a new owned reference in a record field, releasing the old object
// only after the new one is in place (its release may run code that reads the
// record).
inline void store_field(PyObject*& field, kl::Ref value) {
    PyObject* old = field;
    field = value.release();
    Py_XDECREF(old);
}

// The loaded guard: AssertionError "Render texture not loaded" while
// assertions were enabled at start-up and `loaded` is 0.
inline bool check_loaded(KlRenderTextureObject* self) {
    if (!state.assertions_enabled || self->loaded) [[likely]]
        return true;
    PyErr_SetString(PyExc_AssertionError, "Render texture not loaded");
    return false;
}

// The size vector's record, or null with AttributeError (named after the
// field that was wanted) while `size` is None.
inline KlVector2Object* size_vector(KlRenderTextureObject* self, const char* field) {
    if (self->size != Py_None) [[likely]]
        return reinterpret_cast<KlVector2Object*>(self->size);
    PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%s'", field);
    return nullptr;
}

}  // namespace klrt
