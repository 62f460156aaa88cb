// The native slots and Python-visible entries of KlRenderTexture, and the
// type slots, declared for the files that define them and for start-up,
// which fills the native method table and builds the function objects.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/runtime/args.h"

namespace klrt {

// Native slots, in table order (kl_render_tex.h documents them).
void c_fast_blit(KlRenderTextureObject* self, KlRenderTextureObject* kl_texture, PyObject* dest, int flip,
                 PyObject* color);
void c_fast_blit_texture(KlRenderTextureObject* self, PyObject* texture, PyObject* dest, int flip, PyObject* color);
void c_fast_clear(KlRenderTextureObject* self, PyObject* color);
void c_clear(KlRenderTextureObject* self, PyObject* color);
void clear(KlRenderTextureObject* self, PyObject* color, int skip_dispatch);
void fast_clear(KlRenderTextureObject* self, PyObject* color, int skip_dispatch);
void fill(KlRenderTextureObject* self, PyObject* color, int skip_dispatch);
void kill(KlRenderTextureObject* self, int skip_dispatch);
PyObject* get_rect(KlRenderTextureObject* self, int skip_dispatch);
double get_height(KlRenderTextureObject* self, int skip_dispatch);
double get_width(KlRenderTextureObject* self, int skip_dispatch);
KlRenderTextureObject* new_(KlVector2Object* size);

// Python-visible entries (kl::FunctionEntry) and their parameters.
#define KLRT_DECLARE_ENTRY(name)                                                                  \
    PyObject* py_##name(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames); \
    extern const kl::Signature sig_##name

KLRT_DECLARE_ENTRY(from_rl_render_texture);
KLRT_DECLARE_ENTRY(blit);
KLRT_DECLARE_ENTRY(fast_blit);
KLRT_DECLARE_ENTRY(blit_texture);
KLRT_DECLARE_ENTRY(fast_blit_texture);
KLRT_DECLARE_ENTRY(clear);
KLRT_DECLARE_ENTRY(fast_clear);
KLRT_DECLARE_ENTRY(fill);
KLRT_DECLARE_ENTRY(kill);
KLRT_DECLARE_ENTRY(get_rect);
KLRT_DECLARE_ENTRY(get_height);
KLRT_DECLARE_ENTRY(get_width);
KLRT_DECLARE_ENTRY(copy);
KLRT_DECLARE_ENTRY(enter);
KLRT_DECLARE_ENTRY(exit);
KLRT_DECLARE_ENTRY(fast_blits);
KLRT_DECLARE_ENTRY(blits);
KLRT_DECLARE_ENTRY(reduce);
KLRT_DECLARE_ENTRY(setstate);
KLRT_DECLARE_ENTRY(unpickle);

#undef KLRT_DECLARE_ENTRY

// Type slots.
PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs);
void tp_dealloc(PyObject* self);
void tp_finalize(PyObject* self);

// Destruction's release step, run once per object (lifecycle.cpp).
void release_once(KlRenderTextureObject* self);

}  // namespace klrt
