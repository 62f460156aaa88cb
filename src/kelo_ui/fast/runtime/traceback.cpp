#include "kelo_ui/fast/runtime/traceback.h"

#include <frameobject.h>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

void add_traceback(const char* funcname, const char* filename, int lineno) {
    // Building the frame runs C-API calls that must not see the pending
    // exception; it is set aside and put back before the entry is added.
    Ref pending = Ref::steal(PyErr_GetRaisedException());
    Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, funcname, lineno)));
    Ref globals = code ? Ref::steal(PyDict_New()) : Ref();
    Ref frame;
    if (globals) {
        frame = Ref::steal(reinterpret_cast<PyObject*>(
            PyFrame_New(PyThreadState_Get(), code.as<PyCodeObject>(), globals.get(), nullptr)));
    }
    PyErr_Clear();  // a failure to build the entry must not replace the real error
    PyErr_SetRaisedException(pending.release());
    if (frame) {
        PyTraceBack_Here(frame.as<PyFrameObject>());
    }
}

}  // namespace kl
