#include "kelo_ui/fast/runtime/notes.h"

#include <cstdarg>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

void add_note(const char* format, ...) {
    Ref raised = Ref::steal(PyErr_GetRaisedException());
    if (!raised) return;
    va_list values;
    va_start(values, format);
    Ref note = Ref::steal(PyUnicode_FromFormatV(format, values));
    va_end(values);
    Ref added = note ? Ref::steal(PyObject_CallMethod(raised.get(), "add_note", "O", note.get())) : Ref();
    if (!added) PyErr_Clear();  // the exception itself matters more
    PyErr_SetRaisedException(raised.release());
}

}  // namespace kl
