// The drawing scope (`with rt:` begins and ends texture mode on the render
// texture) and the clears: clear and fill in their own texture mode,
// fast_clear into whatever target the backend draws into.
#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/scopes.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/dispatch.h"

namespace klrt {
namespace {

using kl::Ref;

// clear, fast_clear and fill differ in their name and in the native clear
// they run (fill is a second name for clear).
struct ClearKind {
    const kl::Pinned<>& method_name;
    kl::FunctionEntry own_entry;
    const kl::Signature& signature;
    const char* qualname;
    const char* method;     // as messages name it
    bool own_texture_mode;  // clear through c_clear rather than c_fast_clear
};

// Slots 4 to 6 after override dispatch: the loaded check, then the clear,
// through the object's table so that a native subclass's clears are used.
void clear_body(const ClearKind& kind, KlRenderTextureObject* self, PyObject* color) {
    if (!check_loaded(self)) return traceback(kind.qualname);
    if (kind.own_texture_mode) {
        self->vtab->c_clear(self, color);
    } else {
        self->vtab->c_fast_clear(self, color);
    }
    if (PyErr_Occurred()) traceback(kind.qualname);
}

void checked_clear(const ClearKind& kind, KlRenderTextureObject* self, PyObject* color, int skip_dispatch) {
    if (!check_started()) return traceback(kind.qualname);
    kl::overridable(
        skip_dispatch, {object(self), kind.method_name.object(), kind.own_entry, &color, 1},
        [&] { clear_body(kind, self, color); }, [](Ref) {}, [&] { traceback(kind.qualname); });
}

kl::Parameters<1> color_params{{{"color"}}};
kl::Parameters<3> exit_params{{{"exc_type"}, {"exc_val"}, {"exc_tb"}}};

PyObject* py_checked_clear(const ClearKind& kind, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    Calling calling(kind.method);
    PyObject* color;
    if (!kl::bind_arguments(kind.signature, args, nargs, kwnames, &color) ||
        !kl::check_argument_tuple(color, true, "color")) {
        return fail(kind.qualname);
    }
    clear_body(kind, record(self), color);
    if (PyErr_Occurred()) return fail(kind.qualname);
    Py_RETURN_NONE;
}

}  // namespace

const kl::Signature sig_clear = kl::make_signature("clear", color_params);
const kl::Signature sig_fast_clear = kl::make_signature("fast_clear", color_params);
const kl::Signature sig_fill = kl::make_signature("fill", color_params);
const kl::Signature sig_enter = kl::make_signature("__enter__");
const kl::Signature sig_exit = kl::make_signature("__exit__", exit_params);

namespace {
const ClearKind clear_kind{state.names.clear, py_clear, sig_clear, KLRT_QUALNAME("clear"), KLRT_METHOD("clear"), true};
const ClearKind fast_clear_kind{state.names.fast_clear,    py_fast_clear, sig_fast_clear, KLRT_QUALNAME("fast_clear"),
                                KLRT_METHOD("fast_clear"), false};
const ClearKind fill_kind{state.names.fill, py_fill, sig_fill, KLRT_QUALNAME("fill"), KLRT_METHOD("fill"), true};
}  // namespace

void c_fast_clear(KlRenderTextureObject*, PyObject* color) {
    if (!check_started()) return traceback(KLRT_QUALNAME("c_fast_clear"));
    state.raylib.c_clear_background(color);
    if (PyErr_Occurred()) traceback(KLRT_QUALNAME("c_fast_clear"));
}

void c_clear(KlRenderTextureObject* self, PyObject* color) {
    if (!check_started()) return traceback(KLRT_QUALNAME("c_clear"));
    CheckedScopes scopes;
    if (!scopes.begin_texture_mode(self->render_texture)) return traceback(KLRT_QUALNAME("c_clear"));
    self->vtab->c_fast_clear(self, color);
    if (PyErr_Occurred()) {
        scopes.end_after_failure();
        return traceback(KLRT_QUALNAME("c_clear"));
    }
    if (!scopes.end()) traceback(KLRT_QUALNAME("c_clear"));
}

void clear(KlRenderTextureObject* self, PyObject* color, int skip_dispatch) {
    checked_clear(clear_kind, self, color, skip_dispatch);
}

void fast_clear(KlRenderTextureObject* self, PyObject* color, int skip_dispatch) {
    checked_clear(fast_clear_kind, self, color, skip_dispatch);
}

void fill(KlRenderTextureObject* self, PyObject* color, int skip_dispatch) {
    checked_clear(fill_kind, self, color, skip_dispatch);
}

PyObject* py_clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py_checked_clear(clear_kind, self, args, nargs, kwnames);
}

PyObject* py_fast_clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py_checked_clear(fast_clear_kind, self, args, nargs, kwnames);
}

PyObject* py_fill(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py_checked_clear(fill_kind, self, args, nargs, kwnames);
}

PyObject* py_enter(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("__enter__"));
    KlRenderTextureObject* rt = record(self);
    if (!kl::bind_no_arguments(sig_enter, nargs, kwnames) || !check_loaded(rt)) return fail(KLRT_QUALNAME("__enter__"));
    {
        Ref render_texture = Ref::newref(rt->render_texture);
        state.raylib.begin_texture_mode(render_texture.get(), 0);
    }
    if (PyErr_Occurred()) return fail(KLRT_QUALNAME("__enter__"));
    return Py_NewRef(self);
}

PyObject* py_exit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("__exit__"));
    PyObject* values[3];
    if (!kl::bind_arguments(sig_exit, args, nargs, kwnames, values)) return fail(KLRT_QUALNAME("__exit__"));
    state.raylib.end_texture_mode(0);
    if (PyErr_Occurred()) return fail(KLRT_QUALNAME("__exit__"));
    Py_RETURN_NONE;  // never suppresses the block's exception
}

}  // namespace klrt
