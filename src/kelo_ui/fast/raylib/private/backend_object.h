// The native backend's object (private to kelo_raylib): its binding, the
// window's side of it (its thread, its releases, its scope stacks) and the
// tint it converted last; the checks every drawing call makes.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <vector>

#include "kelo_ui/fast/raylib/private/binding_check.h"
#include "kelo_ui/fast/raylib/private/raylib_declarations.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kelo_raylib::native {

// A texture-mode scope: the render texture begun (held while it is on the
// stack) and its framebuffer id, by which targets are told apart. A target
// released inside its scope leaves an empty scope behind (null, id 0): the
// enclosing target is current until that scope's end, which still pairs
// with its begin.
struct TextureScope {
    Ref render_texture;
    unsigned int id;
};

// What the window keeps in step with its backend (see kelo_ui.backends).
struct WindowState {
    unsigned long thread = 0;  // the window's thread; 0 while detached
    bool pending = false;      // releases left for the window's thread to run
    Ref objects;               // the window's WindowObjects while attached
    Ref detached_because;      // why there is no window to draw into
    std::vector<TextureScope> targets;  // innermost last
    std::vector<int> blends;            // innermost last

    int blend_mode() const { return blends.empty() ? 0 : blends.back(); }
    // The innermost target that was not released, or null for the window.
    const TextureScope* current() const {
        for (auto scope = targets.rbegin(); scope != targets.rend(); ++scope)
            if (scope->render_texture) return &*scope;
        return nullptr;
    }
    unsigned int target_id() const {
        const TextureScope* scope = current();
        return scope ? scope->id : 0;
    }
};

// The tint converted last: a tuple of exact ints cannot change, so the same
// tuple again (the default tint, blit after blit) is not converted again.
struct TintCache {
    Ref tuple;
    rl::Color color{};
};

struct BackendObject {
    PyObject_HEAD
    Binding binding;
    WindowState window;
    TintCache tint;
};

inline BackendObject* backend_of(PyObject* backend) { return reinterpret_cast<BackendObject*>(backend); }

// What a drawing call refuses, saying why: no window (detached), or another
// thread; false with RuntimeError set.
bool refuse(BackendObject* self, const char* function);
// The slow side of enter(): refuses, or runs the window's pending releases.
bool enter_slowly(BackendObject* self, const char* function);
// A texture or render texture whose GPU object is gone (id 0), refused with
// why the window's objects say it died; always false.
bool dead(BackendObject* self, const char* function, const char* parameter, PyObject* object);

// At the start of every drawing call: the window's thread, and the releases
// other threads left for it.
inline bool enter(BackendObject* self, const char* function) {
    if (self->window.thread == PyThread_get_thread_ident() && !self->window.pending) [[likely]]
        return true;
    return enter_slowly(self, function);
}

// Right before raylib is called, after the conversions (which may run Python
// code that closes the window or detaches the backend): without a window
// raylib's drawing state is gone, and a call would write through freed memory.
// enter() has tested the thread; code run since on this thread can only
// have detached the backend.
inline bool ready(BackendObject* self, const char* function) {
    if (self->window.thread == 0) [[unlikely]]
        return refuse(self, function);
    if (self->binding.raylib.IsWindowReady()) [[likely]]
        return true;
    PyErr_Format(PyExc_RuntimeError, "%s: raylib has no open window to draw into", function);
    return false;
}

template <typename Work>
bool growing(Work work) {
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

// After the stack changed, with the target `previous_id` current before (0:
// the window), make the innermost live target (or the window) current.
bool make_current(BackendObject* self, unsigned int previous_id, const char* function);
// Empty both stacks into `dropped`, released by the caller once the state is
// consistent: a release may run Python code.
void forget_scopes(WindowState& window, std::vector<TextureScope>& dropped);
// The names of the methods asked of the window's objects, made once.
bool intern_window_names();

// The Python-visible methods of the window's side.
#define KL_WINDOW_METHOD(name) PyObject* method_##name(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
KL_WINDOW_METHOD(attach)
KL_WINDOW_METHOD(detach)
KL_WINDOW_METHOD(current_target)
KL_WINDOW_METHOD(forget_target)
KL_WINDOW_METHOD(end_scopes)
KL_WINDOW_METHOD(open_scopes)
KL_WINDOW_METHOD(note_pending_releases)
#undef KL_WINDOW_METHOD

}  // namespace kelo_raylib::native
