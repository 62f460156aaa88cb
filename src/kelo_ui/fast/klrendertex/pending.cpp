// Pickling, whose bodies have not landed yet. The functions are already
// published with their parameters; each raises NotImplementedError until its
// body lands.
#include "kelo_ui/fast/klrendertex/methods.h"
#include "kelo_ui/fast/klrendertex/module_state.h"

namespace klrt {
namespace {

const char* const setstate_params[] = {"__pyx_state"};
const char* const unpickle_params[] = {"__pyx_type", "__pyx_checksum", "__pyx_state"};

PyObject* not_available(const char* name, const char* qualname) {
    PyErr_Format(PyExc_NotImplementedError, "%s is not available yet", name);
    traceback(qualname);
    return nullptr;
}

}  // namespace

const kl::Signature sig_reduce = kl::make_signature("__reduce__");
const kl::Signature sig_setstate = kl::make_signature("__setstate__", setstate_params, 1);
const kl::Signature sig_unpickle = kl::make_signature("__pyx_unpickle_KlRenderTexture", unpickle_params, 3);

PyObject* py_reduce(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
    return not_available("__reduce__", KLRT_QUALNAME("__reduce__"));
}

PyObject* py_setstate(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
    return not_available("__setstate__", KLRT_QUALNAME("__setstate__"));
}

PyObject* py_unpickle(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
    return not_available("__pyx_unpickle_KlRenderTexture", KLRT_MODULE_NAME ".__pyx_unpickle_KlRenderTexture");
}

}  // namespace klrt
