#include "kelo_ui/fast/runtime/module_def.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace kl {
namespace {

static_assert(std::is_standard_layout_v<ModuleDefinition> && offsetof(ModuleDefinition, definition) == 0);

ModuleDefinition& of(PyModuleDef* definition) { return *reinterpret_cast<ModuleDefinition*>(definition); }

// The one definition of this shared object: every native module of the
// toolkit is an extension of its own, linked with its own copy of this
// runtime. Execution may be handed a module that no definition made (a plain
// module): the slot then still knows which module it belongs to.
ModuleDefinition* this_shared_object = nullptr;

PyObject* create(PyObject* module_spec, PyModuleDef* definition) {
    ModuleDefinition& self = of(definition);
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) return nullptr;
    std::int64_t recorded = -1;
    if (!self.owner.compare_exchange_strong(recorded, current) && recorded != current) {
        PyErr_SetString(PyExc_ImportError, self.parts.other_interpreter);
        return nullptr;
    }
    if (self.module) return Py_NewRef(self.module.object());
    if (self.parts.create != nullptr) return self.parts.create(module_spec);
    Ref name = Ref::steal(PyObject_GetAttrString(module_spec, "name"));
    return name ? PyModule_NewObject(name.get()) : nullptr;
}

int exec(PyObject* module) {
    ModuleDefinition& self = *this_shared_object;
    if (self.module) {
        if (self.module.object() == module) return 0;
        const char* last_part = std::strrchr(self.parts.name, '.');
        PyErr_Format(PyExc_RuntimeError, "Module '%s' has already been imported. Re-initialisation is not supported.",
                     last_part ? last_part + 1 : self.parts.name);
        return -1;
    }
    self.module.set(Ref::newref(module));
    if (self.parts.exec == nullptr || self.parts.exec(module) == 0) return 0;
    self.module.set({});
    return -1;
}

}  // namespace

ModuleDefinition::ModuleDefinition(const Parts& given) : definition{}, slots{}, parts(given) {
    this_shared_object = this;
    slots[0] = {Py_mod_create, reinterpret_cast<void*>(create)};
    slots[1] = {Py_mod_exec, reinterpret_cast<void*>(exec)};
    slots[2] = {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED};
    slots[3] = {0, nullptr};
    definition =
        PyModuleDef{PyModuleDef_HEAD_INIT, parts.name, parts.doc, 0, parts.functions, slots, nullptr, nullptr, nullptr};
}

}  // namespace kl
