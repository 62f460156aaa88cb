// The window context (context.h): the type, the one object, and its two
// transitions. activate() opens raylib's window and makes the context the
// open window's; deactivate(why) ends that, for a close or in a forked child.
// Each runs its raylib calls and its changes of state in C, with no Python
// code in between, so that an interrupt (Ctrl-C, a signal handler) finds the
// context either active or not.
#include <cstring>
#include <new>
#include <utility>

#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/gl_driver.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {
namespace {

kl::Pinned<> context;           // the one context
kl::Pinned<> deactivated_name;  // "_deactivated", what a window is told
kl::Pinned<> closed_reason, forked_reason;

// The binding of the installed raylib package (`raylib.ffi`, `raylib.rl`),
// checked once, when the first window opens.
bool bind(ContextObject* self) {
    if (self->bound) return true;
    Ref raylib = Ref::steal(PyImport_ImportModule("raylib"));
    Ref ffi = raylib ? Ref::steal(PyObject_GetAttrString(raylib.get(), "ffi")) : Ref();
    Ref lib = ffi ? Ref::steal(PyObject_GetAttrString(raylib.get(), "rl")) : Ref();
    if (!lib || !make_binding(ffi.get(), lib.get(), self->binding)) return false;
    self->bound = true;
    return true;
}

// A title as raylib takes it: UTF-8 without a NUL inside.
const char* title_of(PyObject* title) {
    if (!PyUnicode_Check(title)) {
        PyErr_Format(PyExc_TypeError, "open_window: title must be a str, not %.200s", Py_TYPE(title)->tp_name);
        return nullptr;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(title, &size);
    if (text != nullptr && std::strlen(text) != static_cast<std::size_t>(size)) {
        PyErr_SetString(PyExc_ValueError, "open_window: title has an embedded null character");
        return nullptr;
    }
    return text;
}

// activate(window, width, height, title, flags) -> bool: raylib's window
// opens with `flags` (raylib's ConfigFlags) and the context becomes
// `window`'s, on the calling thread. False, with nothing changed, when raylib
// could not open its window (its log says why).
PyObject* method_activate(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "open_window";
    ContextObject* self = context_of(object);
    int width = 0, height = 0, flags = 0;
    if (!kl::check_positional_count("activate", nargs, 5) || !kl::int_argument(args[1], width) ||
        !kl::int_argument(args[2], height) || !kl::int_argument(args[4], flags))
        return nullptr;
    Ref title_object = Ref::newref(args[3]);
    const char* title = title_of(title_object.get());
    if (title == nullptr) return nullptr;
    if (self->window) {
        PyErr_Format(PyExc_RuntimeError, "%s: a window is already open (%R); close it first", function,
                     self->window.get());
        return nullptr;
    }
    Ref window = Ref::newref(args[0]);
    if (!bind(self)) return nullptr;
    const Functions& raylib = self->binding.raylib;
    if (raylib.IsWindowReady()) {
        // raylib's window, and its X connection, are not the toolkit's: another
        // would write into that connection.
        PyErr_Format(PyExc_RuntimeError,
                     "%s: raylib has a window already that is not the toolkit's (this process was forked from one "
                     "with a window open, or it was opened straight through pyray)",
                     function);
        return nullptr;
    }
    std::string kept_title;
    if (!growing([&] { kept_title = title; })) return nullptr;
    raylib.SetConfigFlags(static_cast<unsigned int>(flags));
    raylib.InitWindow(width, height, title);
    if (!raylib.IsWindowReady()) Py_RETURN_FALSE;
    // raylib keeps the blend mode it last set across windows, while the new
    // GL context blends as alpha: a mode left open when the last window
    // closed would be taken as set already. Alpha, set for real.
    raylib.EndBlendMode();
    self->largest_size = largest_texture_size();
    self->title = std::move(kept_title);
    self->window = std::move(window);
    self->thread = PyThread_get_thread_ident();
    self->pending = false;
    self->inactive_because = Death::alive;
    Py_RETURN_TRUE;
}

// deactivate(why): why is "closed" (close_window, on the window's thread) or
// "forked" (in a forked child, with no X or GL call: they are the parent's).
// Every GPU object dies, the scopes are forgotten, raylib's window closes;
// then the window is told (its X server stops), and last it stops being the
// context's. Every step can be repeated: a deactivation that an exception
// stops in the window's part is finished by the next.
PyObject* method_deactivate(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count("deactivate", nargs, 1)) return nullptr;
    const bool forked =
        args[0] == forked_reason.object() || (PyUnicode_Check(args[0]) && PyUnicode_EqualToUTF8(args[0], "forked"));
    if (!forked && !(args[0] == closed_reason.object() ||
                     (PyUnicode_Check(args[0]) && PyUnicode_EqualToUTF8(args[0], "closed")))) {
        PyErr_Format(PyExc_ValueError, "deactivate: why is 'closed' or 'forked', not %R", args[0]);
        return nullptr;
    }
    if (!self->window) Py_RETURN_NONE;
    if (forked) {
        self->busy = 0;
    } else {
        if (self->thread != 0 && self->thread != PyThread_get_thread_ident())
            return refuse(self, "close_window"), nullptr;
        if (self->busy > 0) {
            PyErr_SetString(PyExc_RuntimeError,
                            "close_window: raylib is being called through md.rl (this runs inside the conversion of "
                            "its arguments); the window cannot close under it");
            return nullptr;
        }
    }
    const Death why = forked ? Death::forked : Death::window_closed;
    // What md.rl left open is ended on raylib's side too: rlgl keeps its
    // matrix stack across windows, and the next window's targets would
    // inherit it. A forked child makes no GL call.
    if (!forked && self->bound && self->thread == PyThread_get_thread_ident()) {
        end_scopes(self);
    } else {
        forget_scopes(self);
    }
    release_all(self, why);
    self->in_frame = false;
    forget_presented(self);
    self->copies_parts = -1;  // the next window is asked again
    self->thread = 0;
    self->pending = false;
    self->inactive_because = why;
    // raylib may have closed its window itself: a second close would crash.
    if (!forked && self->bound && self->binding.raylib.IsWindowReady()) self->binding.raylib.CloseWindow();
    Ref window = Ref::newref(self->window.get());
    PyObject* call_args[] = {window.get(), forked ? forked_reason.object() : closed_reason.object()};
    Ref told = Ref::steal(PyObject_VectorcallMethod(deactivated_name.object(), call_args, 2, nullptr));
    if (!told) return nullptr;
    if (self->window.get() == window.get()) self->window = Ref();
    Py_RETURN_NONE;
}

PyObject* method_begin_frame(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count("begin_frame", nargs, 0) || !enter(self, "frame") || !ready(self, "frame"))
        return nullptr;
    self->binding.raylib.BeginDrawing();
    self->in_frame = true;
    Py_RETURN_NONE;
}

// The end of a frame: nothing when the window closed inside it. raylib's end
// polls the window's events, and a window said to have a new size (SDL's
// offscreen driver says so at the first poll) gets its viewport and
// projection set up again over whatever target is current: what is current
// (a scope left open across the end) is set aside and made current after.
PyObject* method_end_frame(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count("end_frame", nargs, 0)) return nullptr;
    bool ended = true;
    if (self->thread == PyThread_get_thread_ident() && self->binding.raylib.IsWindowReady()) {
        // Without the memory to set it aside, the frame ends unshown.
        ended = leave_state(self, self->scopes.state());
        if (ended) {
            self->binding.raylib.EndDrawing();
            ended = make_current(self, Target{}, "frame");
        }
    }
    self->in_frame = false;
    forget_presented(self);
    return ended ? Py_NewRef(Py_None) : nullptr;
}

PyObject* method_is_window_ready(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count("is_window_ready", nargs, 0)) return nullptr;
    return PyBool_FromLong(self->thread != 0 && self->binding.raylib.IsWindowReady());
}

// What kelo_state.window shows: the window, or the stand-in while none is
// open. A method, so that a property can call it without a Python frame.
PyObject* method_shown_window(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("shown_window", nargs, 1)) return nullptr;
    ContextObject* self = context_of(object);
    return Py_NewRef(self->window ? self->window.get() : self->stand_in ? self->stand_in.get() : Py_None);
}

PyObject* get_stand_in(PyObject* object, void*) {
    ContextObject* self = context_of(object);
    return Py_NewRef(self->stand_in ? self->stand_in.get() : Py_None);
}

int set_stand_in(PyObject* object, PyObject* value, void*) {
    Ref stand_in = Ref::newref(value);
    std::swap(context_of(object)->stand_in, stand_in);
    return 0;
}

PyObject* get_window(PyObject* object, void*) {
    ContextObject* self = context_of(object);
    return Py_NewRef(self->window ? self->window.get() : Py_None);
}

PyObject* get_is_active(PyObject* object, void*) { return PyBool_FromLong(context_of(object)->thread != 0); }

PyObject* get_live(PyObject* object, void*) { return PyLong_FromSize_t(context_of(object)->objects.live.size()); }

PyObject* get_largest_size(PyObject* object, void*) { return PyLong_FromLong(context_of(object)->largest_size); }

#define KL_METHOD(name, doc) \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_##name)), METH_FASTCALL, doc}

PyMethodDef context_methods[] = {
    // The transitions.
    KL_METHOD(activate,
              "activate($self, window, width, height, title, flags, /)\n--\n\n"
              "Open raylib's window and make the context window's; False when raylib could not."),
    KL_METHOD(deactivate,
              "deactivate($self, why, /)\n--\n\n"
              "End the window: 'closed' or 'forked'. Its GPU objects die, raylib's window closes, the "
              "window's _deactivated(why) runs, then it stops being the context's."),
    KL_METHOD(begin_frame, "begin_frame($self, /)\n--\n\nraylib's BeginDrawing, on the window's thread."),
    KL_METHOD(end_frame, "end_frame($self, /)\n--\n\nraylib's EndDrawing, unless the window closed."),
    KL_METHOD(shown_window,
              "shown_window($self, owner, /)\n--\n\n"
              "The window, or stand_in while none is open (owner is ignored: a property's getter)."),
    KL_METHOD(is_window_ready,
              "is_window_ready($self, /)\n--\n\n"
              "Whether a window of this process is open and raylib's window is ready."),
    // The GPU objects.
    KL_METHOD(load_render_texture,
              "load_render_texture($self, width, height, /)\n--\n\n"
              "A new render texture owned by the window."),
    KL_METHOD(load_texture,
              "load_texture($self, file_name, /)\n--\n\n"
              "A texture loaded from an image file (a bytes path), owned by the window."),
    KL_METHOD(load_texture_from_image,
              "load_texture_from_image($self, image, /)\n--\n\n"
              "A texture made from an Image, owned by the window."),
    KL_METHOD(load_texture_cubemap,
              "load_texture_cubemap($self, image, layout, /)\n--\n\n"
              "A cubemap texture made from an Image, owned by the window."),
    KL_METHOD(unload_render_texture,
              "unload_render_texture($self, render_texture, /)\n--\n\n"
              "Release a render texture; a dead one is left alone."),
    KL_METHOD(unload_texture, "unload_texture($self, texture, /)\n--\n\nRelease a texture; a dead one is left alone."),
    KL_METHOD(why_dead,
              "why_dead($self, cdata, /)\n--\n\n"
              "Why the toolkit's object that cdata belongs to is dead; None when it is alive or not the "
              "toolkit's."),
    KL_METHOD(run_pending_releases,
              "run_pending_releases($self, /)\n--\n\n"
              "Release the objects that became unreachable, on the window's thread."),
    KL_METHOD(read_rgba,
              "read_rgba($self, render_texture, /)\n--\n\n"
              "(width, height, RGBA8 bytes, top row first) of a render texture."),
    KL_METHOD(make_cell,
              "make_cell($self, page, x, y, width, height, /)\n--\n\n"
              "A cell of an atlas page: the part (x, y, width, height) of the page's picture, a render "
              "texture of its own for everything that draws."),
    KL_METHOD(make_page,
              "make_page($self, width, height, /)\n--\n\n"
              "A page of an atlas: a render texture owned by the window, cleared to (0, 0, 0, 0) without a "
              "scope; its refusals name Atlas.allocate."),
    // The scopes.
    KL_METHOD(current_target,
              "current_target($self, /)\n--\n\n"
              "The render texture of the innermost texture mode, or None for the window."),
    KL_METHOD(end_scopes, "end_scopes($self, /)\n--\n\nEnd every open scope; returns how many there were."),
    KL_METHOD(open_scopes,
              "open_scopes($self, /)\n--\n\n"
              "How many scopes are open: texture and blend modes, and the clips, shaders, camera modes and "
              "pushed matrices begun in them or on the window."),
    // What md.rl changes of the drawing state, owned by the scopes.
    KL_METHOD(begin_scissor_mode,
              "begin_scissor_mode($self, x, y, width, height, /)\n--\n\n"
              "Clip the current scope's drawing to a rectangle of its own coordinates (within a cell's area)."),
    KL_METHOD(end_scissor_mode,
              "end_scissor_mode($self, /)\n--\n\nThe current scope's own clip again (a cell's area, or none)."),
    KL_METHOD(begin_shader_mode, "begin_shader_mode($self, shader, /)\n--\n\nDraw with a shader in the current scope."),
    KL_METHOD(end_shader_mode, "end_shader_mode($self, /)\n--\n\nDraw with the shader the current scope began with."),
    KL_METHOD(begin_mode_2d, "begin_mode_2d($self, camera, /)\n--\n\nDraw through a 2D camera in the current scope."),
    KL_METHOD(
        end_mode_2d,
        "end_mode_2d($self, /)\n--\n\nEnd the current scope's innermost 2D camera mode, and what began after it."),
    KL_METHOD(begin_mode_3d,
              "begin_mode_3d($self, camera, /)\n--\n\n"
              "Draw through a 3D camera in the current scope (not in an atlas cell)."),
    KL_METHOD(
        end_mode_3d,
        "end_mode_3d($self, /)\n--\n\nEnd the current scope's innermost 3D camera mode, and what began after it."),
    KL_METHOD(rl_push_matrix, "rl_push_matrix($self, /)\n--\n\nPush rlgl's current matrix, in the current scope."),
    KL_METHOD(rl_pop_matrix,
              "rl_pop_matrix($self, /)\n--\n\n"
              "Pop the matrix the current scope pushed last, ending what began after it; nothing when it pushed none."),
    KL_METHOD(rl_translatef, "rl_translatef($self, x, y, z, /)\n--\n\nTranslate rlgl's current matrix."),
    KL_METHOD(rl_rotatef, "rl_rotatef($self, angle, x, y, z, /)\n--\n\nRotate rlgl's current matrix."),
    KL_METHOD(rl_scalef, "rl_scalef($self, x, y, z, /)\n--\n\nScale rlgl's current matrix."),
    KL_METHOD(rl_mult_matrixf,
              "rl_mult_matrixf($self, matf, /)\n--\n\nMultiply rlgl's current matrix by 16 floats (m0 to m15)."),
    KL_METHOD(rl_load_identity, "rl_load_identity($self, /)\n--\n\nMake rlgl's current matrix the identity."),
    KL_METHOD(unload_shader, "unload_shader($self, shader, /)\n--\n\nUnload a shader, unless a scope draws with it."),
    KL_METHOD(
        get_render_width,
        "get_render_width($self, /)\n--\n\nThe current target's width in pixels (a cell's own), or the window's."),
    KL_METHOD(
        get_render_height,
        "get_render_height($self, /)\n--\n\nThe current target's height in pixels (a cell's own), or the window's."),
    // The drawing backend.
    KL_METHOD(c_clear_background,
              "c_clear_background($self, color, /)\n--\n\n"
              "Clear the current target; None is (0, 0, 0, 0)."),
    {"clear_background", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_c_clear_background)),
     METH_FASTCALL, "clear_background($self, color, /)\n--\n\nClear the current target; None is (0, 0, 0, 0)."},
    KL_METHOD(c_draw_texture_vec,
              "c_draw_texture_vec($self, texture, dest, color, flip, /)\n--\n\n"
              "Draw a whole texture at the position dest, upside down when flip is true."),
    KL_METHOD(c_draw_texture_rec,
              "c_draw_texture_rec($self, texture, source, dest, color, /)\n--\n\n"
              "Draw the part source of a texture into the rectangle dest."),
    KL_METHOD(begin_texture_mode,
              "begin_texture_mode($self, render_texture, /)\n--\n\n"
              "Make a render texture the current target until the matching end."),
    KL_METHOD(end_texture_mode,
              "end_texture_mode($self, /)\n--\n\n"
              "Make the enclosing target (or the window) current again."),
    KL_METHOD(begin_blend_mode,
              "begin_blend_mode($self, mode, /)\n--\n\n"
              "Draw with one of raylib's blend modes (0 to 7) until the matching end."),
    KL_METHOD(end_blend_mode,
              "end_blend_mode($self, /)\n--\n\n"
              "Draw with the enclosing blend mode (alpha, 0, with none open) again."),
    KL_METHOD(fast_blit_pro,
              "fast_blit_pro($self, texture, dest, flip, color, /)\n--\n\n"
              "Draw a Texture, RenderTexture or KlRenderTexture at dest: None or (x, y) at its own "
              "size, (x, y, w, h) scaled into that rectangle."),
    // The compositor's.
    KL_METHOD(read_window,
              "read_window($self, /)\n--\n\n"
              "(width, height, RGBA8 bytes, top row first) of what the window's front buffer shows."),
    KL_METHOD(copies_parts,
              "copies_parts($self, /)\n--\n\n"
              "Whether the window puts parts of a scene on the screen (GLX_MESA_copy_sub_buffer)."),
    KL_METHOD(guard,
              "guard($self, name, function, kind, cells, textures, reason, /)\n--\n\n"
              "function (a raylib call of the binding's) as md.rl calls it, by its kind in the table of the "
              "binding's functions: refused unless the window is open on its thread; an atlas cell among the "
              "parameters whose positions the bits of textures give handled as cells says."),
    {nullptr, nullptr, 0, nullptr},
};

#undef KL_METHOD

PyGetSetDef context_getset[] = {
    {"window", get_window, nullptr, "The toolkit's Window while one is open (or being closed), else None.", nullptr},
    {"is_active", get_is_active, nullptr, "Whether a window is open for drawing.", nullptr},
    {"stand_in", get_stand_in, set_stand_in, "What shown_window gives while no window is open.", nullptr},
    {"live", get_live, nullptr, "How many GPU objects of the window are alive.", nullptr},
    {"largest_size", get_largest_size, nullptr, "The driver's largest texture side (0: unknown).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void context_dealloc(PyObject* object) {
    ContextObject* self = context_of(object);
    self->tint.~TintCache();
    self->cells.~unordered_map();
    self->pages.~vector();
    self->watched.~unordered_map();
    self->title.~basic_string();
    self->reserved.~vector();
    self->objects.~GpuObjects();
    self->scopes.~Scopes();
    self->window.~Ref();
    self->stand_in.~Ref();
    self->binding.~Binding();
    Py_TYPE(object)->tp_free(object);
}

PyObject* check_binding(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("check_binding", nargs, 2)) return nullptr;
    Binding binding;
    if (!make_binding(args[0], args[1], binding)) return nullptr;
    Py_RETURN_NONE;
}

PyMethodDef check_binding_def = {
    "check_binding", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_binding)), METH_FASTCALL,
    "check_binding(ffi, lib, /)\n--\n\n"
    "Check a raylib binding's cffi ffi and lib against the structs and functions the window context calls; "
    "raises BindingMismatch saying what differs."};

}  // namespace

PyTypeObject context_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.raylib.kelo_raylib.WindowContext",
    .tp_basicsize = sizeof(ContextObject),
    .tp_dealloc = context_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc =
        "The window context: the one owner of the open window's state (its thread, GPU objects, releases, "
        "scopes) and the drawing backend that calls raylib's C functions directly. There is one, "
        "kelo_raylib.context.",
    .tp_methods = context_methods,
    .tp_getset = context_getset,
};

PyObject* the_context() { return context.object(); }

bool is_context_object(PyObject* object) { return is_context(object); }

bool add_to_module(PyObject* module) {
    Ref mismatch_class = Ref::steal(
        PyErr_NewExceptionWithDoc("kelo_ui.fast.raylib.kelo_raylib.BindingMismatch",
                                  "The installed raylib binding is not the one the window context was written for.",
                                  PyExc_RuntimeError, nullptr));
    if (!mismatch_class || PyModule_AddObjectRef(module, "BindingMismatch", mismatch_class.get()) < 0) return false;
    binding_mismatch.set(std::move(mismatch_class));
    Ref deactivated = Ref::steal(PyUnicode_InternFromString("_deactivated"));
    Ref closed = Ref::steal(PyUnicode_InternFromString("closed"));
    Ref forked = Ref::steal(PyUnicode_InternFromString("forked"));
    if (!deactivated || !closed || !forked) return false;
    deactivated_name.set(std::move(deactivated));
    closed_reason.set(std::move(closed));
    forked_reason.set(std::move(forked));
    if (PyType_Ready(&context_type) < 0 || PyType_Ready(&guarded_function_type) < 0) return false;
    if (!context) {
        // One for the process: a retried execution of the module keeps it.
        Ref made = Ref::steal(reinterpret_cast<PyObject*>(PyObject_New(ContextObject, &context_type)));
        if (!made) return false;
        ContextObject* self = context_of(made.get());
        new (&self->binding) Binding();
        self->bound = false;
        self->thread = 0;
        self->pending = false;
        self->inactive_because = Death::never_opened;
        self->largest_size = 0;
        self->busy = 0;
        self->in_frame = false;
        self->composing = false;
        self->presented = 0;
        self->presented_width = self->presented_height = 0;
        self->copies_parts = -1;
        new (&self->window) Ref();
        new (&self->stand_in) Ref();
        new (&self->scopes) Scopes();
        new (&self->objects) GpuObjects();
        new (&self->cells) std::unordered_map<std::uintptr_t, Cell>();
        new (&self->pages) std::vector<const rl::RenderTexture*>();
        new (&self->title) std::string();
        new (&self->watched) std::unordered_map<std::uintptr_t, std::vector<Watch>>();
        new (&self->reserved) std::vector<std::uintptr_t>();
        new (&self->tint) TintCache();
        context.set(std::move(made));
    }
    Ref check = Ref::steal(PyCFunction_NewEx(&check_binding_def, nullptr, nullptr));
    return check && publish_compositor(module) && PyModule_AddObjectRef(module, "check_binding", check.get()) == 0 &&
           PyModule_AddObjectRef(module, "WindowContext", reinterpret_cast<PyObject*>(&context_type)) == 0 &&
           PyModule_AddObjectRef(module, "GuardedFunction", reinterpret_cast<PyObject*>(&guarded_function_type)) == 0 &&
           PyModule_AddObjectRef(module, "context", context.object()) == 0;
}

}  // namespace kelo_raylib::native
