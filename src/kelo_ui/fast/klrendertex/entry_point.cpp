#include "kelo_ui/fast/klrendertex/entry_point.h"

namespace klrt {

kl::Ref raylib_binding() {
    kl::Ref md = global(state.names.md);
    if (!md) return {};
    return kl::Ref::steal(PyObject_GetAttr(md.get(), state.names.rl.object()));
}

}  // namespace klrt
