// The KlRenderTexture type: allocation, garbage collection and the eight
// properties through which Python reads and writes the record.
#include "kelo_ui/fast/klrendertex/methods.h"
#include "kelo_ui/fast/klrendertex/entry_point.h"
#include "kelo_ui/fast/klrendertex/module_state.h"
#include "kelo_ui/fast/klrendertex/record.h"

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

// texture, id and depth: attributes of the held render texture, looked up at
// every read.
PyObject* get_render_texture_attribute(PyObject* self, void* name_slot) {
    const auto* name = static_cast<const kl::Pinned<>*>(name_slot);
    // Held for the lookup: code it runs may replace the field and would
    // otherwise free the object being looked at.
    Ref render_texture = Ref::newref(record(self)->render_texture);
    // A render texture that leads back to this object (rt.render_texture =
    // rt) repeats this lookup in C alone, where nothing else counts depth.
    Ref value;
    if (Py_EnterRecursiveCall(" while reading an attribute of a render texture") == 0) {
        value = Ref::steal(PyObject_GetAttr(render_texture.get(), name->object()));
        Py_LeaveRecursiveCall();
    }
    if (!value) {
        if (name == &state.names.texture) traceback(KLRT_QUALNAME("texture.__get__"));
        else if (name == &state.names.id) traceback(KLRT_QUALNAME("id.__get__"));
        else traceback(KLRT_QUALNAME("depth.__get__"));
    }
    return value.release();
}

PyObject* get_width_property(PyObject* self, void*) {
    KlVector2Object* size = size_vector(record(self), "x");
    PyObject* value = size ? PyFloat_FromDouble(size->x) : nullptr;
    if (value == nullptr) traceback(KLRT_QUALNAME("width.__get__"));
    return value;
}

PyObject* get_height_property(PyObject* self, void*) {
    KlVector2Object* size = size_vector(record(self), "y");
    PyObject* value = size ? PyFloat_FromDouble(size->y) : nullptr;
    if (value == nullptr) traceback(KLRT_QUALNAME("height.__get__"));
    return value;
}

PyObject* get_render_texture(PyObject* self, void*) {
    return Py_NewRef(record(self)->render_texture);
}

int set_render_texture(PyObject* self, PyObject* value, void*) {
    store_field(record(self)->render_texture, Ref::newref(value ? value : Py_None));
    return 0;
}

PyObject* get_size(PyObject* self, void*) {
    return Py_NewRef(record(self)->size);
}

int set_size(PyObject* self, PyObject* value, void*) {
    if (value != nullptr && value != Py_None && !kl::check_field_type(value, state.vector2_type.get())) {
        traceback(KLRT_QUALNAME("size.__set__"));
        return -1;
    }
    store_field(record(self)->size, Ref::newref(value ? value : Py_None));
    return 0;
}

PyObject* get_loaded(PyObject* self, void*) {
    return PyBool_FromLong(record(self)->loaded);
}

int set_loaded(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) {
        PyErr_SetString(PyExc_NotImplementedError, "__del__");
        return -1;
    }
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) {
        traceback(KLRT_QUALNAME("loaded.__set__"));
        return -1;
    }
    record(self)->loaded = truth;
    return 0;
}

// The name slots are pinned interned strings, filled at start-up before the
// type is readied.
PyGetSetDef properties[] = {
    {"texture", get_render_texture_attribute, nullptr, nullptr, &state.names.texture},
    {"id", get_render_texture_attribute, nullptr, nullptr, &state.names.id},
    {"depth", get_render_texture_attribute, nullptr, nullptr, &state.names.depth},
    {"width", get_width_property, nullptr, nullptr, nullptr},
    {"height", get_height_property, nullptr, nullptr, nullptr},
    {"render_texture", get_render_texture, set_render_texture, nullptr, nullptr},
    {"size", get_size, set_size, nullptr, nullptr},
    {"loaded", get_loaded, set_loaded, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

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

// Designated initialisers name only the slots in use; the rest stay zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject KlRenderTextureType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = KLRT_CLASS_NAME,
    .tp_basicsize = sizeof(KlRenderTextureObject),
    .tp_itemsize = 0,
    .tp_dealloc = tp_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    .tp_traverse = tp_traverse,
    .tp_clear = tp_clear,
    .tp_getset = properties,
    .tp_init = tp_init,
    .tp_new = tp_new,
    .tp_finalize = tp_finalize,
};
#pragma GCC diagnostic pop

}  // namespace klrt
