// The steps of module start-up that live in files of their own; run_startup
// (kl_render_tex.cpp) runs them in its order, under the step numbers used
// here. Each returns false with an exception set when it fails.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "kelo_ui/fast/runtime/ref.h"

namespace klrt {

// Step 5 (constants.cpp): the interned names and the constant objects.
bool make_constants();
// Step 10 (constants.cpp): the constant tuples (0, 0) and (True,).
bool make_constant_tuples();

// The twenty Python-visible functions (functions.cpp): the seventeen methods
// of the class, the two pickling operations and the unpickling function.
enum class Function : std::size_t { reduce = 17, setstate = 18, unpickle = 19 };
inline constexpr std::size_t function_count = 20;
using FunctionCodes = kl::Ref[function_count];

// Step 10: the code object of each function.
bool make_function_codes(FunctionCodes& codes);
// Steps 13 and 16: one function object outside the class's methods (the
// pickling operations, the unpickling function).
kl::Ref make_function(Function function, const FunctionCodes& codes);
// Step 16: the seventeen methods, with their defaults, in the class.
bool build_methods(const FunctionCodes& codes);

// Step 13 (pickling.cpp): __reduce__ and __setstate__ in the class.
bool install_pickling(const FunctionCodes& codes);

// Steps 14 to 16 (siblings.cpp): the sibling types, the drawing functions of
// kelo_raylib, and the module-level names md, Color, kelo_state and
// Annotations.
bool import_sibling_types();
bool import_raylib_functions();
bool import_module_globals();

}  // namespace klrt
