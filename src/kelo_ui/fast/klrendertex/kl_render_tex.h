// KlRenderTexture: an off-screen render target of the kelo_ui toolkit.
//
// Other native modules include this header to read the record and to call
// the class's methods by slot through its native method table, published in
// the class's dictionary as the unnamed capsule "__pyx_vtable__":
//
//     PyObject* capsule = PyDict_GetItemString(type_dict, "__pyx_vtable__");
//     auto* table = static_cast<KlRenderTextureVTable*>(PyCapsule_GetPointer(capsule, nullptr));
//     double width = table->get_width(rt, 0);
//     if (PyErr_Occurred()) ...
//
// Every slot reports failure by leaving a Python exception set: the callers
// test for one after every call. get_width and get_height then return 0.0,
// get_rect and new_ null. Slots with a skip-dispatch flag honour a Python
// subclass's override of the method when the flag is 0. The caller must hold
// the interpreter's global lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/klvector2/klvector2.h"

struct KlRenderTextureObject;

// Slot order is part of the interface: other modules call by position.
struct KlRenderTextureVTable {
    // 0: draw kl_texture into the backend's current target at dest, (x, y)
    // or (x, y, width, height); no tests, no scopes.
    void (*c_fast_blit)(KlRenderTextureObject* self, KlRenderTextureObject* kl_texture, PyObject* dest, int flip,
                        PyObject* color);
    // 1: draw any texture through the window's display; no tests, no scopes.
    void (*c_fast_blit_texture)(KlRenderTextureObject* self, PyObject* texture, PyObject* dest, int flip,
                                PyObject* color);
    // 2: clear the backend's current target; no tests.
    void (*c_fast_clear)(KlRenderTextureObject* self, PyObject* color);
    // 3: clear this render texture inside its own texture mode; no tests.
    void (*c_clear)(KlRenderTextureObject* self, PyObject* color);
    // 4-6: checked clears (fill is a second name for clear).
    void (*clear)(KlRenderTextureObject* self, PyObject* color, int skip_dispatch);
    void (*fast_clear)(KlRenderTextureObject* self, PyObject* color, int skip_dispatch);
    void (*fill)(KlRenderTextureObject* self, PyObject* color, int skip_dispatch);
    // 7: release the render texture.
    void (*kill)(KlRenderTextureObject* self, int skip_dispatch);
    // 8: a new reference to a KlRect (0, 0, width, height), or None from an
    // override.
    PyObject* (*get_rect)(KlRenderTextureObject* self, int skip_dispatch);
    // 9, 10: the size.
    double (*get_height)(KlRenderTextureObject* self, int skip_dispatch);
    double (*get_width)(KlRenderTextureObject* self, int skip_dispatch);
    // 11 (static): a new loaded render target of the given size, which must
    // be a vector (never None); a new reference.
    KlRenderTextureObject* (*new_)(KlVector2Object* size);
};

struct KlRenderTextureObject {
    PyObject_HEAD
    KlRenderTextureVTable* vtab;
    PyObject* render_texture;  // owned; the raylib render texture, or None
    PyObject* size;            // owned; a KlVector2 (width x, height y), or None
    int loaded;                // 1 while render_texture is held and not killed
    int reserved;              // kl_render_tex's own; in what would be padding
};
static_assert(sizeof(void*) != 8 || sizeof(KlRenderTextureObject) == 48, "KlRenderTexture record layout");
