// The window's side of the native backend: who may draw (the window's
// thread, attached), the releases other threads left for it, and the scope
// stacks of texture mode and blend mode with the raylib calls that keep
// raylib's current target and blend mode those of the innermost scopes.
#include "kelo_ui/fast/raylib/private/backend_object.h"

#include <utility>
#include <vector>

#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/raylib/private/native_backend.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {
namespace {

kl::Pinned<> run_pending_releases_name;  // the methods asked of the window's objects
kl::Pinned<> why_dead_name;

}  // namespace

bool intern_window_names() {
    Ref run_pending = Ref::steal(PyUnicode_InternFromString("run_pending_releases"));
    Ref why_dead = Ref::steal(PyUnicode_InternFromString("why_dead"));
    if (!run_pending || !why_dead) return false;
    run_pending_releases_name.set(std::move(run_pending));
    why_dead_name.set(std::move(why_dead));
    return true;
}

// ------------------------------------------------------------ the checks

bool refuse(BackendObject* self, const char* function) {
    if (!self->window.objects) {
        if (self->window.detached_because)
            PyErr_Format(PyExc_RuntimeError, "%s: raylib has no open window to draw into (%S)", function,
                         self->window.detached_because.get());
        else
            PyErr_Format(PyExc_RuntimeError, "%s: raylib has no open window to draw into (the backend is not "
                         "attached to a window)", function);
        return false;
    }
    PyErr_Format(PyExc_RuntimeError, "%s: called from thread %lu, but the window draws on its own thread (%lu) only",
                 function, PyThread_get_thread_ident(), self->window.thread);
    return false;
}


// A texture or render texture whose GPU object is gone (id 0) is refused,
// saying why as the window's objects know it.
bool dead(BackendObject* self, const char* function, const char* parameter, PyObject* object) {
    if (self->window.objects) {
        Ref objects = Ref::newref(self->window.objects.get());
        PyObject* args[] = {objects.get(), object};
        Ref why = Ref::steal(PyObject_VectorcallMethod(why_dead_name.object(), args,
                                                       2, nullptr));
        if (!why) return false;
        if (PyUnicode_Check(why.get())) {
            PyErr_Format(PyExc_RuntimeError, "%s: %s is dead: %U", function, parameter, why.get());
            return false;
        }
    }
    PyErr_Format(PyExc_RuntimeError, "%s: %s is dead: it has no GPU object (id 0)", function, parameter);
    return false;
}

bool enter_slowly(BackendObject* self, const char* function) {
    if (self->window.thread != PyThread_get_thread_ident()) return refuse(self, function);
    self->window.pending = false;
    Ref objects = Ref::newref(self->window.objects.get());
    PyObject* args[] = {objects.get()};
    return static_cast<bool>(Ref::steal(
        PyObject_VectorcallMethod(run_pending_releases_name.object(), args, 1, nullptr)));
}

// ------------------------------------------------------------ the stacks

bool make_current(BackendObject* self, unsigned int previous_id, const char* function) {
    const Binding& binding = self->binding;
    const TextureScope* current = self->window.current();
    if (current == nullptr) {
        if (previous_id != 0) binding.raylib.EndTextureMode();
        return true;
    }
    const TextureScope& top = *current;
    if (top.id == previous_id) return true;
    rl::RenderTexture target;
    if (!from_cdata(binding, render_texture_struct, top.render_texture.get(), &target, {function, "render_texture"},
                    "a raylib RenderTexture"))
        return false;
    if (target.id == 0) return dead(self, function, "the enclosing render texture", top.render_texture.get());
    binding.raylib.BeginTextureMode(target);
    return true;
}

void forget_scopes(WindowState& window, std::vector<TextureScope>& dropped) {
    dropped = std::move(window.targets);
    window.targets.clear();
    window.blends.clear();
}

PyObject* method_attach(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("attach", nargs, 1)) return nullptr;
    WindowState& window = backend_of(self)->window;
    std::vector<TextureScope> dropped;
    forget_scopes(window, dropped);
    if (!growing([&] { window.targets.reserve(16); })) return nullptr;
    Ref objects = Ref::newref(args[0]);
    std::swap(window.objects, objects);
    window.thread = PyThread_get_thread_ident();
    window.pending = false;
    Py_RETURN_NONE;
}

PyObject* method_detach(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("detach", nargs, 1)) return nullptr;
    WindowState& window = backend_of(self)->window;
    std::vector<TextureScope> dropped;
    forget_scopes(window, dropped);
    window.thread = 0;
    Ref objects = std::move(window.objects);
    Ref because = Ref::newref(args[0]);
    std::swap(window.detached_because, because);
    Py_RETURN_NONE;
}

PyObject* method_current_target(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("current_target", nargs, 0)) return nullptr;
    const TextureScope* current = backend_of(self)->window.current();
    return Py_NewRef(current ? current->render_texture.get() : Py_None);
}

PyObject* method_forget_target(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "forget_target";
    if (!kl::check_positional_count(function, nargs, 1)) return nullptr;
    BackendObject* backend = backend_of(self);
    WindowState& window = backend->window;
    if (window.thread != PyThread_get_thread_ident()) {
        refuse(backend, function);
        return nullptr;
    }
    rl::RenderTexture target;
    if (!from_cdata(backend->binding, render_texture_struct, args[0], &target, {function, "render_texture"},
                    "a raylib RenderTexture"))
        return nullptr;
    if (target.id == 0) Py_RETURN_NONE;
    const unsigned int previous = window.target_id();
    // Released only once the loop is done: a release may run Python code.
    std::vector<Ref> dropped;
    if (!growing([&] {
            for (TextureScope& scope : window.targets) {
                if (scope.render_texture && scope.id == target.id) {
                    dropped.push_back(Ref());
                    std::swap(dropped.back(), scope.render_texture);
                    scope.id = 0;
                }
            }
        }))
        return nullptr;
    if (backend->binding.raylib.IsWindowReady() && !make_current(backend, previous, function)) return nullptr;
    Py_RETURN_NONE;
}

PyObject* method_end_scopes(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "end_scopes";
    if (!kl::check_positional_count(function, nargs, 0)) return nullptr;
    BackendObject* backend = backend_of(self);
    WindowState& window = backend->window;
    if (window.thread != PyThread_get_thread_ident()) {
        refuse(backend, function);
        return nullptr;
    }
    const std::size_t ended = window.targets.size() + window.blends.size();
    const bool textures = !window.targets.empty();
    const bool blends = !window.blends.empty();
    std::vector<TextureScope> dropped;
    forget_scopes(window, dropped);
    if (backend->binding.raylib.IsWindowReady()) {
        if (textures) backend->binding.raylib.EndTextureMode();
        if (blends) backend->binding.raylib.EndBlendMode();
    }
    return PyLong_FromSize_t(ended);
}

PyObject* method_open_scopes(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("open_scopes", nargs, 0)) return nullptr;
    const WindowState& window = backend_of(self)->window;
    return PyLong_FromSize_t(window.targets.size() + window.blends.size());
}

PyObject* method_note_pending_releases(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("note_pending_releases", nargs, 0)) return nullptr;
    backend_of(self)->window.pending = true;
    Py_RETURN_NONE;
}

void begin_texture_mode(PyObject* backend, PyObject* render_texture_object) {
    constexpr const char* function = "begin_texture_mode";
    BackendObject* self = backend_of(backend);
    if (!enter(self, function)) return;
    Ref render_texture = Ref::newref(render_texture_object);
    rl::RenderTexture target;
    if (!from_cdata(self->binding, render_texture_struct, render_texture.get(), &target,
                    {function, "render_texture"}, "a raylib RenderTexture"))
        return;
    if (target.id == 0 || target.texture.id == 0) {
        dead(self, function, "render_texture", render_texture.get());
        return;
    }
    if (!ready(self, function)) return;
    WindowState& window = self->window;
    // The target that is current already is not begun again: raylib would
    // draw its batch for nothing.
    const bool begin = target.id != window.target_id();
    if (!growing([&] { window.targets.push_back({std::move(render_texture), target.id}); })) return;
    if (begin) self->binding.raylib.BeginTextureMode(target);
}

void end_texture_mode(PyObject* backend) {
    constexpr const char* function = "end_texture_mode";
    BackendObject* self = backend_of(backend);
    if (!enter(self, function) || !ready(self, function)) return;
    WindowState& window = self->window;
    if (window.targets.empty()) {
        self->binding.raylib.EndTextureMode();  // nothing of ours is open: harmless, as raylib's own end is
        return;
    }
    const unsigned int previous = window.target_id();
    TextureScope ended = std::move(window.targets.back());
    window.targets.pop_back();
    make_current(self, previous, function);
}

void begin_blend_mode(PyObject* backend, int blend_mode) {
    constexpr const char* function = "begin_blend_mode";
    BackendObject* self = backend_of(backend);
    if (!enter(self, function)) return;
    if (blend_mode < 0 || blend_mode >= blend_mode_count) {
        PyErr_Format(PyExc_ValueError, "%s: %d is not one of raylib's blend modes (0 to %d)", function, blend_mode,
                     blend_mode_count - 1);
        return;
    }
    if (!ready(self, function)) return;
    WindowState& window = self->window;
    const bool change = blend_mode != window.blend_mode();
    if (!growing([&] { window.blends.push_back(blend_mode); })) return;
    if (change) self->binding.raylib.BeginBlendMode(blend_mode);
}

void end_blend_mode(PyObject* backend) {
    constexpr const char* function = "end_blend_mode";
    BackendObject* self = backend_of(backend);
    if (!enter(self, function) || !ready(self, function)) return;
    WindowState& window = self->window;
    if (window.blends.empty()) {
        self->binding.raylib.EndBlendMode();
        return;
    }
    const int ended = window.blends.back();
    window.blends.pop_back();
    if (window.blend_mode() != ended) self->binding.raylib.BeginBlendMode(window.blend_mode());
}

}  // namespace kelo_raylib::native
