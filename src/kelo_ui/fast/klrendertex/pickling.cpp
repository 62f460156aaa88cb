// Pickling: __reduce__, __setstate__ and the module-level
// __pyx_unpickle_KlRenderTexture. The state is the record's three fields,
// (loaded, render_texture, size), plus a Python subclass's instance
// dictionary when it holds anything, tagged with the layout checksum.
#include <cstdint>
#include <iterator>

#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/startup.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/native_type.h"

namespace klrt {
namespace {

using kl::Ref;

// The checksums read: the leading 28 bits of the SHA-256, SHA-1 and MD5
// digests of "loaded render_texture size". The first is the one written.
constexpr std::int64_t checksums_read[] = {0xd7babc0, 0x80a1750, 0x4dee0a1};
constexpr Py_ssize_t state_fields = 3;

kl::Parameters<1> setstate_params{{{"__pyx_state"}}};
kl::Parameters<3> unpickle_params{{{"__pyx_type"}, {"__pyx_checksum"}, {"__pyx_state"}}};

bool accepted_checksum(std::int64_t checksum) {
    for (std::int64_t accepted : checksums_read) {
        if (checksum == accepted) return true;
    }
    return false;
}

bool raise_incompatible_checksum(std::int64_t checksum) {
    Ref pickle = Ref::steal(PyImport_ImportModule("pickle"));
    Ref error = pickle ? Ref::steal(PyObject_GetAttrString(pickle.get(), "PickleError")) : Ref();
    if (!error) return false;
    PyErr_Format(error.get(), "Incompatible checksums (0x%x vs (0x%x, 0x%x, 0x%x) = (%s))",
                 static_cast<unsigned int>(checksum & 0xffffffff), static_cast<unsigned int>(checksums_read[0]),
                 static_cast<unsigned int>(checksums_read[1]), static_cast<unsigned int>(checksums_read[2]),
                 "loaded, render_texture, size");
    return false;
}

// Put a state tuple back into the record, field by field. A refused item
// stops it there: the fields before it have been replaced already.
bool set_state(KlRenderTextureObject* self, PyObject* saved) {
    const Py_ssize_t length = PyTuple_GET_SIZE(saved);
    if (length < state_fields) {
        // Never read past the tuple; refuse before anything changes.
        PyErr_Format(PyExc_TypeError, "a KlRenderTexture state has at least %zd items, got %zd", state_fields, length);
        return false;
    }
    int loaded = 0;
    if (!kl::as_truth(PyTuple_GET_ITEM(saved, 0), loaded)) return false;
    self->loaded = loaded;
    store_field(self->render_texture, Ref::newref(PyTuple_GET_ITEM(saved, 1)));
    PyObject* size = PyTuple_GET_ITEM(saved, 2);
    if (size != Py_None && !kl::check_field_type(size, state.vector2_type.get())) return false;
    store_field(self->size, Ref::newref(size));
    if (length == state_fields) return true;

    PyObject* attributes = PyTuple_GET_ITEM(saved, 3);
    const int restore = PyObject_IsTrue(attributes);
    if (restore <= 0) return restore == 0;
    Ref dict = Ref::steal(PyObject_GenericGetDict(object(self), nullptr));
    if (!dict) return false;
    if (PyDict_CheckExact(dict.get())) return PyDict_Update(dict.get(), attributes) == 0;
    PyObject* call_args[] = {dict.get(), attributes};
    return static_cast<bool>(
        Ref::steal(PyObject_VectorcallMethod(state.names.update.object(), call_args, std::size(call_args), nullptr)));
}

}  // namespace

const kl::Signature sig_reduce = kl::make_signature("__reduce__");
const kl::Signature sig_setstate = kl::make_signature("__setstate__", setstate_params);
const kl::Signature sig_unpickle = kl::make_signature("__pyx_unpickle_KlRenderTexture", unpickle_params);

PyObject* py_reduce(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    KlRenderTextureObject* rt = record(self);
    if (!kl::bind_no_arguments(sig_reduce, nargs, kwnames)) return fail(KLRT_QUALNAME("__reduce__"));
    Ref fields = Ref::steal(PyTuple_Pack(3, rt->loaded ? Py_True : Py_False, rt->render_texture, rt->size));
    if (!fields) return fail(KLRT_QUALNAME("__reduce__"));
    PyObject* found = nullptr;
    if (PyObject_GetOptionalAttr(self, state.names.dunder_dict.object(), &found) < 0)
        return fail(KLRT_QUALNAME("__reduce__"));
    Ref dict = Ref::steal(found);
    const int has_attributes = dict && dict.get() != Py_None ? PyObject_IsTrue(dict.get()) : 0;
    if (has_attributes < 0) return fail(KLRT_QUALNAME("__reduce__"));
    bool use_setstate = true;
    if (has_attributes) {
        Ref with_dict = Ref::steal(PyTuple_Pack(4, PyTuple_GET_ITEM(fields.get(), 0), PyTuple_GET_ITEM(fields.get(), 1),
                                                PyTuple_GET_ITEM(fields.get(), 2), dict.get()));
        if (!with_dict) return fail(KLRT_QUALNAME("__reduce__"));
        fields = std::move(with_dict);
    } else {
        // Only an object with nothing to restore is made by the unpickling
        // function alone.
        use_setstate = rt->render_texture != Py_None || rt->size != Py_None;
    }
    Ref unpickle = global(state.names.unpickle);
    if (!unpickle) return fail(KLRT_QUALNAME("__reduce__"));
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    PyObject* result =
        use_setstate
            ? Py_BuildValue("(O(OOO)O)", unpickle.get(), type, state.pickle_checksum.object(), Py_None, fields.get())
            : Py_BuildValue("(O(OOO))", unpickle.get(), type, state.pickle_checksum.object(), fields.get());
    return result ? result : fail(KLRT_QUALNAME("__reduce__"));
}

PyObject* py_setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* state_value = nullptr;
    if (!kl::bind_arguments(sig_setstate, args, nargs, kwnames, &state_value) ||
        !kl::check_tuple_value(state_value, true))
        return fail(KLRT_QUALNAME("__setstate__"));
    if (state_value == Py_None) {
        PyErr_SetString(PyExc_TypeError, "cannot pass None into a C function argument that is declared 'not None'");
        return fail(KLRT_QUALNAME("__setstate__"));
    }
    if (!set_state(record(self), state_value)) return fail(KLRT_QUALNAME("__setstate__"));
    Py_RETURN_NONE;
}

PyObject* py_unpickle(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const char qualname[] = KLRT_MODULE_NAME ".__pyx_unpickle_KlRenderTexture";
    PyObject* values[3];
    std::int64_t checksum = 0;
    if (!kl::bind_arguments(sig_unpickle, args, nargs, kwnames, values) || !kl::as_int64(values[1], checksum) ||
        !kl::check_argument_tuple(values[2], true, "__pyx_state") ||
        (!accepted_checksum(checksum) && !raise_incompatible_checksum(checksum)))
        return fail(qualname);
    // KlRenderTexture.__new__(__pyx_type): the interpreter refuses a type
    // that is not the class or a subclass. No __init__ runs.
    PyObject* new_args[] = {reinterpret_cast<PyObject*>(&KlRenderTextureType), values[0]};
    Ref made =
        Ref::steal(PyObject_VectorcallMethod(state.names.dunder_new.object(), new_args, std::size(new_args), nullptr));
    if (!made) return fail(qualname);
    if (values[2] != Py_None && !set_state(made.as<KlRenderTextureObject>(), values[2])) {
        // The half-restored object never owned the state's render texture:
        // its destruction must not unload it.
        made.as<KlRenderTextureObject>()->loaded = 0;
        return fail(qualname);
    }
    return made.release();
}

// ------------------------------------------------------------ installation

namespace {

// The installation proper: true once installed, or when the class pickles
// through a __getstate__ or __reduce_ex__ of its own. Each call is checked
// before the next is made.
bool try_install_pickling(const FunctionCodes& codes) {
    PyObject* type = reinterpret_cast<PyObject*>(&KlRenderTextureType);
    PyObject* base = reinterpret_cast<PyObject*>(&PyBaseObject_Type);
    Ref getstate = Ref::steal(PyObject_GetAttrString(type, "__getstate__"));
    if (!getstate) return false;
    Ref object_getstate = Ref::steal(PyObject_GetAttrString(base, "__getstate__"));
    if (!object_getstate) return false;
    Ref reduce_ex = Ref::steal(PyObject_GetAttrString(type, "__reduce_ex__"));
    if (!reduce_ex) return false;
    Ref object_reduce_ex = Ref::steal(PyObject_GetAttrString(base, "__reduce_ex__"));
    if (!object_reduce_ex) return false;
    if (getstate.get() != object_getstate.get() || reduce_ex.get() != object_reduce_ex.get()) return true;
    Ref reduce = make_function(Function::reduce, codes);
    if (!reduce) return false;
    Ref setstate = make_function(Function::setstate, codes);
    return setstate && kl::set_type_attribute(&KlRenderTextureType, "__reduce__", reduce.get()) &&
           kl::set_type_attribute(&KlRenderTextureType, "__setstate__", setstate.get());
}

}  // namespace

// A failure becomes RuntimeError "Unable to initialize pickling ...", caused
// by the error underneath.
bool install_pickling(const FunctionCodes& codes) {
    if (try_install_pickling(codes)) return true;
    Ref cause = Ref::steal(PyErr_GetRaisedException());
    PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", KlRenderTextureType.tp_name);
    if (cause) {
        Ref error = Ref::steal(PyErr_GetRaisedException());
        PyException_SetCause(error.get(), Ref::newref(cause.get()).release());
        PyException_SetContext(error.get(), cause.release());
        PyErr_SetRaisedException(error.release());
    }
    return false;
}

}  // namespace klrt
