// Batched blits: fast_blits(blits) draws each item as fast_blit would, into
// the current target; blits(blits, blend_mode=0) is its checked form, with
// one blend-mode scope around one texture-mode scope on this target for all
// the items.
//
// An item is exactly a tuple (kl_texture, dest[, flip[, color]]), with
// fast_blit's defaults, checks and messages, drawn through this object's
// slot 0. A failing item raises its own exception with a note naming its
// index; the items before it stay drawn. Like every checked form, blits ends
// the scopes it began when it fails.
#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/scopes.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/notes.h"

namespace klrt {
namespace {

using kl::Ref;

// One item, checked and converted as fast_blit's arguments are, then drawn.
bool draw_item(KlRenderTextureObject* self, PyObject* item, const char* method) {
    if (!PyTuple_CheckExact(item) || PyTuple_GET_SIZE(item) < 2 || PyTuple_GET_SIZE(item) > 4) {
        if (PyTuple_CheckExact(item)) {
            PyErr_Format(PyExc_TypeError,
                         "%s() items are tuples (kl_texture, dest[, flip[, color]]), not a tuple of %zd items", method,
                         PyTuple_GET_SIZE(item));
        } else {
            PyErr_Format(PyExc_TypeError, "%s() items are tuples (kl_texture, dest[, flip[, color]]), not %.200s",
                         method, Py_TYPE(item)->tp_name);
        }
        return false;
    }
    // The tuple is held by the caller and cannot change: its items live as long.
    const Py_ssize_t size = PyTuple_GET_SIZE(item);
    PyObject* kl_texture = PyTuple_GET_ITEM(item, 0);
    PyObject* dest = PyTuple_GET_ITEM(item, 1);
    PyObject* flip_value = size > 2 ? PyTuple_GET_ITEM(item, 2) : Py_True;
    // fast_blit's defaults, its tint included.
    PyObject* color = size > 3 ? PyTuple_GET_ITEM(item, 3) : sig_fast_blit.defaults[3];
    int flip = 0;
    if (!kl::as_truth(flip_value, flip) ||
        !kl::check_argument_type(kl_texture, &KlRenderTextureType, true, "kl_texture") ||
        !kl::check_argument_tuple(dest, true, "dest") || !kl::check_argument_tuple(color, true, "color")) {
        return false;
    }
    return through_table(self, record(kl_texture), dest, flip, color);
}

// Calls each(item, index) for the items of any iterable, each held while it
// is used; stops at the first false.
template <typename Each>
bool for_each_item(PyObject* iterable, Each each) {
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) [[likely]] {
        // A list may change while its items are drawn: its size is read again
        // for every item.
        for (Py_ssize_t index = 0; index < PySequence_Fast_GET_SIZE(iterable); ++index) {
            Ref item = Ref::newref(PySequence_Fast_GET_ITEM(iterable, index));
            if (!each(item.get(), index)) return false;
        }
        return true;
    }
    Ref iterator = Ref::steal(PyObject_GetIter(iterable));
    if (!iterator) return false;
    for (Py_ssize_t index = 0;; ++index) {
        Ref item = Ref::steal(PyIter_Next(iterator.get()));
        if (!item) return !PyErr_Occurred();
        if (!each(item.get(), index)) return false;
    }
}

bool draw_items(KlRenderTextureObject* self, PyObject* blits, const char* method) {
    return for_each_item(blits, [&](PyObject* item, Py_ssize_t index) {
        if (draw_item(self, item, method)) [[likely]]
            return true;
        kl::add_note("item %zd of %s()", index, method);
        return false;
    });
}

kl::Parameters<1> fast_blits_params{{{"blits"}}};
kl::Parameters<2> blits_params{{{"blits"}, {"blend_mode", zero}}};

}  // namespace

const kl::Signature sig_fast_blits = kl::make_signature("fast_blits", fast_blits_params);
const kl::Signature sig_blits = kl::make_signature("blits", blits_params);

PyObject* py_fast_blits(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("fast_blits"));
    PyObject* blits = nullptr;
    if (!kl::bind_arguments(sig_fast_blits, args, nargs, kwnames, &blits) ||
        !draw_items(record(self), blits, "fast_blits")) {
        return fail(KLRT_QUALNAME("fast_blits"));
    }
    Py_RETURN_NONE;
}

PyObject* py_blits(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("blits"));
    PyObject* values[2];
    int blend_mode = 0;
    KlRenderTextureObject* rt = record(self);
    if (!kl::bind_arguments(sig_blits, args, nargs, kwnames, values) || !kl::as_int32(values[1], blend_mode) ||
        !check_loaded(rt)) {
        return fail(KLRT_QUALNAME("blits"));
    }
    CheckedScopes scopes;
    if (!scopes.begin_blend_mode(blend_mode) || !scopes.begin_texture_mode(rt->render_texture) ||
        !draw_items(rt, values[0], "blits")) {
        scopes.end_after_failure();
        return fail(KLRT_QUALNAME("blits"));
    }
    if (!scopes.end()) return fail(KLRT_QUALNAME("blits"));
    Py_RETURN_NONE;
}

}  // namespace klrt
