// The phases of module start-up that live in files of their own; startup.cpp
// runs every phase in its order and says there which orderings matter. Each
// returns false with an exception set when it fails.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace klrt {

// constants.cpp: the interned names and the constant objects; then, later,
// the constant tuples (0, 0) and (True,).
bool make_constants();
bool make_constant_tuples();

// functions.cpp: the code object of every function of the table; the class's
// methods with their defaults; one function outside the class's methods
// (the pickling methods, the unpickling function).
using FunctionCodes = kl::Ref[function_count];
bool make_function_codes(FunctionCodes& codes);
bool build_methods(const FunctionCodes& codes);
kl::Ref make_function(Function function, const FunctionCodes& codes);

// pickling.cpp: __reduce__ and __setstate__ in the class.
bool install_pickling(const FunctionCodes& codes);

// siblings.cpp: the sibling types, the drawing functions of kelo_raylib, and
// the module-level names md, Color, kelo_state and Annotations.
bool import_sibling_types();
bool import_raylib_functions();
bool import_module_globals();

}  // namespace klrt
