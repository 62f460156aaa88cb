// Module start-up of kelo_ui.fast.klrendertex.kl_render_tex: the module
// definition, creation, and the phases of execution in their order. The
// larger phases live in files of their own (private/startup.h); the runtime's
// module policy (module_def.h) refuses other interpreters and a second
// initialisation.
#include "kelo_ui/fast/klrendertex/private/startup.h"
#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
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

// ---------------------------------------------------------------- creation

bool copy_found_attribute(PyObject* module_spec, PyObject* dict, const char* from, const char* to, bool allow_none) {
    PyObject* value = nullptr;
    const int found = PyObject_GetOptionalAttrString(module_spec, from, &value);
    if (found < 0) return false;
    Ref held = Ref::steal(value);
    if (found == 0 || (!allow_none && value == Py_None)) return true;
    return PyDict_SetItemString(dict, to, value) == 0;
}

// A new module with the name the import system gives it, and the loader,
// origin, parent and search locations it found copied in (the runtime's
// policy has already refused other interpreters and handed out a module made
// before).
PyObject* create_module(PyObject* module_spec) {
    Ref name = Ref::steal(PyObject_GetAttrString(module_spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    PyObject* dict = PyModule_GetDict(module.get());
    if (!copy_found_attribute(module_spec, dict, "loader", "__loader__", true) ||
        !copy_found_attribute(module_spec, dict, "origin", "__file__", true) ||
        !copy_found_attribute(module_spec, dict, "parent", "__package__", true) ||
        !copy_found_attribute(module_spec, dict, "submodule_search_locations", "__path__", false)) {
        return nullptr;
    }
    return module.release();
}

// ------------------------------------------------------------------- phases
//
// Execution runs these phases in this order, each only when all before it
// succeeded. The orderings that matter:
// - the names and constants come before everything that uses them, and a
//   failure adds its traceback entry only once they exist;
// - the module is in sys.modules before anything is imported, so that an
//   import that comes back to it finds it;
// - the class is published (ready, with its table) before pickling is
//   installed in it and before the siblings, which may look at it, are
//   imported; its methods are built last, after the module-level names
//   (Color.White is read for their defaults);
// - `started` is set only once everything succeeded (exec_module).

bool constants_made = false;

// The module, its dictionary, the built-ins as its __builtins__.
bool enter_module(PyObject* module) {
    state.module.set(Ref::newref(module));
    state.globals = PyModule_GetDict(module);
    Ref builtins = Ref::steal(PyImport_AddModuleRef("builtins"));
    if (!builtins) return false;
    state.builtins.set(std::move(builtins));
    return PyObject_SetAttrString(module, "__builtins__", state.builtins.object()) == 0;
}

// The interpreter this module was built for: another one only warns.
bool check_version() {
    const int major = static_cast<int>((Py_Version >> 24) & 0xff);
    const int minor = static_cast<int>((Py_Version >> 16) & 0xff);
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return true;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                            PY_MAJOR_VERSION, PY_MINOR_VERSION, KLRT_MODULE_NAME, "does not match", major, minor) == 0;
}

// Assertions, fixed for the life of the process: the built-in __debug__.
bool read_assertions() {
    Ref debug_name = Ref::steal(PyUnicode_FromString("__debug__"));
    Ref builtins_dict = debug_name ? Ref::steal(PyObject_GetAttrString(state.builtins.object(), "__dict__")) : Ref();
    Ref debug = builtins_dict ? Ref::steal(PyObject_GetItem(builtins_dict.get(), debug_name.get())) : Ref();
    const int enabled = debug ? PyObject_IsTrue(debug.get()) : -1;
    if (enabled < 0) return false;
    state.assertions_enabled = enabled != 0;
    return true;
}

// Registered under the full name, also when loaded another way.
bool register_module(PyObject* module) {
    PyObject* modules = PyImport_GetModuleDict();
    const int present = PyDict_ContainsString(modules, KLRT_MODULE_NAME);
    if (present < 0) return false;
    return present == 1 || PyDict_SetItemString(modules, KLRT_MODULE_NAME, module) == 0;
}

// The built-in staticmethod, for the static method among the class's methods.
bool find_staticmethod() {
    Ref staticmethod = kl::get_builtin(state.builtins.object(), state.names.staticmethod.object());
    if (!staticmethod) return false;
    state.staticmethod.set(std::move(staticmethod));
    return true;
}

// The native method table, the readied class with its published table, the
// class in the module. Each slot is filled by name from the header's list.
bool publish_class(PyObject* module) {
#define KLRT_FILL_SLOT(name, result, parameters) .name = name,
    vtable = KlRenderTextureVTable{KL_RENDER_TEXTURE_SLOTS(KLRT_FILL_SLOT)};
#undef KLRT_FILL_SLOT
    return kl::publish_native_type(module, &KlRenderTextureType, &vtable, "KlRenderTexture");
}

// The unpickling function and __test__ in the module.
bool bind_module_functions(const FunctionCodes& codes) {
    Ref unpickle = make_function(Function::unpickle, codes);
    if (!unpickle || PyDict_SetItem(state.globals, state.names.unpickle.object(), unpickle.get()) < 0) return false;
    Ref test = Ref::steal(PyDict_New());
    return test && PyDict_SetItemString(state.globals, "__test__", test.get()) == 0;
}

bool run_startup(PyObject* module) {
    if (!enter_module(module) || !check_version() || !make_constants()) return false;
    constants_made = true;
    FunctionCodes codes;
    return read_assertions() && kl::ready_function_type() && register_module(module) && find_staticmethod() &&
           make_constant_tuples() && make_function_codes(codes) && publish_class(module) && install_pickling(codes) &&
           import_sibling_types() && import_raylib_functions() && import_module_globals() && build_methods(codes) &&
           bind_module_functions(codes);
}

// A second execution of this module never gets here (the runtime's policy).
int exec_module(PyObject* module) {
    if (run_startup(module)) {
        state.started = true;
        return 0;
    }
    if (state.globals != nullptr && constants_made)
        kl::add_traceback("init " KLRT_MODULE_NAME, source_path, state.globals);
    state.module.set({});
    state.globals = nullptr;
    return -1;
}

kl::ModuleDefinition module_definition({
    .name = "kl_render_tex",
    .create = create_module,
    .exec = exec_module,
    .other_interpreter =
        "Interpreter change detected - this module can only be loaded into one interpreter per process.",
});

}  // namespace
}  // namespace klrt

PyMODINIT_FUNC PyInit_kl_render_tex() { return klrt::module_definition.init(); }
