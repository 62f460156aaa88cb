// The native drawing functions of kelo_raylib, exported through the module
// attribute "__pyx_capi__": a dict mapping each name to a capsule whose name is
// the signature string below and whose pointer is the function. Every object
// parameter is borrowed; a failure is reported by a pending exception.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kelo_raylib {

inline constexpr const char module_name[] = "kelo_ui.fast.raylib.kelo_raylib";

using ClearBackgroundC = void (*)(PyObject* color);
using DrawTextureRecC = void (*)(PyObject* texture, PyObject* source, PyObject* dest, PyObject* color);
using DrawTextureVecC = void (*)(PyObject* texture, PyObject* dest, PyObject* color, int flip);
using BeginTextureMode = void (*)(PyObject* render_texture, int skip_dispatch);
using ClearBackground = void (*)(PyObject* color, int skip_dispatch);
using EndBlendMode = void (*)(int skip_dispatch);
using EndTextureMode = void (*)(int skip_dispatch);
using BeginBlendMode = void (*)(int blend_mode, int skip_dispatch);
// The lean blits of a render texture's colour texture, for the render
// targets' own blits. Each draws as c_draw_texture_vec (and
// c_draw_texture_rec with the source rectangle (0, 0, source_width,
// source_height)) would draw `render_texture.texture`, and returns 1, when
// the backend is the native one, `render_texture` is exactly the binding's
// RenderTexture cdata and no argument needs a conversion that could run
// code; otherwise it returns 0 having done nothing, and the caller draws
// through the functions above. They never raise.
using DrawRenderTextureVec = int (*)(PyObject* render_texture, PyObject* dest, PyObject* color, int flip);
using DrawRenderTextureRec = int (*)(PyObject* render_texture, double source_width, double source_height,
                                     PyObject* dest, PyObject* color);

// The exported functions in their import order, with their signature strings.
// An importer needs every `required` one; the others it may do without.
struct Export {
    const char* name;
    const char* signature;
    bool required = true;
};
inline constexpr Export exports[] = {
    {"c_clear_background", "void (PyObject *)"},
    {"c_draw_texture_rec", "void (PyObject *, PyObject *, PyObject *, PyObject *)"},
    {"c_draw_texture_vec", "void (PyObject *, PyObject *, PyObject *, int)"},
    {"begin_texture_mode", "void (PyObject *, int __pyx_skip_dispatch)"},
    {"clear_background", "void (PyObject *, int __pyx_skip_dispatch)"},
    {"end_blend_mode", "void (int __pyx_skip_dispatch)"},
    {"end_texture_mode", "void (int __pyx_skip_dispatch)"},
    {"begin_blend_mode", "void (int, int __pyx_skip_dispatch)"},
    {"c_draw_render_texture_vec", "int (PyObject *, PyObject *, PyObject *, int)", false},
    {"c_draw_render_texture_rec", "int (PyObject *, double, double, PyObject *, PyObject *)", false},
};

// The imported entries, in the same order as `exports`.
struct Functions {
    ClearBackgroundC c_clear_background;
    DrawTextureRecC c_draw_texture_rec;
    DrawTextureVecC c_draw_texture_vec;
    BeginTextureMode begin_texture_mode;
    ClearBackground clear_background;
    EndBlendMode end_blend_mode;
    EndTextureMode end_texture_mode;
    BeginBlendMode begin_blend_mode;
    DrawRenderTextureVec c_draw_render_texture_vec;  // null when not exported
    DrawRenderTextureRec c_draw_render_texture_rec;
};

}  // namespace kelo_raylib
