#include "kelo_ui/fast/runtime/unraisable.h"

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

void write_unraisable(const char* context) {
    Ref exception = Ref::steal(PyErr_GetRaisedException());
    if (!exception) return;
    if (PyErr_GivenExceptionMatches(exception.get(), PyExc_SystemExit)) {
        // Printing a SystemExit the usual way ends the process; a destructor
        // must never do that, so only its traceback is shown.
        PyErr_DisplayException(exception.get());
    } else {
        PyErr_SetRaisedException(Ref::newref(exception.get()).release());
        PyErr_PrintEx(0);
    }
    Ref context_name = Ref::steal(PyUnicode_FromString(context));
    PyErr_Clear();
    PyErr_SetRaisedException(exception.release());
    PyErr_WriteUnraisable(context_name ? context_name.get() : Py_None);
}

}  // namespace kl
