// The eight properties through which Python reads and writes the record:
// texture, id and depth of the held render texture, width and height of the
// size, and render_texture, size and loaded themselves.
#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/convert.h"

namespace klrt {
namespace {

using kl::Ref;

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
    if (value) return value.release();
    return fail(name == &state.names.texture ? KLRT_QUALNAME("texture.__get__")
                : name == &state.names.id    ? KLRT_QUALNAME("id.__get__")
                                             : KLRT_QUALNAME("depth.__get__"));
}

PyObject* get_width_property(PyObject* self, void*) {
    KlVector2Object* size = size_vector(record(self), "x");
    PyObject* value = size ? PyFloat_FromDouble(size->x) : nullptr;
    return value ? value : fail(KLRT_QUALNAME("width.__get__"));
}

PyObject* get_height_property(PyObject* self, void*) {
    KlVector2Object* size = size_vector(record(self), "y");
    PyObject* value = size ? PyFloat_FromDouble(size->y) : nullptr;
    return value ? value : fail(KLRT_QUALNAME("height.__get__"));
}

PyObject* get_render_texture(PyObject* self, void*) { return Py_NewRef(record(self)->render_texture); }

int set_render_texture(PyObject* self, PyObject* value, void*) {
    store_field(record(self)->render_texture, Ref::newref(value ? value : Py_None));
    return 0;
}

PyObject* get_size(PyObject* self, void*) { return Py_NewRef(record(self)->size); }

int set_size(PyObject* self, PyObject* value, void*) {
    if (value != nullptr && value != Py_None && !kl::check_field_type(value, state.vector2_type.get()))
        return fail(KLRT_QUALNAME("size.__set__"));
    store_field(record(self)->size, Ref::newref(value ? value : Py_None));
    return 0;
}

PyObject* get_loaded(PyObject* self, void*) { return PyBool_FromLong(record(self)->loaded); }

int set_loaded(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) {
        PyErr_SetString(PyExc_NotImplementedError, "__del__");
        return -1;
    }
    int truth = 0;
    if (!kl::as_truth(value, truth)) return fail(KLRT_QUALNAME("loaded.__set__"));
    record(self)->loaded = truth;
    return 0;
}

}  // namespace

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

}  // namespace klrt
