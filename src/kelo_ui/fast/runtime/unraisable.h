// Reporting an exception that cannot propagate (raised in a destructor).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

// Print the pending exception as an uncaught one would be printed, then pass
// it to the unraisable-exception hook with `context` as the object. The
// pending exception is consumed.
void write_unraisable(const char* context);

}  // namespace kl
