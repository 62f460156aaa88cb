// What start-up imports from the toolkit: the sibling types with their
// method tables, the drawing functions of kelo_raylib and the module-level
// names md, Color, kelo_state and Annotations.
#include "kelo_ui/fast/klrect/klrect.h"
#include "kelo_ui/fast/klrendertex/private/startup.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/klshader/klshader.h"
#include "kelo_ui/fast/runtime/imports.h"

namespace klrt {
namespace {

using kl::Ref;

// A sibling type and its table, tested; kept where slots are given.
template <typename Table>
bool import_sibling(const char* module_name, const char* type_name, std::size_t record_size,
                    kl::Pinned<PyTypeObject>* type_slot, Table** table_slot) {
    Ref type = kl::import_type(module_name, type_name, record_size);
    if (!type) return false;
    void* table = kl::get_vtable(type.as<PyTypeObject>());
    if (table == nullptr) return false;
    if (table_slot != nullptr) *table_slot = static_cast<Table*>(table);
    if (type_slot != nullptr) type_slot->set(std::move(type));
    return true;
}

template <typename Function>
bool import_function(PyObject* module, kelo_raylib::ExportIndex index, Function& slot) {
    const kelo_raylib::Export& e = kelo_raylib::exports[static_cast<std::size_t>(index)];
    void* entry = kl::import_function(module, kelo_raylib::module_name, e.name, e.signature, e.required);
    if (entry == nullptr && (e.required || PyErr_Occurred())) return false;
    slot = reinterpret_cast<Function>(entry);
    return true;
}

}  // namespace

// In the order of kelo_raylib's table, each into its member of the entries.
bool import_raylib_functions() {
    Ref module = Ref::steal(PyImport_ImportModule(kelo_raylib::module_name));
    if (!module) return false;
    kelo_raylib::Functions& f = state.raylib;
#define X_EXPORT(name, result, parameters, signature, required) \
    &&import_function(module.get(), kelo_raylib::ExportIndex::name, f.name)
    return true KELO_RAYLIB_DRAWING_FUNCTIONS(KELO_RAYLIB_DRAWING_EXPORT)
        KELO_RAYLIB_LEAN_FUNCTIONS(KELO_RAYLIB_LEAN_EXPORT);
#undef X_EXPORT
}

namespace {

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

}  // namespace

// KlShader's type and table are only tested.
bool import_sibling_types() {
    return import_sibling("kelo_ui.fast.klvector2.klvector2", "KlVector2", sizeof(KlVector2Object), &state.vector2_type,
                          &state.vector2_vtab) &&
           import_sibling("kelo_ui.fast.klrect.klrect", "KlRect", sizeof(KlRectObject), &state.rect_type,
                          &state.rect_vtab) &&
           import_sibling<KlShaderVTable>("kelo_ui.fast.klshader.klshader", "KlShader", sizeof(KlShaderObject), nullptr,
                                          nullptr);
}

bool import_module_globals() {
    return import_md() && import_global("kelo_ui.presentation.color", "Color") &&
           import_global("kelo_ui.core.state", "kelo_state") &&
           import_global("kelo_ui.core.annotations", "Annotations");
}

}  // namespace klrt
