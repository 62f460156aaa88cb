// What every entry point of the module shares: the start-up guard, the
// traceback entry a failure adds, and the module-level names looked up at
// every call.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/klrendertex/module_state.h"
#include "kelo_ui/fast/runtime/names.h"
#include "kelo_ui/fast/runtime/ref.h"
#include "kelo_ui/fast/runtime/traceback.h"

namespace klrt {

// ImportError until start-up has succeeded. The class may be reachable
// before that (readied early, or left by a failed start-up), so every way to
// an object is guarded: creation, the functions that take no instance, and
// the native slots, whose table is published before start-up ends. What takes
// an instance needs no guard: no instance exists before start-up succeeds.
inline bool check_started() {
    if (state.started) [[likely]] return true;
    PyErr_SetString(PyExc_ImportError,
                    KLRT_MODULE_NAME " has not started (its import failed or is still running): KlRenderTexture "
                    "cannot be used until an import of it succeeds");
    return false;
}

// Add this module's traceback entry for `qualname` to the pending exception.
inline void traceback(const char* qualname) { kl::add_traceback(qualname, source_path, state.globals); }

// A module-level name (`md`, `kelo_state`, ...): the module's dictionary,
// then the built-ins.
inline kl::Ref global(const kl::Pinned<>& name) {
    return kl::get_global(state.globals, state.builtins.object(), name.object());
}

// `md.rl`, the raylib binding.
kl::Ref raylib_binding();

}  // namespace klrt
