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

// The native method table, in slot order; the order is part of the
// interface: other modules call by position. Each row is
// X(name, result, parameters); the table below, the module's own
// declarations of its slots and its filling of the table are all made from
// this one list.
//
//  0 c_fast_blit: draw kl_texture into the backend's current target at dest,
//    (x, y) or (x, y, width, height); no tests, no scopes.
//  1 c_fast_blit_texture: draw any texture through the window's display; no
//    tests, no scopes.
//  2 c_fast_clear: clear the backend's current target; no tests.
//  3 c_clear: clear this render texture inside its own texture mode; no tests.
//  4-6 clear, fast_clear, fill: checked clears (fill is a second name for
//    clear).
//  7 kill: release the render texture.
//  8 get_rect: a new reference to a KlRect (0, 0, width, height), or None
//    from an override.
//  9, 10 get_height, get_width: the size.
//  11 new_ (static): a new loaded render target of the given size, which must
//    be a vector (never None); a new reference.
#define KL_RENDER_TEXTURE_SLOTS(X)                                                                                    \
    X(c_fast_blit, void,                                                                                              \
      (KlRenderTextureObject * self, KlRenderTextureObject * kl_texture, PyObject * dest, int flip, PyObject* color)) \
    X(c_fast_blit_texture, void,                                                                                      \
      (KlRenderTextureObject * self, PyObject * texture, PyObject * dest, int flip, PyObject* color))                 \
    X(c_fast_clear, void, (KlRenderTextureObject * self, PyObject * color))                                           \
    X(c_clear, void, (KlRenderTextureObject * self, PyObject * color))                                                \
    X(clear, void, (KlRenderTextureObject * self, PyObject * color, int skip_dispatch))                               \
    X(fast_clear, void, (KlRenderTextureObject * self, PyObject * color, int skip_dispatch))                          \
    X(fill, void, (KlRenderTextureObject * self, PyObject * color, int skip_dispatch))                                \
    X(kill, void, (KlRenderTextureObject * self, int skip_dispatch))                                                  \
    X(get_rect, PyObject*, (KlRenderTextureObject * self, int skip_dispatch))                                         \
    X(get_height, double, (KlRenderTextureObject * self, int skip_dispatch))                                          \
    X(get_width, double, (KlRenderTextureObject * self, int skip_dispatch))                                           \
    X(new_, KlRenderTextureObject*, (KlVector2Object * size))

struct KlRenderTextureVTable {
#define KL_RENDER_TEXTURE_SLOT_POINTER(name, result, parameters) result(*name) parameters;
    KL_RENDER_TEXTURE_SLOTS(KL_RENDER_TEXTURE_SLOT_POINTER)
#undef KL_RENDER_TEXTURE_SLOT_POINTER
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
