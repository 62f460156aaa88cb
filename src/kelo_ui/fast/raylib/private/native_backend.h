// The native drawing backend of kelo_raylib: `NativeBackend(ffi, lib)` takes
// the addresses of raylib's C functions from the installed binding once, and
// from then on draws by calling them directly, converting its arguments in
// C++. kelo_raylib's exported functions test for it by exact type and call
// the functions below instead of a Python method.
//
// Every function leaves an exception pending on failure, as the exported
// functions do; `backend` is a borrowed, exact NativeBackend.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kelo_raylib::native {

extern PyTypeObject backend_type;

// The backend test of the hot path. The type cannot be subclassed, so the
// exact test is the instance test.
inline bool is_backend(PyObject* object) { return Py_IS_TYPE(object, &backend_type); }

// Readies NativeBackend and BindingMismatch and binds them in the module.
bool add_to_module(PyObject* module);

void clear_background(PyObject* backend, PyObject* color);
void draw_texture_vec(PyObject* backend, PyObject* texture, PyObject* dest, PyObject* color, int flip);
void draw_texture_rec(PyObject* backend, PyObject* texture, PyObject* source, PyObject* dest, PyObject* color);
void begin_texture_mode(PyObject* backend, PyObject* render_texture);
void end_texture_mode(PyObject* backend);
void begin_blend_mode(PyObject* backend, int blend_mode);
void end_blend_mode(PyObject* backend);

// The lean blits of kelo_raylib.h: 1 when drawn, 0 when not taken (nothing
// done, no exception set).
int draw_render_texture_vec(PyObject* backend, PyObject* render_texture, PyObject* dest, PyObject* color, int flip);
int draw_render_texture_rec(PyObject* backend, PyObject* render_texture, double source_width, double source_height,
                            PyObject* dest, PyObject* color);

}  // namespace kelo_raylib::native
