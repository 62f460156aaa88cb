// copy(flip=True): a new render target of the same size, into which this one
// is drawn by the new object's own blit.
#include <iterator>

#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/convert.h"

namespace klrt {
namespace {

using kl::Ref;

kl::Parameters<1> copy_params{{{"flip", true_value}}};

// md.rl.BlendMode.BLEND_ALPHA, looked up afresh at every copy.
Ref blend_alpha() {
    Ref rl = raylib_binding();
    Ref blend_modes = rl ? Ref::steal(PyObject_GetAttr(rl.get(), state.names.BlendMode.object())) : Ref();
    return blend_modes ? Ref::steal(PyObject_GetAttr(blend_modes.get(), state.names.BLEND_ALPHA.object())) : Ref();
}

}  // namespace

const kl::Signature sig_copy = kl::make_signature("copy", copy_params);

PyObject* py_copy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("copy"));
    PyObject* flip_value;
    int flip = 0;
    KlRenderTextureObject* rt = record(self);
    if (!kl::bind_arguments(sig_copy, args, nargs, kwnames, &flip_value) || !kl::as_truth(flip_value, flip) ||
        !check_loaded(rt))
        return fail(KLRT_QUALNAME("copy"));
    // Always the base class, sharing this object's size vector. The vector is
    // held here: construction runs code that may replace the field.
    Ref size = Ref::newref(rt->size);
    Ref copy = Ref::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&KlRenderTextureType), size.get()));
    Ref blend_mode = copy ? blend_alpha() : Ref();
    if (!blend_mode) return fail(KLRT_QUALNAME("copy"));
    // An ordinary method call on the new object; `color` is blit's default.
    PyObject* call_args[] = {copy.get(), self, state.origin_position.object(), blend_mode.get(),
                             flip ? Py_True : Py_False};
    Ref drawn =
        Ref::steal(PyObject_VectorcallMethod(state.names.blit.object(), call_args, std::size(call_args), nullptr));
    if (!drawn) return fail(KLRT_QUALNAME("copy"));
    return copy.release();
}

}  // namespace klrt
