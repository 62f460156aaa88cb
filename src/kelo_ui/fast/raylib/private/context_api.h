// What kelo_raylib's module code asks of the window context (context.h):
// the one context, and its drawing calls, which kelo_raylib's exported
// functions make in C when the backend is the context.
//
// Every function leaves an exception pending on failure, as the exported
// functions do; `context` is the borrowed context object.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kelo_raylib::native {

// Readies WindowContext, GuardedFunction and BindingMismatch, makes the one
// context and binds them (and check_binding) in the module.
bool add_to_module(PyObject* module);
// The one context: a borrowed reference, null before add_to_module().
PyObject* the_context();
bool is_context_object(PyObject* object);
// The public method the messages name, on this thread; returns the one it replaces.
const char* set_calling(const char* method);

void clear_background(PyObject* context, PyObject* color);
void draw_texture_vec(PyObject* context, PyObject* texture, PyObject* dest, PyObject* color, int flip);
void draw_texture_rec(PyObject* context, PyObject* texture, PyObject* source, PyObject* dest, PyObject* color);
void begin_texture_mode(PyObject* context, PyObject* render_texture);
void end_texture_mode(PyObject* context);
void begin_blend_mode(PyObject* context, int blend_mode);
void end_blend_mode(PyObject* context);
bool fast_blit_pro(PyObject* context, PyObject* texture, PyObject* dest, PyObject* flip, PyObject* color);

// The lean blits of kelo_raylib.h: 1 when drawn, 0 when not taken (nothing
// done, no exception set).
int draw_render_texture_vec(PyObject* context, PyObject* render_texture, PyObject* dest, PyObject* color, int flip);
int draw_render_texture_rec(PyObject* context, PyObject* render_texture, double source_width, double source_height,
                            PyObject* dest, PyObject* color);
int draw_render_texture_area(PyObject* context, PyObject* render_texture, double x, double y, double width,
                             double height, PyObject* dest, PyObject* color, int flip);

}  // namespace kelo_raylib::native
