#include "kelo_ui/fast/runtime/module_def.h"

namespace kl {

ModuleDefinition::ModuleDefinition(const Parts& parts) : slots_{}, definition_{} {
    int slot = 0;
    if (parts.create != nullptr) slots_[slot++] = {Py_mod_create, reinterpret_cast<void*>(parts.create)};
    if (parts.exec != nullptr) slots_[slot++] = {Py_mod_exec, reinterpret_cast<void*>(parts.exec)};
    slots_[slot++] = {Py_mod_multiple_interpreters, parts.interpreters};
    slots_[slot] = {0, nullptr};
    definition_ = PyModuleDef{PyModuleDef_HEAD_INIT, parts.name, parts.doc, 0, parts.functions, slots_,
                              nullptr, nullptr, nullptr};
}

}  // namespace kl
