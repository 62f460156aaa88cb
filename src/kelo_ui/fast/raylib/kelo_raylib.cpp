// kelo_ui.fast.raylib.kelo_raylib: the toolkit's native drawing functions.
//
// Each function forwards to the drawing backend, the module attribute
// `backend` looked up at every call: the window context (`context`,
// context.cpp) unless something else was put there. The context is called in
// C and calls raylib itself; any other backend gets a call of its method of
// the same name with the arguments the function received, less the
// skip-dispatch flag. With `backend` None nothing is drawn. A backend that
// raises leaves its exception pending for the native caller, which tests for
// it after every call.
#include "kelo_ui/fast/raylib/kelo_raylib.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"
#include "kelo_ui/fast/runtime/module_def.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace {

using kl::Ref;
namespace native = kelo_raylib::native;

constexpr std::size_t export_count = std::size(kelo_raylib::exports);
using Export = kelo_raylib::ExportIndex;

kl::Pinned<> raylib_module;
kl::Pinned<> backend_name;                // "backend", interned
kl::Pinned<> method_names[export_count];  // interned, in export order
kl::Pinned<> fast_blit_pro_name;

// `backend` as last found in the module's dictionary, borrowed from it; null
// when it must be looked up again. The dictionary is watched and any change
// to it drops the cache before the change is made, so the borrowed value is
// alive whenever it is set, and an assignment takes effect at the next call.
PyObject* cached_backend = nullptr;

int forget_backend(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) {
    cached_backend = nullptr;
    return 0;
}

// The backend to call, or null when there is nothing to do: an error is
// already pending (never run Python code over it), the lookup failed (its
// error is now pending), or the backend is None.
Ref current_backend() {
    if (PyErr_Occurred()) return Ref();
    if (cached_backend == nullptr) {
        PyObject* found = nullptr;
        const int in_dict = PyDict_GetItemRef(PyModule_GetDict(raylib_module.object()), backend_name.object(), &found);
        if (in_dict < 0) return Ref();
        if (in_dict == 0) {
            // Gone from the dictionary: the module's __getattr__, or the
            // interpreter's AttributeError.
            Ref backend = Ref::steal(PyObject_GetAttr(raylib_module.object(), backend_name.object()));
            if (!backend || backend.get() == Py_None) return Ref();
            return backend;
        }
        Ref held = Ref::steal(found);  // the dictionary keeps its own reference
        cached_backend = found;
    }
    // Held for the call: the backend may replace itself while it draws.
    return cached_backend == Py_None ? Ref() : Ref::newref(cached_backend);
}

// An argument as a Python backend's method receives it: an object as it is,
// an int as a new Python int (kept in `held`).
PyObject* as_python(PyObject* object, Ref&) { return object; }
PyObject* as_python(int value, Ref& held) {
    held = Ref::steal(PyLong_FromLong(value));
    return held.get();
}

// What every function does: the context is called in C, with no
// Python call in between; any other backend through its method of the same
// name, whose result is dropped. The backend is held for the call either way:
// converting the arguments, or the method, may replace it. An exception stays
// pending for the caller.
template <Export index, auto native_call, typename... Args>
void forward(Args... args) {
    Ref backend = current_backend();
    if (!backend) return;
    if (native::is_context_object(backend.get())) return native_call(backend.get(), args...);
    Ref held[sizeof...(Args) + 1];
    std::size_t at = 0;
    PyObject* call_args[] = {backend.get(), as_python(args, held[at++])...};
    for (PyObject* argument : call_args)
        if (argument == nullptr) return;  // an int that could not be made
    Ref result = Ref::steal(PyObject_VectorcallMethod(method_names[static_cast<std::size_t>(index)].object(), call_args,
                                                      std::size(call_args), nullptr));
}

void c_clear_background(PyObject* color) { forward<Export::c_clear_background, native::clear_background>(color); }

void c_draw_texture_rec(PyObject* texture, PyObject* source, PyObject* dest, PyObject* color) {
    forward<Export::c_draw_texture_rec, native::draw_texture_rec>(texture, source, dest, color);
}

void c_draw_texture_vec(PyObject* texture, PyObject* dest, PyObject* color, int flip) {
    forward<Export::c_draw_texture_vec, native::draw_texture_vec>(texture, dest, color, flip);
}

// The skip-dispatch flags are dropped: these functions have no overrides.
void begin_texture_mode(PyObject* render_texture, int) {
    forward<Export::begin_texture_mode, native::begin_texture_mode>(render_texture);
}

void clear_background(PyObject* color, int) { forward<Export::clear_background, native::clear_background>(color); }

void end_blend_mode(int) { forward<Export::end_blend_mode, native::end_blend_mode>(); }

void end_texture_mode(int) { forward<Export::end_texture_mode, native::end_texture_mode>(); }

void begin_blend_mode(int blend_mode, int) { forward<Export::begin_blend_mode, native::begin_blend_mode>(blend_mode); }

// The lean blits go through the context only, and only when it is
// already known (the cache): finding it otherwise may run code, which they
// leave to the caller's ordinary path.
int c_draw_render_texture_vec(PyObject* render_texture, PyObject* dest, PyObject* color, int flip) {
    PyObject* backend = cached_backend;
    if (backend == nullptr || !native::is_context_object(backend)) return 0;
    return native::draw_render_texture_vec(backend, render_texture, dest, color, flip);
}

int c_draw_render_texture_rec(PyObject* render_texture, double source_width, double source_height, PyObject* dest,
                              PyObject* color) {
    PyObject* backend = cached_backend;
    if (backend == nullptr || !native::is_context_object(backend)) return 0;
    return native::draw_render_texture_rec(backend, render_texture, source_width, source_height, dest, color);
}

int c_draw_render_texture_area(PyObject* render_texture, double x, double y, double width, double height,
                               PyObject* dest, PyObject* color, int flip) {
    PyObject* backend = cached_backend;
    if (backend == nullptr || !native::is_context_object(backend)) return 0;
    return native::draw_render_texture_area(backend, render_texture, x, y, width, height, dest, color, flip);
}

const char* c_calling(const char* method) { return native::set_calling(method); }

// In export order, each checked against its declared type.
#define X_EXPORT(name, result, parameters, signature, required) \
    reinterpret_cast<void*>(static_cast<kelo_raylib::function_type::name>(name)),
void* const entries[export_count] = {KELO_RAYLIB_DRAWING_FUNCTIONS(KELO_RAYLIB_DRAWING_EXPORT)
                                         KELO_RAYLIB_LEAN_FUNCTIONS(KELO_RAYLIB_LEAN_EXPORT)};
#undef X_EXPORT

// --- the same functions for Python callers -----------------------------------

PyObject* py_c_clear_background(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_clear_background", nargs, 1)) return nullptr;
    c_clear_background(args[0]);
    return kl::none_unless_error();
}

PyObject* py_c_draw_texture_rec(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_draw_texture_rec", nargs, 4)) return nullptr;
    c_draw_texture_rec(args[0], args[1], args[2], args[3]);
    return kl::none_unless_error();
}

PyObject* py_c_draw_texture_vec(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    int flip;
    if (!kl::check_positional_count("c_draw_texture_vec", nargs, 4) || !kl::int_argument(args[3], flip)) return nullptr;
    c_draw_texture_vec(args[0], args[1], args[2], flip);
    return kl::none_unless_error();
}

PyObject* py_begin_texture_mode(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("begin_texture_mode", nargs, 1)) return nullptr;
    begin_texture_mode(args[0], 1);
    return kl::none_unless_error();
}

PyObject* py_clear_background(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("clear_background", nargs, 1)) return nullptr;
    clear_background(args[0], 1);
    return kl::none_unless_error();
}

PyObject* py_end_blend_mode(PyObject*, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("end_blend_mode", nargs, 0)) return nullptr;
    end_blend_mode(1);
    return kl::none_unless_error();
}

PyObject* py_end_texture_mode(PyObject*, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("end_texture_mode", nargs, 0)) return nullptr;
    end_texture_mode(1);
    return kl::none_unless_error();
}

PyObject* py_begin_blend_mode(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    int mode;
    if (!kl::check_positional_count("begin_blend_mode", nargs, 1) || !kl::int_argument(args[0], mode)) return nullptr;
    begin_blend_mode(mode, 1);
    return kl::none_unless_error();
}

// The display's blit, forwarded as the functions above are.
PyObject* py_fast_blit_pro(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("fast_blit_pro", nargs, 4)) return nullptr;
    Ref backend = current_backend();
    if (!backend) return kl::none_unless_error();
    if (native::is_context_object(backend.get())) {
        if (!native::fast_blit_pro(backend.get(), args[0], args[1], args[2], args[3])) return nullptr;
        Py_RETURN_NONE;
    }
    PyObject* call_args[] = {backend.get(), args[0], args[1], args[2], args[3]};
    Ref result =
        Ref::steal(PyObject_VectorcallMethod(fast_blit_pro_name.object(), call_args, std::size(call_args), nullptr));
    return result ? Py_NewRef(Py_None) : nullptr;
}

#define KL_FUNCTION(name, result, parameters, signature, python, doc)                              \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_##name)), METH_FASTCALL, \
     #name "(" python ")\n--\n\n" doc},

PyMethodDef raylib_functions[] = {
    KELO_RAYLIB_DRAWING_FUNCTIONS(KL_FUNCTION){
        "fast_blit_pro", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_fast_blit_pro)), METH_FASTCALL,
        "fast_blit_pro(texture, dest, flip, color)\n--\n\nThe display's blit: draw a texture into the current target."},
    {nullptr, nullptr, 0, nullptr},
};

#undef KL_FUNCTION

// The C functions read `backend` from the module's dictionary. That state is
// process-wide: one interpreter, one module (the runtime's policy).
int raylib_exec(PyObject* module) {
    Ref backend_key = Ref::steal(PyUnicode_InternFromString("backend"));
    if (!backend_key) return -1;
    backend_name.set(std::move(backend_key));
    Ref exports = Ref::steal(PyDict_New());
    if (!exports) return -1;
    for (std::size_t i = 0; i < export_count; ++i) {
        const kelo_raylib::Export& e = kelo_raylib::exports[i];
        Ref name = Ref::steal(PyUnicode_InternFromString(e.name));
        // The capsule is named after the signature: importers check it.
        Ref capsule = Ref::steal(PyCapsule_New(entries[i], e.signature, nullptr));
        if (!name || !capsule || PyDict_SetItem(exports.get(), name.get(), capsule.get()) < 0) return -1;
        method_names[i].set(std::move(name));
    }
    Ref blit_pro = Ref::steal(PyUnicode_InternFromString("fast_blit_pro"));
    if (!blit_pro) return -1;
    fast_blit_pro_name.set(std::move(blit_pro));
    if (PyModule_AddObjectRef(module, "__pyx_capi__", exports.get()) < 0) return -1;
    if (!kelo_raylib::native::add_to_module(module)) return -1;
    if (PyModule_AddObjectRef(module, "backend", kelo_raylib::native::the_context()) < 0) return -1;
    // One watcher for the life of the process (the interpreter has only a
    // few); an execution retried after a failure moves it from the old
    // dictionary to the new one.
    static int watcher = -1;
    if (watcher < 0 && (watcher = PyDict_AddWatcher(forget_backend)) < 0) return -1;
    if (PyDict_Watch(watcher, PyModule_GetDict(module)) < 0) return -1;
    if (raylib_module && raylib_module.object() != module &&
        PyDict_Unwatch(watcher, PyModule_GetDict(raylib_module.object())) < 0) {
        return -1;
    }
    cached_backend = nullptr;
    raylib_module.set(Ref::newref(module));
    return 0;
}

kl::ModuleDefinition raylib_module_definition({
    .name = kelo_raylib::module_name,
    .doc = "The toolkit's native drawing functions, forwarded to `backend` (the window context).",
    .functions = raylib_functions,
    .exec = raylib_exec,
    .other_interpreter = "kelo_raylib can be used by one interpreter only",
});

}  // namespace

PyMODINIT_FUNC PyInit_kelo_raylib() { return raylib_module_definition.init(); }
