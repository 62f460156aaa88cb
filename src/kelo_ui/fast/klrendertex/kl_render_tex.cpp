// Module start-up of kelo_ui.fast.klrendertex.kl_render_tex: the module
// definition, creation with its interpreter guard, and the execution steps in
// their order. The larger steps live in files of their own (startup.h).
#include <atomic>
#include <cstdint>

#include "kelo_ui/fast/klrendertex/methods.h"
#include "kelo_ui/fast/klrendertex/module_state.h"
#include "kelo_ui/fast/klrendertex/startup.h"
#include "kelo_ui/fast/runtime/function.h"
#include "kelo_ui/fast/runtime/module_def.h"
#include "kelo_ui/fast/runtime/names.h"
#include "kelo_ui/fast/runtime/native_type.h"
#include "kelo_ui/fast/runtime/traceback.h"

namespace klrt {

State state;
KlRenderTextureVTable vtable;

namespace {

using kl::Ref;

// The first interpreter that created the module; every other is refused.
// Atomic because an interpreter with a GIL of its own may reach creation at
// the same time as the first one.
std::atomic<std::int64_t> first_interpreter{-1};

// ---------------------------------------------------------------- creation

bool copy_spec_attribute(PyObject* spec, PyObject* dict, const char* from, const char* to, bool allow_none) {
    PyObject* value = nullptr;
    const int found = PyObject_GetOptionalAttrString(spec, from, &value);
    if (found < 0) return false;
    Ref held = Ref::steal(value);
    if (found == 0 || (!allow_none && value == Py_None)) return true;
    return PyDict_SetItemString(dict, to, value) == 0;
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) return nullptr;
    std::int64_t recorded = -1;
    if (!first_interpreter.compare_exchange_strong(recorded, current) && recorded != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per "
                        "process.");
        return nullptr;
    }
    if (state.module) return Py_NewRef(state.module.object());

    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    PyObject* dict = PyModule_GetDict(module.get());
    if (!copy_spec_attribute(spec, dict, "loader", "__loader__", true) ||
        !copy_spec_attribute(spec, dict, "origin", "__file__", true) ||
        !copy_spec_attribute(spec, dict, "parent", "__package__", true) ||
        !copy_spec_attribute(spec, dict, "submodule_search_locations", "__path__", false)) {
        return nullptr;
    }
    return module.release();
}

// ------------------------------------------------------------------- steps

bool constants_made = false;

bool run_startup(PyObject* module) {
    // 1-3: the module, its dictionary, the built-ins.
    state.module.set(Ref::newref(module));
    state.globals = PyModule_GetDict(module);
    Ref builtins = Ref::steal(PyImport_AddModuleRef("builtins"));
    if (!builtins) return false;
    state.builtins.set(std::move(builtins));
    if (PyObject_SetAttrString(module, "__builtins__", state.builtins.object()) < 0) return false;

    // 4: the interpreter this module was built for.
    const int major = static_cast<int>((Py_Version >> 24) & 0xff);
    const int minor = static_cast<int>((Py_Version >> 16) & 0xff);
    if (major != PY_MAJOR_VERSION || minor != PY_MINOR_VERSION) {
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                             "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                             PY_MAJOR_VERSION, PY_MINOR_VERSION, KLRT_MODULE_NAME, "does not match", major,
                             minor) < 0) {
            return false;
        }
    }

    // 5: constants.
    if (!make_constants()) return false;
    constants_made = true;

    // 6: assertions, fixed for the life of the process.
    {
        Ref debug_name = Ref::steal(PyUnicode_FromString("__debug__"));
        Ref builtins_dict = debug_name ? Ref::steal(PyObject_GetAttrString(state.builtins.object(), "__dict__"))
                                       : Ref();
        Ref debug = builtins_dict ? Ref::steal(PyObject_GetItem(builtins_dict.get(), debug_name.get())) : Ref();
        const int enabled = debug ? PyObject_IsTrue(debug.get()) : -1;
        if (enabled < 0) return false;
        state.assertions_enabled = enabled != 0;
    }

    // 7: the function-object type.
    if (!kl::ready_function_type()) return false;

    // 8: registered under the full name, also when loaded another way.
    {
        PyObject* modules = PyImport_GetModuleDict();
        const int present = PyDict_ContainsString(modules, KLRT_MODULE_NAME);
        if (present < 0) return false;
        if (present == 0 && PyDict_SetItemString(modules, KLRT_MODULE_NAME, module) < 0) return false;
    }

    // 9: staticmethod, for step 16.
    {
        Ref staticmethod = kl::get_builtin(state.builtins.object(), state.names.staticmethod.object());
        if (!staticmethod) return false;
        state.staticmethod.set(std::move(staticmethod));
    }

    // 10: constant tuples and the code objects of the twenty functions.
    FunctionCodes codes;
    if (!make_constant_tuples() || !make_function_codes(codes)) return false;

    // 11-12: the native method table, the readied class with its published
    // table, the class in the module.
    vtable = KlRenderTextureVTable{
        c_fast_blit, c_fast_blit_texture, c_fast_clear, c_clear,    clear,      fast_clear,
        fill,        kill,                get_rect,     get_height, get_width, new_,
    };
    if (!kl::publish_native_type(module, &KlRenderTextureType, &vtable, "KlRenderTexture")) return false;

    // 13: pickling.
    if (!install_pickling(codes)) return false;

    // 14-15: the sibling types and the drawing functions of kelo_raylib.
    if (!import_sibling_types() || !import_raylib_functions()) return false;

    // 16: the module-level statements.
    if (!import_module_globals() || !build_methods(codes)) return false;
    Ref unpickle = make_function(Function::unpickle, codes);
    if (!unpickle || PyDict_SetItem(state.globals, state.names.unpickle.object(), unpickle.get()) < 0) return false;
    Ref test = Ref::steal(PyDict_New());
    if (!test || PyDict_SetItemString(state.globals, "__test__", test.get()) < 0) return false;
    return true;
}

int exec_module(PyObject* module) {
    // 0: one initialisation per process.
    if (state.module) {
        if (state.module.object() == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'kl_render_tex' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    if (run_startup(module)) {
        state.started = true;
        return 0;
    }
    if (state.globals != nullptr && constants_made) kl::add_traceback("init " KLRT_MODULE_NAME, source_path, state.globals);
    state.module.set({});
    state.globals = nullptr;
    return -1;
}

// Creation refuses every interpreter but the first before it touches any
// other state, so the module may let the import system call it from any
// interpreter, isolated ones with a GIL of their own included: their users
// then see the module's own "Interpreter change detected" refusal rather than
// the interpreter's generic one.
kl::ModuleDefinition module_definition({
    .name = "kl_render_tex",
    .create = create_module,
    .exec = exec_module,
    .interpreters = Py_MOD_PER_INTERPRETER_GIL_SUPPORTED,
});

}  // namespace
}  // namespace klrt

PyMODINIT_FUNC PyInit_kl_render_tex() { return klrt::module_definition.init(); }
