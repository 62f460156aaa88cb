// The native drawing functions of kelo_raylib, exported through the module
// attribute "__pyx_capi__": a dict mapping each name to a capsule whose name is
// the signature string below and whose pointer is the function. Every object
// parameter is borrowed; a failure is reported by a pending exception.
//
// The table below is the one place they are declared; the function types,
// the importers' table of entries, the capsules, kelo_raylib's Python
// functions and the probe's calls are all made from it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

namespace kelo_raylib {

inline constexpr const char module_name[] = "kelo_ui.fast.raylib.kelo_raylib";

// The functions every importer needs, in their import order:
// X(name, result, parameters, signature string, Python parameters, what it does).
// Each also has a Python function of the same name, which takes the
// parameters but the skip-dispatch flag.
#define KELO_RAYLIB_DRAWING_FUNCTIONS(X)                                                                               \
    X(c_clear_background, void, (PyObject * color), "void (PyObject *)", "color", "Clear the current target.")         \
    X(c_draw_texture_rec, void, (PyObject * texture, PyObject * source, PyObject * dest, PyObject * color),            \
      "void (PyObject *, PyObject *, PyObject *, PyObject *)", "texture, source, dest, color",                         \
      "Draw part of a texture into a rectangle.")                                                                      \
    X(c_draw_texture_vec, void, (PyObject * texture, PyObject * dest, PyObject * color, int flip),                     \
      "void (PyObject *, PyObject *, PyObject *, int)", "texture, dest, color, flip", "Draw a texture at a position.") \
    X(begin_texture_mode, void, (PyObject * render_texture, int skip_dispatch),                                        \
      "void (PyObject *, int __pyx_skip_dispatch)", "render_texture", "Draw into a render texture.")                   \
    X(clear_background, void, (PyObject * color, int skip_dispatch), "void (PyObject *, int __pyx_skip_dispatch)",     \
      "color", "Clear the current target.")                                                                            \
    X(end_blend_mode, void, (int skip_dispatch), "void (int __pyx_skip_dispatch)", "", "End the active blend mode.")   \
    X(end_texture_mode, void, (int skip_dispatch), "void (int __pyx_skip_dispatch)", "",                               \
      "End the active texture mode.")                                                                                  \
    X(begin_blend_mode, void, (int blend_mode, int skip_dispatch), "void (int, int __pyx_skip_dispatch)",              \
      "blend_mode", "Draw with a blend mode.")

// The lean blits of a render texture's colour texture, for the render
// targets' own blits; an importer may do without them:
// X(name, result, parameters, signature string). Each draws as
// c_draw_texture_vec (c_draw_texture_rec, with the source rectangle (0, 0,
// source_width, source_height)) would draw `render_texture.texture`, and
// returns 1, when the backend is the native one, `render_texture` is exactly
// the binding's RenderTexture cdata and no argument needs a conversion that
// could run code; otherwise it returns 0 having done nothing, and the caller
// draws through the functions above. They never raise.
//
// c_calling(method) names the public method being run ("KlRenderTexture.blit",
// a static string; null: none) in the messages of what is refused while it
// runs, on this thread, and returns the name it replaces, which the caller
// puts back when the method ends.
//
// c_draw_render_texture_area draws the part (x, y, width, height) of the
// render texture's picture (top-left origin, as the picture is drawn with a
// flip) at `dest`, a position (the part at its own size) or a rectangle, as
// a blit of a target holding exactly that part would; it has no ordinary
// counterpart of its own (the caller draws the part with
// c_draw_texture_rec).
#define KELO_RAYLIB_LEAN_FUNCTIONS(X)                                                                               \
    X(c_draw_render_texture_vec, int, (PyObject * render_texture, PyObject * dest, PyObject * color, int flip),     \
      "int (PyObject *, PyObject *, PyObject *, int)")                                                              \
    X(c_draw_render_texture_rec, int,                                                                               \
      (PyObject * render_texture, double source_width, double source_height, PyObject* dest, PyObject* color),      \
      "int (PyObject *, double, double, PyObject *, PyObject *)")                                                   \
    X(c_draw_render_texture_area, int,                                                                              \
      (PyObject * render_texture, double x, double y, double width, double height, PyObject* dest, PyObject* color, \
       int flip),                                                                                                   \
      "int (PyObject *, double, double, double, double, PyObject *, PyObject *, int)")                              \
    X(c_calling, const char*, (const char* method), "const char *(const char *)")

// Every export, in capsule order: X(name, result, parameters, signature, required).
#define KELO_RAYLIB_DRAWING_EXPORT(name, result, parameters, signature, python, doc) \
    X_EXPORT(name, result, parameters, signature, true)
#define KELO_RAYLIB_LEAN_EXPORT(name, result, parameters, signature) \
    X_EXPORT(name, result, parameters, signature, false)

// The type of each function, by its name.
namespace function_type {
#define X_EXPORT(name, result, parameters, signature, required) using name = result(*) parameters;
KELO_RAYLIB_DRAWING_FUNCTIONS(KELO_RAYLIB_DRAWING_EXPORT)
KELO_RAYLIB_LEAN_FUNCTIONS(KELO_RAYLIB_LEAN_EXPORT)
#undef X_EXPORT
}  // namespace function_type

// The exports in capsule order, with their signature strings. An importer
// needs every `required` one; the others it may do without.
struct Export {
    const char* name;
    const char* signature;
    bool required;
};
inline constexpr Export exports[] = {
#define X_EXPORT(name, result, parameters, signature, required) {#name, signature, required},
    KELO_RAYLIB_DRAWING_FUNCTIONS(KELO_RAYLIB_DRAWING_EXPORT) KELO_RAYLIB_LEAN_FUNCTIONS(KELO_RAYLIB_LEAN_EXPORT)
#undef X_EXPORT
};

// Their positions in `exports`.
enum class ExportIndex : std::size_t {
#define X_EXPORT(name, result, parameters, signature, required) name,
    KELO_RAYLIB_DRAWING_FUNCTIONS(KELO_RAYLIB_DRAWING_EXPORT) KELO_RAYLIB_LEAN_FUNCTIONS(KELO_RAYLIB_LEAN_EXPORT)
#undef X_EXPORT
};

// An importer's entries, one member per export (null: an optional one the
// module did not export).
struct Functions {
#define X_EXPORT(name, result, parameters, signature, required) function_type::name name = nullptr;
    KELO_RAYLIB_DRAWING_FUNCTIONS(KELO_RAYLIB_DRAWING_EXPORT) KELO_RAYLIB_LEAN_FUNCTIONS(KELO_RAYLIB_LEAN_EXPORT)
#undef X_EXPORT
};

}  // namespace kelo_raylib
