// Operations whose bodies have not landed yet: blitting render targets and
// plain textures, copying, and pickling. Their Python-visible functions are
// already published with their parameters and defaults, and their native
// slots are filled; each raises NotImplementedError until its body lands.
#include "kelo_ui/fast/klrendertex/methods.h"
#include "kelo_ui/fast/klrendertex/module_state.h"

namespace klrt {
namespace {

const char* const blit_params[] = {"kl_texture", "dest", "blend_mode", "flip", "color"};
const char* const fast_blit_params[] = {"kl_texture", "dest", "flip", "color"};
const char* const blit_texture_params[] = {"texture", "dest", "blend_mode", "flip", "color"};
const char* const fast_blit_texture_params[] = {"texture", "dest", "flip", "color"};
const char* const copy_params[] = {"flip"};
const char* const setstate_params[] = {"__pyx_state"};
const char* const unpickle_params[] = {"__pyx_type", "__pyx_checksum", "__pyx_state"};

PyObject* not_available(const char* name, const char* qualname) {
    PyErr_Format(PyExc_NotImplementedError, "%s is not available yet", name);
    traceback(qualname);
    return nullptr;
}

}  // namespace

const kl::Signature sig_blit = kl::make_signature("blit", blit_params, 2);
const kl::Signature sig_fast_blit = kl::make_signature("fast_blit", fast_blit_params, 2);
const kl::Signature sig_blit_texture = kl::make_signature("blit_texture", blit_texture_params, 2);
const kl::Signature sig_fast_blit_texture = kl::make_signature("fast_blit_texture", fast_blit_texture_params, 2);
const kl::Signature sig_copy = kl::make_signature("copy", copy_params, 0);
const kl::Signature sig_reduce = kl::make_signature("__reduce__");
const kl::Signature sig_setstate = kl::make_signature("__setstate__", setstate_params, 1);
const kl::Signature sig_unpickle = kl::make_signature("__pyx_unpickle_KlRenderTexture", unpickle_params, 3);

void c_fast_blit(KlRenderTextureObject*, KlRenderTextureObject*, PyObject*, int, PyObject*) {
    not_available("c_fast_blit", KLRT_QUALNAME("c_fast_blit"));
}

void c_fast_blit_texture(KlRenderTextureObject*, PyObject*, PyObject*, int, PyObject*) {
    not_available("c_fast_blit_texture", KLRT_QUALNAME("c_fast_blit_texture"));
}

#define KLRT_PENDING_ENTRY(entry, name)                                                       \
    PyObject* py_##entry(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {                \
        return not_available(name, KLRT_QUALNAME(name));                                      \
    }

KLRT_PENDING_ENTRY(blit, "blit")
KLRT_PENDING_ENTRY(fast_blit, "fast_blit")
KLRT_PENDING_ENTRY(blit_texture, "blit_texture")
KLRT_PENDING_ENTRY(fast_blit_texture, "fast_blit_texture")
KLRT_PENDING_ENTRY(copy, "copy")
KLRT_PENDING_ENTRY(reduce, "__reduce__")
KLRT_PENDING_ENTRY(setstate, "__setstate__")

#undef KLRT_PENDING_ENTRY

PyObject* py_unpickle(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
    return not_available("__pyx_unpickle_KlRenderTexture", KLRT_MODULE_NAME ".__pyx_unpickle_KlRenderTexture");
}

}  // namespace klrt
