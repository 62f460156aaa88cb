// The drawing scopes a checked operation (blit, blit_texture, blits, clear,
// fill, c_clear) begins on its target: a blend mode around a texture mode,
// through kelo_raylib. They are ended innermost first on every path: after a
// failure too, so that no scope is left open to catch the caller's later
// drawing. The first failure is the one raised; an end that fails as well
// becomes its context.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>

#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/args.h"
#include "kelo_ui/fast/runtime/notes.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace klrt {

class CheckedScopes {
public:
    CheckedScopes() = default;
    CheckedScopes(const CheckedScopes&) = delete;
    CheckedScopes& operator=(const CheckedScopes&) = delete;

    bool begin_blend_mode(int blend_mode) {
        state.raylib.begin_blend_mode(blend_mode, 0);
        if (PyErr_Occurred()) return false;
        ++blends_;
        return true;
    }

    bool begin_texture_mode(PyObject* render_texture) {
        kl::Ref held = kl::Ref::newref(render_texture);  // the record's field may change under the call
        state.raylib.begin_texture_mode(held.get(), 0);
        if (PyErr_Occurred()) return false;
        ++textures_;
        return true;
    }

    // The ends of a successful operation; false when one failed (those after
    // it are still made).
    bool end() {
        while (textures_ > 0) {
            --textures_;
            state.raylib.end_texture_mode(0);
            if (PyErr_Occurred()) return end_after_failure(), false;
        }
        while (blends_ > 0) {
            --blends_;
            state.raylib.end_blend_mode(0);
            if (PyErr_Occurred()) return end_after_failure(), false;
        }
        return true;
    }

    // The ends after a failure, which stays pending.
    void end_after_failure() {
        if (textures_ == 0 && blends_ == 0) return;
        kl::Ref failure = kl::Ref::steal(PyErr_GetRaisedException());
        PyObject* last = failure.get();  // where the next failing end is chained
        for (; textures_ > 0; --textures_) chain(state.raylib.end_texture_mode, last);
        for (; blends_ > 0; --blends_) chain(state.raylib.end_blend_mode, last);
        PyErr_SetRaisedException(failure.release());
    }

private:
    static void chain(void (*end)(int), PyObject*& last) {
        end(0);
        if (!PyErr_Occurred()) return;
        PyObject* raised = PyErr_GetRaisedException();
        PyException_SetContext(last, raised);  // steals `raised`
        last = raised;
    }

    int textures_ = 0;
    int blends_ = 0;
};

// What blit, blit_texture and blit_region do once their arguments are bound:
// the loaded check, then blend mode around texture mode on this render target
// around one drawing (false with the exception set). `dest` is tested only
// once both scopes are begun; whatever fails, the scopes begun are ended.
template <typename Draw>
PyObject* draw_in_scopes(KlRenderTextureObject* self, int blend_mode, PyObject* dest, bool dest_may_be_none,
                         const char* qualname, Draw draw) {
    if (!check_loaded(self)) return fail(qualname);
    CheckedScopes scopes;
    bool drawn = scopes.begin_blend_mode(blend_mode) && scopes.begin_texture_mode(self->render_texture);
    if (drawn && !kl::check_tuple_value(dest, dest_may_be_none)) {
        // The message is the callers'; the note says it in the caller's terms.
        kl::add_note("%s: dest must be a tuple (x, y) or (x, y, width, height), not %.200s",
                     std::strrchr(qualname, '.') + 1, Py_TYPE(dest)->tp_name);
        drawn = false;
    }
    if (!drawn || !draw()) {
        scopes.end_after_failure();
        return fail(qualname);
    }
    if (!scopes.end()) return fail(qualname);
    Py_RETURN_NONE;
}

}  // namespace klrt
