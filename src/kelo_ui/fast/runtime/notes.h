// Notes on a pending exception (PEP 678): what the user wrote and how to
// mend it, beside a message that other code relies on word for word.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

// Adds the note (PyUnicode_FromFormat's format) to the pending exception.
// The exception stays as it was when the note cannot be made.
void add_note(const char* format, ...);

}  // namespace kl
