// Process-wide state of kl_render_tex, written once by start-up and only read
// afterwards, and the small helpers that every part of the module shares.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/klrect/klrect.h"
#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/klvector2/klvector2.h"
#include "kelo_ui/fast/raylib/kelo_raylib.h"
#include "kelo_ui/fast/runtime/names.h"
#include "kelo_ui/fast/runtime/ref.h"
#include "kelo_ui/fast/runtime/traceback.h"

#define KLRT_MODULE_NAME "kelo_ui.fast.klrendertex.kl_render_tex"
#define KLRT_CLASS_NAME KLRT_MODULE_NAME ".KlRenderTexture"
// The qualified name of a method, as its traceback entries show it.
#define KLRT_QUALNAME(method) KLRT_CLASS_NAME "." method

namespace klrt {

inline constexpr const char source_path[] = "src/kelo_ui/fast/klrendertex/kl_render_tex";

// Interned attribute and global names, made in start-up step 5.
struct Names {
    kl::Pinned<> md, rl, load_render_texture, unload_render_texture, is_window_ready, render_texture, texture, width,
        height, id, depth, clear, fast_clear, fill, kill, get_rect, get_height, get_width, kelo_state, window,
        display, fast_blit_pro, BlendMode, BLEND_ALPHA, blit, unpickle, dunder_dict, dunder_new, update, Color, White,
        staticmethod, KlRenderTexture, module_name;
};

struct State {
    // Set once start-up has succeeded, and never cleared after. Until then the
    // class may already be readied and reachable (object.__subclasses__())
    // while the state below is missing: every entry refuses through
    // check_started().
    bool started = false;
    kl::Pinned<> module;        // the initialised module: one strong reference
    PyObject* globals = nullptr;  // its dictionary, borrowed from `module`
    kl::Pinned<> builtins;
    bool assertions_enabled = true;
    Names names;
    kl::Pinned<> int_0, pickle_checksum;
    kl::Pinned<> empty_tuple, empty_string;
    kl::Pinned<> origin_position, true_tuple;  // (0, 0), (True,)
    kl::Pinned<> filename;
    kl::Pinned<> staticmethod;
    kl::Pinned<PyTypeObject> vector2_type, rect_type, shader_type;
    KlVector2VTable* vector2_vtab = nullptr;
    KlRectVTable* rect_vtab = nullptr;
    kelo_raylib::Functions raylib{};
    // The tint each blit method uses when `color` is omitted, read from
    // Color.White at start-up: blit, fast_blit, blit_texture, fast_blit_texture.
    kl::Pinned<> default_tint[4];
};

extern State state;
extern KlRenderTextureVTable vtable;
extern PyTypeObject KlRenderTextureType;

inline KlRenderTextureObject* record(PyObject* object) { return reinterpret_cast<KlRenderTextureObject*>(object); }
inline PyObject* object(KlRenderTextureObject* self) { return reinterpret_cast<PyObject*>(self); }

// Store a new owned reference in a record field, releasing the old object
// only after the new one is in place (its release may run code that reads the
// record).
inline void store_field(PyObject*& field, kl::Ref value) {
    PyObject* old = field;
    field = value.release();
    Py_XDECREF(old);
}

// The guard of every entry point: ImportError until start-up has succeeded.
inline bool check_started() {
    if (state.started) [[likely]] return true;
    PyErr_SetString(PyExc_ImportError,
                    KLRT_MODULE_NAME " has not started (its import failed or is still running): KlRenderTexture "
                    "cannot be used until an import of it succeeds");
    return false;
}

// Add this module's traceback entry for `qualname` to the pending exception.
inline void traceback(const char* qualname) { kl::add_traceback(qualname, source_path); }

// A module-level name (`md`, `kelo_state`, ...), looked up at every use.
inline kl::Ref global(const kl::Pinned<>& name) {
    return kl::get_global(state.globals, state.builtins.object(), name.object());
}

// `md.rl`, looked up afresh at every call.
kl::Ref raylib_binding();

// The loaded guard: AssertionError "Render texture not loaded" while
// assertions were enabled at start-up and `loaded` is 0.
inline bool check_loaded(KlRenderTextureObject* self) {
    if (!state.assertions_enabled || self->loaded) [[likely]] return true;
    PyErr_SetString(PyExc_AssertionError, "Render texture not loaded");
    return false;
}

// The size vector's record, or null with AttributeError (named after the
// field that was wanted) while `size` is None.
inline KlVector2Object* size_vector(KlRenderTextureObject* self, const char* field) {
    if (self->size != Py_None) [[likely]] return reinterpret_cast<KlVector2Object*>(self->size);
    PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%s'", field);
    return nullptr;
}

}  // namespace klrt
