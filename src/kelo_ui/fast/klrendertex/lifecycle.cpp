// Construction and release: __init__, the native new, from_rl_render_texture,
// kill, and destruction. All GPU work goes through the raylib binding md.rl.
#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/dispatch.h"
#include "kelo_ui/fast/runtime/notes.h"
#include "kelo_ui/fast/runtime/unraisable.h"

namespace klrt {
namespace {

using kl::Ref;

// `rl.<method>(*args)`, an ordinary method call.
Ref call_rl(PyObject* rl, const kl::Pinned<>& method, PyObject* argument = nullptr) {
    PyObject* args[] = {rl, argument};
    return Ref::steal(PyObject_VectorcallMethod(method.object(), args, argument ? 2 : 1, nullptr));
}

// Load a render texture of `size` through md.rl and store it with the size.
// Nothing is stored unless the load has returned.
bool load(KlRenderTextureObject* self, PyObject* size) {
    // Held throughout: a native caller may pass the vector borrowed from a
    // field that the Python code below replaces.
    Ref kept_size = Ref::newref(size);
    Ref rl = raylib_binding();
    if (!rl) return false;
    KlVector2Object* vector = kept_size.as<KlVector2Object>();
    // Truncation toward zero; NaN and infinity are refused.
    Ref width = Ref::steal(PyLong_FromDouble(vector->x));
    if (!width) return false;
    Ref height = Ref::steal(PyLong_FromDouble(vector->y));
    if (!height) return false;
    PyObject* args[] = {rl.get(), width.get(), height.get()};
    Ref render_texture =
        Ref::steal(PyObject_VectorcallMethod(state.names.load_render_texture.object(), args, 3, nullptr));
    if (!render_texture) return false;
    store_field(self->render_texture, std::move(render_texture));
    store_field(self->size, std::move(kept_size));
    self->loaded = 1;
    return true;
}

// The release step of destruction. A failure that is an Exception is dropped
// silently; anything else (KeyboardInterrupt, SystemExit, ...) is reported as
// unraisable, since a destructor cannot propagate.
void release_on_destruction(KlRenderTextureObject* self) {
    const int has_render_texture = PyObject_HasAttrWithError(object(self), state.names.render_texture.object());
    if (has_render_texture == 0 || (has_render_texture > 0 && !self->loaded)) return;
    if (has_render_texture > 0) {
        Ref rl = raylib_binding();
        Ref ready = rl ? call_rl(rl.get(), state.names.is_window_ready) : Ref();
        const int is_ready = ready ? PyObject_IsTrue(ready.get()) : -1;
        if (is_ready == 0) return;
        if (is_ready > 0) {
            rl = raylib_binding();
            Ref render_texture = Ref::newref(self->render_texture);
            if (rl && call_rl(rl.get(), state.names.unload_render_texture, render_texture.get())) return;
        }
    }
    if (PyErr_ExceptionMatches(PyExc_Exception)) {
        PyErr_Clear();
        return;
    }
    kl::write_unraisable(KLRT_QUALNAME("__dealloc__"));
}

kl::Parameters<1> init_params{{{"size"}}};
const kl::Signature sig_init = kl::make_signature("__init__", init_params);
kl::Parameters<1> from_rl_render_texture_params{{{"rl_render_texture"}}};

// A float from `rl_render_texture.texture.<dimension>`.
bool texture_dimension(PyObject* rl_render_texture, const kl::Pinned<>& dimension, double& out) {
    Ref texture = Ref::steal(PyObject_GetAttr(rl_render_texture, state.names.texture.object()));
    if (!texture) return false;
    Ref value = Ref::steal(PyObject_GetAttr(texture.get(), dimension.object()));
    if (!value) return false;
    out = PyFloat_AsDouble(value.get());
    return !(out == -1.0 && PyErr_Occurred());
}

}  // namespace

int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    Calling calling("KlRenderTexture");
    PyObject* values[1];
    if (!check_started() || !kl::bind_call_arguments(sig_init, args, kwargs, values))
        return fail(KLRT_QUALNAME("__init__"));
    if (!kl::check_argument_type(values[0], state.vector2_type.get(), false, "size")) {
        if (PySequence_Check(values[0]) && !PyUnicode_Check(values[0]))
            kl::add_note("a size is a KlVector2: KlRenderTexture(KlVector2(width, height))");
        return fail(KLRT_QUALNAME("__init__"));
    }
    if (!load(record(self), values[0])) return fail(KLRT_QUALNAME("__init__"));
    return 0;
}

KlRenderTextureObject* new_(KlVector2Object* size) {
    Calling calling("KlRenderTexture");
    // tp_new refuses while the module has not started.
    Ref self = Ref::steal(tp_new(&KlRenderTextureType, state.empty_tuple.object(), nullptr));
    // On failure the new object goes with `loaded` 0: nothing is unloaded.
    if (!self || !load(self.as<KlRenderTextureObject>(), reinterpret_cast<PyObject*>(size)))
        return fail(KLRT_QUALNAME("new"));
    return reinterpret_cast<KlRenderTextureObject*>(self.release());
}

const kl::Signature sig_from_rl_render_texture =
    kl::make_signature("from_rl_render_texture", from_rl_render_texture_params);

PyObject* py_from_rl_render_texture(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[1];
    if (!kl::bind_arguments(sig_from_rl_render_texture, args, nargs, kwnames, values))
        return fail(KLRT_QUALNAME("from_rl_render_texture"));
    PyObject* rl_render_texture = values[0];
    Ref self = Ref::steal(tp_new(&KlRenderTextureType, state.empty_tuple.object(), nullptr));
    if (!self) return fail(KLRT_QUALNAME("from_rl_render_texture"));
    KlRenderTextureObject* rt = self.as<KlRenderTextureObject>();
    store_field(rt->render_texture, Ref::newref(rl_render_texture));
    double width = 0.0, height = 0.0;
    Ref size;
    // A failure drops the new object with `loaded` still 0, so the caller's
    // render texture is not unloaded by its destruction.
    if (!texture_dimension(rl_render_texture, state.names.width, width) ||
        !texture_dimension(rl_render_texture, state.names.height, height) ||
        !(size = Ref::steal(state.vector2_vtab->new_(width, height)))) {
        return fail(KLRT_QUALNAME("from_rl_render_texture"));
    }
    store_field(rt->size, std::move(size));
    rt->loaded = 1;
    return self.release();
}

namespace {

// Slot 7 after override dispatch.
void kill_body(KlRenderTextureObject* self) {
    if (!check_loaded(self)) return traceback(KLRT_QUALNAME("kill"));
    Ref rl = raylib_binding();
    Ref render_texture = Ref::newref(self->render_texture);
    if (!rl || !call_rl(rl.get(), state.names.unload_render_texture, render_texture.get()))
        return traceback(KLRT_QUALNAME("kill"));  // `loaded` stays 1: the texture may still be held
    self->loaded = 0;
}

}  // namespace

void kill(KlRenderTextureObject* self, int skip_dispatch) {
    if (!check_started()) return traceback(KLRT_QUALNAME("kill"));
    kl::overridable(
        skip_dispatch, {object(self), state.names.kill.object(), py_kill}, [&] { kill_body(self); }, [](Ref) {},
        [] { traceback(KLRT_QUALNAME("kill")); });
}

const kl::Signature sig_kill = kl::make_signature("kill");

PyObject* py_kill(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("kill"));
    if (!kl::bind_no_arguments(sig_kill, nargs, kwnames)) return fail(KLRT_QUALNAME("kill"));
    kill_body(record(self));
    if (PyErr_Occurred()) return fail(KLRT_QUALNAME("kill"));
    Py_RETURN_NONE;
}

// The release step of destruction, once per object. Runs with the object
// alive (its reference count above zero) and its fields intact; an exception
// pending beforehand is set aside and survives it.
void release_once(KlRenderTextureObject* self) {
    if (released(self)) return;
    released(self) = 1;
    if (!state.started) return;  // nothing can have been loaded
    Ref pending = Ref::steal(PyErr_GetRaisedException());
    release_on_destruction(self);
    PyErr_SetRaisedException(pending.release());
}

// tp_finalize: the interpreter runs it once, before deallocation or, for an
// object in a garbage cycle, before the collector clears any field. Whatever
// the release step stores of `self` keeps it alive (PEP 442).
void tp_finalize(PyObject* self) { release_once(record(self)); }

namespace {

// Runs the release step from deallocation. Returns false when it made the
// object reachable again: then the object must be left as it is.
bool finalize_from_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    // The finaliser may keep the object: it must be tracked like a live one.
    PyObject_GC_Track(self);
    if (type->tp_finalize == tp_finalize) {
        if (PyObject_CallFinalizerFromDealloc(self) < 0) return false;
        PyObject_GC_UnTrack(self);
        return true;
    }
    // A subclass's own finaliser (a Python __del__) has replaced ours and has
    // already run: the release step follows it here, and the reference count
    // is checked afterwards, as the interpreter does for a finaliser. The
    // count is set by hand, which skips only the reference totals that debug
    // builds of the interpreter keep.
    Py_SET_REFCNT(self, 1);
    release_once(record(self));
    const Py_ssize_t left = Py_REFCNT(self) - 1;
    Py_SET_REFCNT(self, left);
    if (left == 0) {
        PyObject_GC_UnTrack(self);
        return true;
    }
    // Kept alive. A Python subclass's deallocation, which called us as its
    // base's, drops the instance's reference to its heap type when we
    // return: take one back for the object that lives on.
    if ((type->tp_flags & Py_TPFLAGS_HEAPTYPE) && type->tp_dealloc != tp_dealloc) Py_INCREF(type);
    return false;
}

void destroy(PyObject* self) {
    if (!finalize_from_dealloc(self)) return;
    KlRenderTextureObject* rt = record(self);
    Py_CLEAR(rt->render_texture);
    Py_CLEAR(rt->size);
    Py_TYPE(self)->tp_free(self);
}

}  // namespace

void tp_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    // A long chain of render targets (linked through render_texture) is freed
    // in pieces rather than by one recursion as deep as the chain.
    Py_TRASHCAN_BEGIN(self, tp_dealloc)
    destroy(self);
    Py_TRASHCAN_END
}

}  // namespace klrt
