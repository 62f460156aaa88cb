// The entries of KlRenderTexture: the table of Python-visible functions, the
// native slots, the type slots, and what every entry shares (the start-up
// guard, the failure that adds a traceback entry, the module-level names).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/args.h"
#include "kelo_ui/fast/runtime/names.h"
#include "kelo_ui/fast/runtime/ref.h"
#include "kelo_ui/fast/runtime/traceback.h"

namespace klrt {

// ------------------------------------------------------------ the functions

// Every Python-visible function of the module, in the order start-up builds
// them: X(entry, kind, annotated). Each has its entry `py_<entry>` and its
// signature `sig_<entry>` (name, parameters and their defaults) beside its
// body. `kind`: a method of the class, a static method of it, one of the
// pickling methods (installed before the others) or the module-level
// function. `annotated`: its `texture` parameter is annotated "object".
#define KLRT_FUNCTIONS(X)                           \
    X(from_rl_render_texture, static_method, false) \
    X(blit, method, false)                          \
    X(fast_blit, method, false)                     \
    X(blit_texture, method, true)                   \
    X(fast_blit_texture, method, true)              \
    X(clear, method, false)                         \
    X(fast_clear, method, false)                    \
    X(fill, method, false)                          \
    X(kill, method, false)                          \
    X(get_rect, method, false)                      \
    X(get_height, method, false)                    \
    X(get_width, method, false)                     \
    X(copy, method, false)                          \
    X(enter, method, false)                         \
    X(exit, method, false)                          \
    X(fast_blits, method, false)                    \
    X(blits, method, false)                         \
    X(blit_region, method, false)                   \
    X(fast_blit_region, method, false)              \
    X(reduce, pickling_method, false)               \
    X(setstate, pickling_method, false)             \
    X(unpickle, module_function, false)

enum class Kind { method, static_method, pickling_method, module_function };

#define KLRT_DECLARE(entry, kind, annotated)                                                          \
    PyObject* py_##entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames); \
    extern const kl::Signature sig_##entry;
KLRT_FUNCTIONS(KLRT_DECLARE)
#undef KLRT_DECLARE

// The functions by position in the table.
enum class Function : std::size_t {
#define KLRT_POSITION(entry, kind, annotated) entry,
    KLRT_FUNCTIONS(KLRT_POSITION)
#undef KLRT_POSITION
};
#define KLRT_COUNT(entry, kind, annotated) +1
inline constexpr std::size_t function_count = 0 KLRT_FUNCTIONS(KLRT_COUNT);
#undef KLRT_COUNT

// What a parameter binds when it is not given (kl::Parameter::default_value),
// resolved when the function is built.
enum Default : int {
    zero,        // the module's integer 0
    true_value,  // True
    white,       // Color.White, read when the method is built
};

// ------------------------------------------------------------ the slots

// The native slots, declared from the table's own list.
#define KLRT_DECLARE_SLOT(name, result, parameters) result name parameters;
KL_RENDER_TEXTURE_SLOTS(KLRT_DECLARE_SLOT)
#undef KLRT_DECLARE_SLOT

// What our slot 0 draws: false with the exception set.
bool blit_target(KlRenderTextureObject* kl_texture, PyObject* dest, int flip, PyObject* color);

// Slot 0 as the module's own methods call it, through the record's table (a
// native caller may have put a table of its own there): false with the
// exception set. Our own slot is called as the function it is, so that its
// success needs no look at the thread's error indicator.
inline bool through_table(KlRenderTextureObject* self, KlRenderTextureObject* kl_texture, PyObject* dest, int flip,
                          PyObject* color) {
    if (self->vtab->c_fast_blit == c_fast_blit) [[likely]]
        return blit_target(kl_texture, dest, flip, color);
    self->vtab->c_fast_blit(self, kl_texture, dest, flip, color);
    return !PyErr_Occurred();
}

// Type slots.
PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs);
void tp_dealloc(PyObject* self);
void tp_finalize(PyObject* self);
extern PyGetSetDef properties[];

// Destruction's release step, run once per object (lifecycle.cpp).
void release_once(KlRenderTextureObject* self);

// ------------------------------------------------------------ shared

// ImportError until start-up has succeeded. The class may be reachable
// before that (readied early, or left by a failed start-up), so every way to
// an object is guarded: creation, the functions that take no instance, and
// the native slots, whose table is published before start-up ends. What takes
// an instance needs no guard: no instance exists before start-up succeeds.
inline bool check_started() {
    if (state.started) [[likely]]
        return true;
    PyErr_SetString(PyExc_ImportError, KLRT_MODULE_NAME
                    " has not started (its import failed or is still running): KlRenderTexture "
                    "cannot be used until an import of it succeeds");
    return false;
}

// Add this module's traceback entry for `qualname` to the pending exception.
inline void traceback(const char* qualname) { kl::add_traceback(qualname, source_path, state.globals); }

// The result of a failing entry, once its traceback entry is added: null, -1
// or 0.0, whatever the entry returns. A slot that returns nothing calls
// traceback() where it fails.
struct Failure {
    template <typename T>
    operator T*() const {
        return nullptr;
    }
    operator int() const { return -1; }
    operator double() const { return 0.0; }
};
[[nodiscard]] inline Failure fail(const char* qualname) {
    traceback(qualname);
    return {};
}

// While a public method runs, what the drawing refuses is named after it
// ("KlRenderTexture.blit: the source is dead: ..."), through kelo_raylib's
// c_calling when the module has it. A method run by another (copy's blit)
// leaves the outer one's name.
class Calling {
public:
    explicit Calling(const char* method) noexcept {
        const auto set = state.raylib.c_calling;
        if (set == nullptr) return;
        previous_ = set(method);
        if (previous_ != nullptr) set(previous_);
        active_ = true;
    }
    ~Calling() {
        if (active_) state.raylib.c_calling(previous_);
    }
    Calling(const Calling&) = delete;
    Calling& operator=(const Calling&) = delete;

private:
    const char* previous_ = nullptr;
    bool active_ = false;
};
#define KLRT_METHOD(method) "KlRenderTexture." method

// A module-level name (`md`, `kelo_state`, ...): the module's dictionary,
// then the built-ins.
inline kl::Ref global(const kl::Pinned<>& name) {
    return kl::get_global(state.globals, state.builtins.object(), name.object());
}

// `md.rl`, the raylib binding.
inline kl::Ref raylib_binding() {
    kl::Ref md = global(state.names.md);
    if (!md) return {};
    return kl::Ref::steal(PyObject_GetAttr(md.get(), state.names.rl.object()));
}

}  // namespace klrt
