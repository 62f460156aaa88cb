// The KlRenderTexture type: allocation, garbage collection and the type
// object (its properties are in properties.cpp, construction and
// destruction in lifecycle.cpp).
#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/state.h"

namespace klrt {
namespace {

using kl::Ref;

int tp_traverse(PyObject* self, visitproc visit, void* arg) {
    KlRenderTextureObject* rt = record(self);
    Py_VISIT(rt->render_texture);
    Py_VISIT(rt->size);
    return 0;
}

// Breaking a cycle leaves None behind, never an empty field; `loaded` stays.
// The release step comes first: it needs the render texture that clearing
// drops. (The collector has normally run it already, as the finaliser; a
// Python subclass with a __del__ of its own has replaced that finaliser.)
int tp_clear(PyObject* self) {
    KlRenderTextureObject* rt = record(self);
    release_once(rt);
    store_field(rt->render_texture, kl::Ref::newref(Py_None));
    store_field(rt->size, kl::Ref::newref(Py_None));
    return 0;
}

}  // namespace

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    // Every object is made here: none exists before start-up has succeeded.
    if (!check_started()) return nullptr;
    // An abstract subclass is refused by object's own instance creation.
    PyObject* self = (type->tp_flags & Py_TPFLAGS_IS_ABSTRACT)
                         ? PyBaseObject_Type.tp_new(type, state.empty_tuple.object(), nullptr)
                         : type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    KlRenderTextureObject* rt = record(self);
    rt->vtab = &vtable;
    rt->render_texture = Py_NewRef(Py_None);
    rt->size = Py_NewRef(Py_None);
    return self;
}

PyTypeObject KlRenderTextureType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = KLRT_CLASS_NAME,
    .tp_basicsize = sizeof(KlRenderTextureObject),
    .tp_dealloc = tp_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    .tp_traverse = tp_traverse,
    .tp_clear = tp_clear,
    .tp_getset = properties,
    .tp_init = tp_init,
    .tp_new = tp_new,
    .tp_finalize = tp_finalize,
};

}  // namespace klrt
