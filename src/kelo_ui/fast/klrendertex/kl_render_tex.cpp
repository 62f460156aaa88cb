// Module start-up of kelo_ui.fast.klrendertex.kl_render_tex: the module
// definition, creation with its interpreter guard, and the execution steps
// that ready KlRenderTexture, import the siblings and build the methods.
#include <atomic>
#include <cstdint>

#include "kelo_ui/fast/klrect/klrect.h"
#include "kelo_ui/fast/klrendertex/methods.h"
#include "kelo_ui/fast/klrendertex/entry_point.h"
#include "kelo_ui/fast/klrendertex/module_state.h"
#include "kelo_ui/fast/klrendertex/record.h"
#include "kelo_ui/fast/klshader/klshader.h"
#include "kelo_ui/fast/runtime/function.h"
#include "kelo_ui/fast/runtime/imports.h"

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

// ------------------------------------------------------------- constants

bool intern(kl::Pinned<>& slot, const char* text) {
    Ref name = Ref::steal(PyUnicode_InternFromString(text));
    if (!name) return false;
    slot.set(std::move(name));
    return true;
}

bool make_constants() {
    Names& n = state.names;
    const struct {
        kl::Pinned<>& slot;
        const char* text;
    } names[] = {
        {n.md, "md"},
        {n.rl, "rl"},
        {n.load_render_texture, "load_render_texture"},
        {n.unload_render_texture, "unload_render_texture"},
        {n.is_window_ready, "is_window_ready"},
        {n.render_texture, "render_texture"},
        {n.texture, "texture"},
        {n.width, "width"},
        {n.height, "height"},
        {n.id, "id"},
        {n.depth, "depth"},
        {n.clear, "clear"},
        {n.fast_clear, "fast_clear"},
        {n.fill, "fill"},
        {n.kill, "kill"},
        {n.get_rect, "get_rect"},
        {n.get_height, "get_height"},
        {n.get_width, "get_width"},
        {n.kelo_state, "kelo_state"},
        {n.window, "window"},
        {n.display, "display"},
        {n.fast_blit_pro, "fast_blit_pro"},
        {n.BlendMode, "BlendMode"},
        {n.BLEND_ALPHA, "BLEND_ALPHA"},
        {n.blit, "blit"},
        {n.unpickle, "__pyx_unpickle_KlRenderTexture"},
        {n.dunder_dict, "__dict__"},
        {n.dunder_new, "__new__"},
        {n.update, "update"},
        {n.Color, "Color"},
        {n.White, "White"},
        {n.staticmethod, "staticmethod"},
        {n.KlRenderTexture, "KlRenderTexture"},
        {n.module_name, KLRT_MODULE_NAME},
        {state.filename, source_path},
    };
    for (const auto& entry : names) {
        if (!intern(entry.slot, entry.text)) return false;
    }
    Ref empty = Ref::steal(PyTuple_New(0));
    Ref empty_string = Ref::steal(PyUnicode_New(0, 0));
    Ref zero = Ref::steal(PyLong_FromLong(0));
    Ref checksum = Ref::steal(PyLong_FromLong(0xd7babc0));
    if (!empty || !empty_string || !zero || !checksum) return false;
    state.empty_tuple.set(std::move(empty));
    state.empty_string.set(std::move(empty_string));
    state.int_0.set(std::move(zero));
    state.pickle_checksum.set(std::move(checksum));
    return true;
}

// ------------------------------------------------- the Python-visible functions

enum class Defaults {
    none,
    blend_flip_color,  // (0, True, Color.White)
    flip_color,        // (True, Color.White)
    flip,              // (True,)
};

struct MethodDef {
    kl::FunctionEntry entry;
    const kl::Signature& signature;
    const char* qualname;
    bool is_method;  // false: a static method, or the module-level function
    Defaults defaults;
    int tint;  // index into state.default_tint, or -1
    bool texture_annotation;
};

#define KLRT_METHOD(name) py_##name, sig_##name, "KlRenderTexture." #name

// In the order start-up builds them: the fifteen methods of the class, the
// two pickling operations, and the unpickling function.
const MethodDef functions[] = {
    {KLRT_METHOD(from_rl_render_texture), false, Defaults::none, -1, false},
    {KLRT_METHOD(blit), true, Defaults::blend_flip_color, 0, false},
    {KLRT_METHOD(fast_blit), true, Defaults::flip_color, 1, false},
    {KLRT_METHOD(blit_texture), true, Defaults::blend_flip_color, 2, true},
    {KLRT_METHOD(fast_blit_texture), true, Defaults::flip_color, 3, true},
    {KLRT_METHOD(clear), true, Defaults::none, -1, false},
    {KLRT_METHOD(fast_clear), true, Defaults::none, -1, false},
    {KLRT_METHOD(fill), true, Defaults::none, -1, false},
    {KLRT_METHOD(kill), true, Defaults::none, -1, false},
    {KLRT_METHOD(get_rect), true, Defaults::none, -1, false},
    {KLRT_METHOD(get_height), true, Defaults::none, -1, false},
    {KLRT_METHOD(get_width), true, Defaults::none, -1, false},
    {KLRT_METHOD(copy), true, Defaults::flip, -1, false},
    {py_enter, sig_enter, "KlRenderTexture.__enter__", true, Defaults::none, -1, false},
    {py_exit, sig_exit, "KlRenderTexture.__exit__", true, Defaults::none, -1, false},
    {py_reduce, sig_reduce, "KlRenderTexture.__reduce__", true, Defaults::none, -1, false},
    {py_setstate, sig_setstate, "KlRenderTexture.__setstate__", true, Defaults::none, -1, false},
    {py_unpickle, sig_unpickle, "__pyx_unpickle_KlRenderTexture", false, Defaults::none, -1, false},
};

#undef KLRT_METHOD

constexpr std::size_t class_method_count = 15;
constexpr std::size_t reduce_index = 15;
constexpr std::size_t setstate_index = 16;
constexpr std::size_t unpickle_index = 17;
constexpr std::size_t function_count = sizeof(functions) / sizeof(functions[0]);
static_assert(function_count == 18);

kl::FunctionSpec function_spec(const MethodDef& def, PyObject* defaults, PyObject* annotations) {
    return kl::FunctionSpec{
        def.entry,
        def.is_method ? &KlRenderTextureType : nullptr,
        &def.signature,
        def.qualname,
        state.names.module_name.object(),
        state.filename.object(),
        defaults,
        annotations,
        check_started,
    };
}

// Color.White, read afresh: None or exactly a tuple.
Ref read_default_tint() {
    Ref color = global(state.names.Color);
    if (!color) return {};
    Ref white = Ref::steal(PyObject_GetAttr(color.get(), state.names.White.object()));
    if (!white || !kl::check_tuple_value(white.get(), true)) return {};
    return white;
}

// The __defaults__ of a method; for the blit methods this also reads and
// stores the tint they use when `color` is omitted.
bool build_defaults(const MethodDef& def, Ref& defaults) {
    switch (def.defaults) {
        case Defaults::none:
            return true;
        case Defaults::flip:
            defaults = Ref::newref(state.true_tuple.object());
            return true;
        case Defaults::blend_flip_color:
        case Defaults::flip_color: {
            Ref stored = read_default_tint();
            if (!stored) return false;
            state.default_tint[def.tint].set(std::move(stored));
            Ref shown = read_default_tint();
            if (!shown) return false;
            defaults = def.defaults == Defaults::blend_flip_color
                           ? Ref::steal(PyTuple_Pack(3, state.int_0.object(), Py_True, shown.get()))
                           : Ref::steal(PyTuple_Pack(2, Py_True, shown.get()));
            return static_cast<bool>(defaults);
        }
    }
    return true;
}

Ref texture_annotations() {
    Ref annotations = Ref::steal(PyDict_New());
    Ref object_name = Ref::steal(PyUnicode_FromString("object"));
    if (!annotations || !object_name ||
        PyDict_SetItemString(annotations.get(), "texture", object_name.get()) < 0) {
        return {};
    }
    return annotations;
}

// Store `value` in the class's dictionary; the class is immutable to Python,
// so its dictionary is written directly and the type caches told.
bool set_class_attribute(PyObject* class_dict, const char* name, PyObject* value) {
    if (PyDict_SetItemString(class_dict, name, value) < 0) return false;
    PyType_Modified(&KlRenderTextureType);
    return true;
}

// Step 16.5: the fifteen methods, stored in the class's dictionary in order.
bool build_methods(Ref (&codes)[function_count]) {
    Ref class_dict = Ref::steal(PyType_GetDict(&KlRenderTextureType));
    if (!class_dict) return false;
    for (std::size_t i = 0; i < class_method_count; ++i) {
        const MethodDef& def = functions[i];
        Ref defaults;
        if (!build_defaults(def, defaults)) return false;
        Ref annotations = def.texture_annotation ? texture_annotations() : Ref::steal(PyDict_New());
        if (!annotations) return false;
        Ref function = kl::make_function(function_spec(def, defaults.get(), annotations.get()), codes[i].get());
        if (!function || !set_class_attribute(class_dict.get(), def.signature.name, function.get())) return false;
        if (!def.is_method) {
            // A static method: read back from the class and wrapped in place.
            PyObject* stored = nullptr;
            if (PyDict_GetItemStringRef(class_dict.get(), def.signature.name, &stored) <= 0) {
                if (!PyErr_Occurred()) PyErr_SetString(PyExc_KeyError, def.signature.name);
                return false;
            }
            Ref stored_ref = Ref::steal(stored);
            Ref wrapped = Ref::steal(PyObject_CallOneArg(state.staticmethod.object(), stored));
            if (!wrapped || !set_class_attribute(class_dict.get(), def.signature.name, wrapped.get())) return false;
        }
    }
    return true;
}

Ref build_plain_function(std::size_t index, PyObject* code) {
    Ref annotations = Ref::steal(PyDict_New());
    if (!annotations) return {};
    return kl::make_function(function_spec(functions[index], nullptr, annotations.get()), code);
}

// The installation proper: true once installed, or when the class pickles
// through a __getstate__ or __reduce_ex__ of its own. Each call is checked
// before the next is made.
bool try_install_pickling(Ref (&codes)[function_count]) {
    PyObject* type = reinterpret_cast<PyObject*>(&KlRenderTextureType);
    PyObject* base = reinterpret_cast<PyObject*>(&PyBaseObject_Type);
    Ref getstate = Ref::steal(PyObject_GetAttrString(type, "__getstate__"));
    if (!getstate) return false;
    Ref object_getstate = Ref::steal(PyObject_GetAttrString(base, "__getstate__"));
    if (!object_getstate) return false;
    Ref reduce_ex = Ref::steal(PyObject_GetAttrString(type, "__reduce_ex__"));
    if (!reduce_ex) return false;
    Ref object_reduce_ex = Ref::steal(PyObject_GetAttrString(base, "__reduce_ex__"));
    if (!object_reduce_ex) return false;
    if (getstate.get() != object_getstate.get() || reduce_ex.get() != object_reduce_ex.get()) return true;
    Ref class_dict = Ref::steal(PyType_GetDict(&KlRenderTextureType));
    if (!class_dict) return false;
    Ref reduce = build_plain_function(reduce_index, codes[reduce_index].get());
    if (!reduce) return false;
    Ref setstate = build_plain_function(setstate_index, codes[setstate_index].get());
    return setstate && set_class_attribute(class_dict.get(), "__reduce__", reduce.get()) &&
           set_class_attribute(class_dict.get(), "__setstate__", setstate.get());
}

// Step 13: __reduce__ and __setstate__; a failure becomes RuntimeError
// "Unable to initialize pickling ...", caused by the error underneath.
bool install_pickling(Ref (&codes)[function_count]) {
    if (try_install_pickling(codes)) return true;
    Ref cause = Ref::steal(PyErr_GetRaisedException());
    PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", KlRenderTextureType.tp_name);
    if (cause) {
        Ref error = Ref::steal(PyErr_GetRaisedException());
        PyException_SetCause(error.get(), Ref::newref(cause.get()).release());
        PyException_SetContext(error.get(), cause.release());
        PyErr_SetRaisedException(error.release());
    }
    return false;
}

// ---------------------------------------------------------------- siblings

template <typename Table>
bool import_sibling(const char* module_name, const char* type_name, std::size_t record_size,
                    kl::Pinned<PyTypeObject>& type_slot, Table** table_slot) {
    Ref type = kl::import_type(module_name, type_name, record_size);
    if (!type) return false;
    void* table = kl::get_vtable(type.as<PyTypeObject>());
    if (table == nullptr) return false;
    if (table_slot != nullptr) *table_slot = static_cast<Table*>(table);
    type_slot.set(std::move(type));
    return true;
}

template <typename Function>
bool import_function(PyObject* module, std::size_t index, Function& slot) {
    const kelo_raylib::Export& e = kelo_raylib::exports[index];
    void* entry = kl::import_function(module, kelo_raylib::module_name, e.name, e.signature);
    if (entry == nullptr) return false;
    slot = reinterpret_cast<Function>(entry);
    return true;
}

bool import_raylib_functions() {
    Ref module = Ref::steal(PyImport_ImportModule(kelo_raylib::module_name));
    if (!module) return false;
    kelo_raylib::Functions& f = state.raylib;
    PyObject* m = module.get();
    return import_function(m, 0, f.c_clear_background) && import_function(m, 1, f.c_draw_texture_rec) &&
           import_function(m, 2, f.c_draw_texture_vec) && import_function(m, 3, f.begin_texture_mode) &&
           import_function(m, 4, f.clear_background) && import_function(m, 5, f.end_blend_mode) &&
           import_function(m, 6, f.end_texture_mode) && import_function(m, 7, f.begin_blend_mode);
}

// `from <module> import <name>` bound as the module global <name>.
bool import_global(const char* module_name, const char* name) {
    Ref module_str = Ref::steal(PyUnicode_FromString(module_name));
    Ref name_str = Ref::steal(PyUnicode_InternFromString(name));
    Ref fromlist = Ref::steal(PyList_New(0));
    if (!module_str || !name_str || !fromlist || PyList_Append(fromlist.get(), name_str.get()) < 0) return false;
    Ref module = kl::import_module(module_str.get(), state.globals, fromlist.get());
    if (!module) return false;
    Ref value = kl::import_from(module.get(), name_str.get());
    return value && PyDict_SetItem(state.globals, name_str.get(), value.get()) == 0;
}

// `import kelo_ui.core.modules as md`: the import yields the top package, from
// which core and then modules are taken.
bool import_md() {
    Ref dotted = Ref::steal(PyUnicode_FromString("kelo_ui.core.modules"));
    Ref core_name = Ref::steal(PyUnicode_InternFromString("core"));
    Ref modules_name = Ref::steal(PyUnicode_InternFromString("modules"));
    if (!dotted || !core_name || !modules_name) return false;
    Ref top = kl::import_module(dotted.get(), state.globals, nullptr);
    if (!top) return false;
    Ref core = kl::import_from(top.get(), core_name.get());
    if (!core) return false;
    Ref modules = kl::import_from(core.get(), modules_name.get());
    return modules && PyDict_SetItem(state.globals, state.names.md.object(), modules.get()) == 0;
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

    // 10: constant tuples and the code objects of the eighteen functions.
    Ref codes[function_count];
    {
        Ref origin = Ref::steal(PyTuple_Pack(2, state.int_0.object(), state.int_0.object()));
        Ref true_tuple = Ref::steal(PyTuple_Pack(1, Py_True));
        if (!origin || !true_tuple) return false;
        state.origin_position.set(std::move(origin));
        state.true_tuple.set(std::move(true_tuple));
        for (std::size_t i = 0; i < function_count; ++i) {
            codes[i] = kl::make_code(function_spec(functions[i], nullptr, nullptr));
            if (!codes[i]) return false;
        }
    }

    // 11: the native method table, the readied class, its published table.
    vtable = KlRenderTextureVTable{
        c_fast_blit, c_fast_blit_texture, c_fast_clear, c_clear,    clear,      fast_clear,
        fill,        kill,                get_rect,     get_height, get_width, new_,
    };
    if (PyType_Ready(&KlRenderTextureType) < 0) return false;
    {
        Ref capsule = Ref::steal(PyCapsule_New(&vtable, nullptr, nullptr));
        Ref class_dict = capsule ? Ref::steal(PyType_GetDict(&KlRenderTextureType)) : Ref();
        if (!class_dict || !set_class_attribute(class_dict.get(), "__pyx_vtable__", capsule.get())) return false;
    }

    // 12: the class in the module.
    if (PyObject_SetAttr(module, state.names.KlRenderTexture.object(),
                         reinterpret_cast<PyObject*>(&KlRenderTextureType)) < 0) {
        return false;
    }

    // 13: pickling.
    if (!install_pickling(codes)) return false;

    // 14: sibling types; KlShader's table is only tested.
    KlShaderVTable* shader_table = nullptr;
    if (!import_sibling("kelo_ui.fast.klvector2.klvector2", "KlVector2", sizeof(KlVector2Object),
                        state.vector2_type, &state.vector2_vtab) ||
        !import_sibling("kelo_ui.fast.klrect.klrect", "KlRect", sizeof(KlRectObject), state.rect_type,
                        &state.rect_vtab) ||
        !import_sibling("kelo_ui.fast.klshader.klshader", "KlShader", sizeof(KlShaderObject), state.shader_type,
                        &shader_table)) {
        return false;
    }

    // 15: the drawing functions of kelo_raylib.
    if (!import_raylib_functions()) return false;

    // 16: the module-level statements.
    if (!import_md() || !import_global("kelo_ui.presentation.color", "Color") ||
        !import_global("kelo_ui.core.state", "kelo_state") ||
        !import_global("kelo_ui.core.annotations", "Annotations") || !build_methods(codes)) {
        return false;
    }
    {
        Ref unpickle = build_plain_function(unpickle_index, codes[unpickle_index].get());
        if (!unpickle || PyDict_SetItem(state.globals, state.names.unpickle.object(), unpickle.get()) < 0) {
            return false;
        }
        Ref test = Ref::steal(PyDict_New());
        if (!test || PyDict_SetItemString(state.globals, "__test__", test.get()) < 0) return false;
    }
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
    if (state.globals != nullptr && constants_made) kl::add_traceback("init " KLRT_MODULE_NAME, source_path);
    state.module.set({});
    state.globals = nullptr;
    return -1;
}

// Creation refuses every interpreter but the first before it touches any
// other state, so the module may let the import system call it from any
// interpreter, isolated ones with a GIL of their own included: their users
// then see the module's own "Interpreter change detected" refusal rather than
// the interpreter's generic one.
PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "kl_render_tex",
    .m_doc = nullptr,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};
#pragma GCC diagnostic pop

}  // namespace
}  // namespace klrt

PyMODINIT_FUNC PyInit_kl_render_tex() { return PyModuleDef_Init(&klrt::module_def); }
