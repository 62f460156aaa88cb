// Process-wide state of kl_render_tex, written once by start-up and only read
// afterwards: the names and constants it made, the imported sibling types,
// tables and drawing functions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/klrect/klrect.h"
#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/klvector2/klvector2.h"
#include "kelo_ui/fast/raylib/kelo_raylib.h"
#include "kelo_ui/fast/runtime/ref.h"

#define KLRT_MODULE_NAME "kelo_ui.fast.klrendertex.kl_render_tex"
#define KLRT_CLASS_NAME KLRT_MODULE_NAME ".KlRenderTexture"
// The qualified name of a method, as its traceback entries show it.
#define KLRT_QUALNAME(method) KLRT_CLASS_NAME "." method

namespace klrt {

inline constexpr const char source_path[] = "src/kelo_ui/fast/klrendertex/kl_render_tex";

// Interned attribute and global names, made by start-up's constants phase.
struct Names {
    kl::Pinned<> md, rl, load_render_texture, unload_render_texture, is_window_ready, render_texture, texture, width,
        height, id, depth, clear, fast_clear, fill, kill, get_rect, get_height, get_width, kelo_state, window, display,
        fast_blit_pro, BlendMode, BLEND_ALPHA, blit, unpickle, dunder_dict, dunder_new, update, Color, White,
        staticmethod, module_name;
};

struct State {
    // Set once start-up has succeeded, and never cleared after. Until then the
    // class may already be readied and reachable (object.__subclasses__())
    // while the state below is missing: every entry refuses through
    // check_started() (entries.h).
    bool started = false;
    kl::Pinned<> module;          // the initialised module: one strong reference
    PyObject* globals = nullptr;  // its dictionary, borrowed from `module`
    kl::Pinned<> builtins;
    bool assertions_enabled = true;
    Names names;
    kl::Pinned<> int_0, pickle_checksum;
    kl::Pinned<> empty_tuple;
    kl::Pinned<> origin_position, true_tuple;  // (0, 0), (True,)
    kl::Pinned<> filename;
    kl::Pinned<> staticmethod;
    kl::Pinned<PyTypeObject> vector2_type, rect_type;
    KlVector2VTable* vector2_vtab = nullptr;
    KlRectVTable* rect_vtab = nullptr;
    kelo_raylib::Functions raylib{};
    // Holds every default object the functions' signatures bind (borrowed
    // there): the tints read from Color.White when the methods were built.
    kl::Pinned<> defaults;
};

extern State state;
extern KlRenderTextureVTable vtable;
extern PyTypeObject KlRenderTextureType;

}  // namespace klrt
