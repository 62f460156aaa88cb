// The size queries get_width, get_height and get_rect: native slots 10, 9
// and 8 with override dispatch, and their Python-visible entries.
#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/dispatch.h"

namespace klrt {
namespace {

using kl::Ref;

// get_width and get_height differ only in the field they read.
struct SizeQuery {
    double KlVector2Object::* field;
    const char* field_name;
    const kl::Pinned<>& method_name;
    kl::FunctionEntry own_entry;
    const char* qualname;
};

double size_query(const SizeQuery& query, KlRenderTextureObject* self, int skip_dispatch) {
    if (!check_started()) return fail(query.qualname);
    return kl::overridable(
        skip_dispatch, {object(self), query.method_name.object(), query.own_entry},
        [&]() -> double {
            KlVector2Object* size = size_vector(self, query.field_name);
            if (size == nullptr) return fail(query.qualname);
            return size->*query.field;
        },
        [&](Ref result) -> double {
            // A float directly, anything else through float().
            const double value = PyFloat_AsDouble(result.get());
            if (value == -1.0 && PyErr_Occurred()) return fail(query.qualname);
            return value;
        },
        [&]() -> double { return fail(query.qualname); });
}

PyObject* py_size_query(const SizeQuery& query, const kl::Signature& sig, PyObject* self, Py_ssize_t nargs,
                        PyObject* kwnames) {
    if (!kl::bind_no_arguments(sig, nargs, kwnames)) return fail(query.qualname);
    const double value = size_query(query, record(self), 1);
    if (value == 0.0 && PyErr_Occurred()) return fail(query.qualname);
    return PyFloat_FromDouble(value);
}

const SizeQuery width_query{&KlVector2Object::x, "x", state.names.get_width, py_get_width, KLRT_QUALNAME("get_width")};
const SizeQuery height_query{&KlVector2Object::y, "y", state.names.get_height, py_get_height,
                             KLRT_QUALNAME("get_height")};

}  // namespace

const kl::Signature sig_get_width = kl::make_signature("get_width");
const kl::Signature sig_get_height = kl::make_signature("get_height");
const kl::Signature sig_get_rect = kl::make_signature("get_rect");

double get_width(KlRenderTextureObject* self, int skip_dispatch) {
    return size_query(width_query, self, skip_dispatch);
}

double get_height(KlRenderTextureObject* self, int skip_dispatch) {
    return size_query(height_query, self, skip_dispatch);
}

PyObject* py_get_width(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    return py_size_query(width_query, sig_get_width, self, nargs, kwnames);
}

PyObject* py_get_height(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    return py_size_query(height_query, sig_get_height, self, nargs, kwnames);
}

PyObject* get_rect(KlRenderTextureObject* self, int skip_dispatch) {
    if (!check_started()) return fail(KLRT_QUALNAME("get_rect"));
    return kl::overridable(
        skip_dispatch, {object(self), state.names.get_rect.object(), py_get_rect},
        [&]() -> PyObject* {
            KlVector2Object* size = size_vector(self, "x");
            PyObject* rect =
                size ? state.rect_vtab->new_(0.0f, 0.0f, kl::to_single(size->x), kl::to_single(size->y)) : nullptr;
            return rect ? rect : fail(KLRT_QUALNAME("get_rect"));
        },
        [&](Ref result) -> PyObject* {
            // None passes to the native caller unchanged.
            if (result.get() == Py_None || kl::check_field_type(result.get(), state.rect_type.get()))
                return result.release();
            return fail(KLRT_QUALNAME("get_rect"));
        },
        [&]() -> PyObject* { return fail(KLRT_QUALNAME("get_rect")); });
}

PyObject* py_get_rect(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!kl::bind_no_arguments(sig_get_rect, nargs, kwnames)) return fail(KLRT_QUALNAME("get_rect"));
    PyObject* rect = get_rect(record(self), 1);
    return rect ? rect : fail(KLRT_QUALNAME("get_rect"));
}

}  // namespace klrt
