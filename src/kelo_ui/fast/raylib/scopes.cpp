// Who may draw, and the scope stacks: the refusals every call of the window
// context makes (no window, another thread, a dead object), and the stacks of
// texture mode and blend mode with the raylib calls that keep raylib's current
// target and blend mode those of the innermost scopes.
#include <utility>
#include <vector>

#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {

// ------------------------------------------------------------ the checks

constinit thread_local const char* calling __attribute__((tls_model("initial-exec"))) = nullptr;

const char* set_calling(const char* method) { return std::exchange(calling, method); }

bool refuse(ContextObject* self, const char* called) {
    const char* function = shown(called);
    if (self->thread != 0) {
        PyErr_Format(PyExc_RuntimeError,
                     "%s: called from thread %lu, but the window's GPU objects are made, drawn and released on its "
                     "own thread (%lu) only",
                     function, PyThread_get_thread_ident(), self->thread);
    } else if (self->inactive_because == Death::forked) {
        PyErr_Format(PyExc_RuntimeError,
                     "%s: no window is open in this process: it was forked from the one whose window was open; the "
                     "window, its X server and its GPU objects are that process's",
                     function);
    } else {
        PyErr_Format(PyExc_RuntimeError, "%s: no window is open%s; open one with kelo_ui.window.open_window", function,
                     self->inactive_because == Death::window_closed ? " (the window has closed)" : "");
    }
    return false;
}

bool enter_slowly(ContextObject* self, const char* function) {
    if (self->thread != PyThread_get_thread_ident()) return refuse(self, function);
    self->pending = false;
    if (run_pending_releases(self)) return true;
    self->pending = true;  // the one that failed stays pending
    return false;
}

bool dead(ContextObject* self, const char* function, const char* parameter, PyObject* object) {
    const char* why = nullptr;
    if (is_cdata(self->binding, object)) why = why_dead(self, address_of(object));
    PyErr_Format(PyExc_RuntimeError, "%s: %s is dead: %s", shown(function), parameter,
                 why ? why : "it has no GPU object (id 0)");
    return false;
}

// ------------------------------------------------------------ the stacks

namespace {

// A cell's part of its page: drawing lands inside it, with the origin at its
// top-left corner, as in a target of its size (raylib's BeginTextureMode has
// just set up the whole page). Its clip is its scope's (scope_state.cpp).
void enter_area(const Functions& raylib, const Area& area) {
    raylib.rlViewport(area.x, area.y, area.width, area.height);
    raylib.rlMatrixMode(rl_projection);
    raylib.rlLoadIdentity();
    raylib.rlOrtho(0.0f, static_cast<float>(area.width), static_cast<float>(area.height), 0.0f, 0.0f, 1.0f);
    raylib.rlMatrixMode(rl_modelview);
    raylib.rlLoadIdentity();
}

// raylib's texture mode on `target`, whose texture's struct is `whole` (a
// cell's page: raylib never sees a struct whose size is not its texture's).
void begin_target(const Functions& raylib, const rl::RenderTexture& whole, const Target& target) {
    raylib.BeginTextureMode(whole);
    if (!target.area.whole()) enter_area(raylib, target.area);
}

// What `render_texture` (a RenderTexture cdata whose struct is `value`)
// draws into, and the struct raylib is given for it.
Target target_of(const ContextObject* self, PyObject* render_texture, const rl::RenderTexture& value,
                 rl::RenderTexture& whole) {
    const Cell* cell = cell_at(self, reinterpret_cast<CDataHead*>(render_texture)->c_data);
    whole = cell ? *cell->page_data : value;
    return {value.id, cell ? cell->area : Area{}, whole.texture.width, whole.texture.height};
}

}  // namespace

bool make_current(ContextObject* self, Target previous, const char* function, bool anew) {
    const Functions& raylib = self->binding.raylib;
    Scopes& scopes = self->scopes;
    TextureScope* current = scopes.current();
    if (current == nullptr) {
        if (previous.id != 0) raylib.EndTextureMode();
        resume_state(self, scopes.window, true);
        return true;
    }
    if (current->target == previous) {
        if (!anew) return true;
        // The same target, but not the same scope's state (the one between
        // them was released): what the ended scope left is taken down.
        DrawState left;
        if (!leave_state(self, left)) return false;
    }
    // Held: the stack may change under the conversion.
    Ref render_texture = Ref::newref(current->render_texture.get());
    rl::RenderTexture value;
    if (!from_cdata(self->binding, render_texture_struct, render_texture.get(), &value, {function, "render_texture"},
                    "a raylib RenderTexture"))
        return false;
    if (value.id == 0) return dead(self, function, "the enclosing render texture", render_texture.get());
    rl::RenderTexture whole;
    target_of(self, render_texture.get(), value, whole);
    begin_target(raylib, whole, current->target);
    resume_state(self, current->state, false);
    return true;
}

bool forget_target(ContextObject* self, unsigned int id, const void* cell, const char* function) {
    if (id == 0) return true;
    Scopes& scopes = self->scopes;
    const Target previous = scopes.target();
    auto released = [&](const TextureScope& scope) {
        return scope.render_texture && (cell ? reinterpret_cast<CDataHead*>(scope.render_texture.get())->c_data == cell
                                             : scope.target.id == id);
    };
    // What the current target's scopes began is closed while it still exists.
    if (const TextureScope* current = scopes.current(); current && released(*current)) {
        end_live_states(self);
        scopes.matrices_changed = false;  // its matrices go with it: nothing to keep
        if (!leave_state(self, scopes.state())) return false;
    }
    // Released only once the loop is done: a release may run Python code.
    std::vector<TextureScope> dropped;
    if (!growing([&] {
            for (TextureScope& scope : scopes.targets) {
                if (released(scope)) {
                    dropped.push_back(std::move(scope));
                    scope = TextureScope{};
                }
            }
        }))
        return false;
    return make_current(self, previous, function);
}

void forget_scopes(ContextObject* self) {
    Scopes dropped = std::move(self->scopes);
    self->scopes = Scopes{};
}

std::size_t end_scopes(ContextObject* self) {
    Scopes& scopes = self->scopes;
    const std::size_t ended = scopes.open();
    const Functions& raylib = self->binding.raylib;
    if (raylib.IsWindowReady()) {
        end_live_states(self);
        scopes.matrices_changed = false;
        leave_state(self, scopes.state());  // nothing to keep: it cannot fail
        if (!scopes.targets.empty()) raylib.EndTextureMode();
        if (scopes.scissor) raylib.rlDisableScissorTest();
        if (!scopes.blends.empty()) raylib.EndBlendMode();
    }
    forget_scopes(self);
    return ended;
}

void begin_texture_mode(PyObject* context, PyObject* render_texture_object) {
    constexpr const char* function = "begin_texture_mode";
    ContextObject* self = context_of(context);
    if (!enter(self, function)) return;
    Ref render_texture = Ref::newref(render_texture_object);
    rl::RenderTexture value;
    if (!from_cdata(self->binding, render_texture_struct, render_texture.get(), &value, {function, "render_texture"},
                    "a raylib RenderTexture"))
        return;
    if (value.id == 0 || value.texture.id == 0) {
        dead(self, function, "the destination", render_texture.get());
        return;
    }
    if (!ready(self, function)) return;
    const std::uintptr_t key = address_of(render_texture.get());
    if (reserved(self, key)) {
        refuse_reserved(function);
        return;
    }
    Scopes& scopes = self->scopes;
    rl::RenderTexture whole;
    const Target begun = target_of(self, render_texture.get(), value, whole);
    // The target that is current already is not begun again: raylib would
    // draw its batch for nothing. (What raylib does at once rather than in its
    // batch, a clear, draws the batch itself.)
    const bool continues = begun == scopes.target();
    if (continues) {
        if (!growing([&] { scopes.targets.push_back({std::move(render_texture), begun, true, DrawState{}}); })) return;
    } else {
        // Room first: once the state is left, nothing may fail.
        if (!growing([&] { scopes.targets.reserve(scopes.targets.size() + 1); }) || !leave_state(self, scopes.state()))
            return;
        begin_target(self->binding.raylib, whole, begun);
        scopes.targets.push_back({std::move(render_texture), begun, false, DrawState{}});
        tell(self, key);
    }
    begin_state(self, scopes.targets.back());
}

void end_texture_mode(PyObject* context) {
    constexpr const char* function = "end_texture_mode";
    ContextObject* self = context_of(context);
    if (!enter(self, function) || !ready(self, function)) return;
    Scopes& scopes = self->scopes;
    // Nothing of ours is open: nothing to end. (raylib's own end would reset
    // the window's matrices under what md.rl pushed there.)
    if (scopes.targets.empty()) return;
    if (scopes.targets.back().render_texture) end_state(self, scopes.targets.back());
    const Target previous = scopes.target();
    TextureScope ended = std::move(scopes.targets.back());
    scopes.targets.pop_back();
    make_current(self, previous, function, ended.render_texture && !ended.continues);
    // What was drawn into it is done: whoever shows it is told.
    if (ended.render_texture && !ended.continues) tell(self, address_of(ended.render_texture.get()));
}

void begin_blend_mode(PyObject* context, int blend_mode) {
    constexpr const char* function = "begin_blend_mode";
    ContextObject* self = context_of(context);
    if (!enter(self, function)) return;
    if (blend_mode < 0 || blend_mode >= blend_mode_count) {
        PyErr_Format(PyExc_ValueError, "%s: %d is not one of raylib's blend modes (0 to %d)", function, blend_mode,
                     blend_mode_count - 1);
        return;
    }
    if (!ready(self, function)) return;
    Scopes& scopes = self->scopes;
    const bool change = blend_mode != scopes.blend_mode();
    if (!growing([&] { scopes.blends.push_back(blend_mode); })) return;
    if (change) self->binding.raylib.BeginBlendMode(blend_mode);
}

void end_blend_mode(PyObject* context) {
    constexpr const char* function = "end_blend_mode";
    ContextObject* self = context_of(context);
    if (!enter(self, function) || !ready(self, function)) return;
    Scopes& scopes = self->scopes;
    if (scopes.blends.empty()) return self->binding.raylib.EndBlendMode();  // nothing of ours is open
    const int ended = scopes.blends.back();
    scopes.blends.pop_back();
    if (scopes.blend_mode() != ended) self->binding.raylib.BeginBlendMode(scopes.blend_mode());
}

// ------------------------------------------------------------ Python methods

PyObject* method_current_target(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("current_target", nargs, 0)) return nullptr;
    const TextureScope* current = context_of(self)->scopes.current();
    return Py_NewRef(current ? current->render_texture.get() : Py_None);
}

PyObject* method_end_scopes(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "end_scopes";
    if (!kl::check_positional_count(function, nargs, 0)) return nullptr;
    ContextObject* context = context_of(self);
    if (context->thread != PyThread_get_thread_ident()) {
        refuse(context, function);
        return nullptr;
    }
    return PyLong_FromSize_t(end_scopes(context));
}

PyObject* method_open_scopes(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("open_scopes", nargs, 0)) return nullptr;
    return PyLong_FromSize_t(context_of(self)->scopes.open());
}

PyObject* method_begin_texture_mode(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("begin_texture_mode", nargs, 1)) return nullptr;
    begin_texture_mode(self, args[0]);
    return kl::none_unless_error();
}

PyObject* method_end_texture_mode(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("end_texture_mode", nargs, 0)) return nullptr;
    end_texture_mode(self);
    return kl::none_unless_error();
}

PyObject* method_begin_blend_mode(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("begin_blend_mode", nargs, 1)) return nullptr;
    int mode = 0;
    if (!kl::int_argument(args[0], mode)) return nullptr;
    begin_blend_mode(self, mode);
    return kl::none_unless_error();
}

PyObject* method_end_blend_mode(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("end_blend_mode", nargs, 0)) return nullptr;
    end_blend_mode(self);
    return kl::none_unless_error();
}

}  // namespace kelo_raylib::native
