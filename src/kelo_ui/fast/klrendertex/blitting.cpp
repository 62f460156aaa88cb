// Blitting: one render target drawn into another (blit, fast_blit and the
// native c_fast_blit, slot 0), and any texture drawn through the window's
// display (blit_texture, fast_blit_texture and c_fast_blit_texture, slot 1).
//
// The checked forms open a blend-mode scope around a texture-mode scope on
// the destination and end them whatever happens (private/scopes.h); the fast
// forms draw into whatever target the backend has.
#include <iterator>

#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/scopes.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/dest.h"

namespace klrt {
namespace {

using kl::Ref;

// The vector of an exact KlRenderTexture, or null. Its `width` and `height`
// are the class's own properties (an exact instance has no dictionary and the
// class is immutable), so they can be read from the record without a lookup.
KlVector2Object* exact_size(PyObject* source) {
    if (!Py_IS_TYPE(source, &KlRenderTextureType)) return nullptr;
    PyObject* size = record(source)->size;
    return size == Py_None ? nullptr : reinterpret_cast<KlVector2Object*>(size);
}

// The source's `height`, negated when flipping. It is read before `dest` is
// looked at; only the rectangle form uses it, so an exact source keeps the
// double and makes the float only when it is wanted.
class SourceHeight {
public:
    // Whether the height was read from an exact source's record.
    bool exact() const { return !object_; }
    double value() const { return value_; }

    bool read(PyObject* source, int flip) {
        if (KlVector2Object* size = exact_size(source)) [[likely]] {
            value_ = flip ? -size->y : size->y;
            return true;
        }
        object_ = Ref::steal(PyObject_GetAttr(source, state.names.height.object()));
        if (object_ && flip) object_ = Ref::steal(PyNumber_Negative(object_.get()));
        return static_cast<bool>(object_);
    }
    Ref take() { return object_ ? std::move(object_) : Ref::steal(PyFloat_FromDouble(value_)); }

private:
    double value_ = 0.0;
    Ref object_;
};

// The source's `width`, read when the rectangle form needs it.
Ref source_width(PyObject* source) {
    if (KlVector2Object* size = exact_size(source)) return Ref::steal(PyFloat_FromDouble(size->x));
    return Ref::steal(PyObject_GetAttr(source, state.names.width.object()));
}

// The source's render texture, read from the record. It is held until the
// drawing is done: the binding's `texture` is a view into its memory that
// keeps no reference to it, and the lookups after this one may run code that
// replaces the field.
Ref source_render_texture(PyObject* source) { return Ref::newref(record(source)->render_texture); }

// Its colour texture, by attribute lookup.
Ref texture_of(const Ref& render_texture) {
    return Ref::steal(PyObject_GetAttr(render_texture.get(), state.names.texture.object()));
}

kl::Parameters<5> blit_params{{{"kl_texture"}, {"dest"}, {"blend_mode", zero}, {"flip", true_value}, {"color", white}}};
kl::Parameters<4> fast_blit_params{{{"kl_texture"}, {"dest"}, {"flip", true_value}, {"color", white}}};
kl::Parameters<5> blit_texture_params{
    {{"texture"}, {"dest"}, {"blend_mode", zero}, {"flip", true_value}, {"color", white}}};
kl::Parameters<4> fast_blit_texture_params{{{"texture"}, {"dest"}, {"flip", true_value}, {"color", white}}};

}  // namespace

const kl::Signature sig_blit = kl::make_signature("blit", blit_params);
const kl::Signature sig_fast_blit = kl::make_signature("fast_blit", fast_blit_params);
const kl::Signature sig_blit_texture = kl::make_signature("blit_texture", blit_texture_params);
const kl::Signature sig_fast_blit_texture = kl::make_signature("fast_blit_texture", fast_blit_texture_params);

// ------------------------------------------------------------ render targets

bool blit_target(KlRenderTextureObject* kl_texture, PyObject* dest, int flip, PyObject* color) {
    PyObject* source = object(kl_texture);
    SourceHeight height;
    if (!check_started() || !height.read(source, flip)) return traceback(KLRT_QUALNAME("c_fast_blit")), false;
    // None (and anything else without a length) is refused by len() itself:
    // "object of type 'NoneType' has no len()".
    const Py_ssize_t dest_len = PyTuple_CheckExact(dest) ? PyTuple_GET_SIZE(dest) : PyObject_Size(dest);
    // The lean blits of kelo_raylib draw an exact RenderTexture cdata with
    // the native backend, without the `texture` view the lookup would make
    // (a cdata's lookup runs no code) and without the source rectangle's
    // objects; any other blit takes the ordinary path.
    if (dest_len == 2) {
        Ref render_texture = source_render_texture(source);
        const auto lean = state.raylib.c_draw_render_texture_vec;
        if (lean != nullptr && lean(render_texture.get(), dest, color, flip)) return true;
        Ref texture = texture_of(render_texture);
        if (texture) state.raylib.c_draw_texture_vec(texture.get(), dest, color, flip);
    } else if (dest_len == 4) {
        Ref render_texture = source_render_texture(source);
        const auto lean = state.raylib.c_draw_render_texture_rec;
        KlVector2Object* size = height.exact() ? exact_size(source) : nullptr;
        if (lean != nullptr && size != nullptr && lean(render_texture.get(), size->x, height.value(), dest, color))
            return true;
        Ref texture = texture_of(render_texture);
        Ref width = texture ? source_width(source) : Ref();
        Ref h = width ? height.take() : Ref();
        Ref rectangle =
            h ? Ref::steal(PyTuple_Pack(4, state.int_0.object(), state.int_0.object(), width.get(), h.get())) : Ref();
        if (rectangle) state.raylib.c_draw_texture_rec(texture.get(), rectangle.get(), dest, color);
    } else if (dest_len >= 0) {
        kl::raise_invalid_dest(dest);
    }
    if (!PyErr_Occurred()) return true;
    traceback(KLRT_QUALNAME("c_fast_blit"));
    return false;
}

void c_fast_blit(KlRenderTextureObject*, KlRenderTextureObject* kl_texture, PyObject* dest, int flip, PyObject* color) {
    blit_target(kl_texture, dest, flip, color);
}

PyObject* py_blit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("blit"));
    PyObject* values[5];
    int blend_mode = 0;
    int flip = 0;
    if (!kl::bind_arguments(sig_blit, args, nargs, kwnames, values) || !kl::as_int32(values[2], blend_mode) ||
        !kl::as_truth(values[3], flip) ||
        !kl::check_argument_type(values[0], &KlRenderTextureType, false, "kl_texture") ||
        !kl::check_argument_not_none(values[1], "dest") || !kl::check_argument_tuple(values[4], true, "color")) {
        return fail(KLRT_QUALNAME("blit"));
    }
    KlRenderTextureObject* rt = record(self);
    return draw_in_scopes(rt, blend_mode, values[1], false, KLRT_QUALNAME("blit"),
                          [&] { return through_table(rt, record(values[0]), values[1], flip, values[4]); });
}

PyObject* py_fast_blit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("fast_blit"));
    PyObject* values[4];
    int flip = 0;
    if (!kl::bind_arguments(sig_fast_blit, args, nargs, kwnames, values) || !kl::as_truth(values[2], flip) ||
        !kl::check_argument_type(values[0], &KlRenderTextureType, true, "kl_texture") ||
        !kl::check_argument_tuple(values[1], true, "dest") || !kl::check_argument_tuple(values[3], true, "color")) {
        return fail(KLRT_QUALNAME("fast_blit"));
    }
    if (!through_table(record(self), record(values[0]), values[1], flip, values[3]))
        return fail(KLRT_QUALNAME("fast_blit"));
    Py_RETURN_NONE;
}

// ------------------------------------------------------------ plain textures

void c_fast_blit_texture(KlRenderTextureObject*, PyObject* texture, PyObject* dest, int flip, PyObject* color) {
    if (!check_started()) return traceback(KLRT_QUALNAME("c_fast_blit_texture"));
    // kelo_state.window.display, found afresh: a new window takes effect at
    // the next blit.
    Ref kelo_state = global(state.names.kelo_state);
    Ref window = kelo_state ? Ref::steal(PyObject_GetAttr(kelo_state.get(), state.names.window.object())) : Ref();
    Ref display = window ? Ref::steal(PyObject_GetAttr(window.get(), state.names.display.object())) : Ref();
    if (display) {
        PyObject* call_args[] = {display.get(), texture, dest, flip ? Py_True : Py_False, color};
        Ref result = Ref::steal(
            PyObject_VectorcallMethod(state.names.fast_blit_pro.object(), call_args, std::size(call_args), nullptr));
    }
    if (PyErr_Occurred()) traceback(KLRT_QUALNAME("c_fast_blit_texture"));
}

PyObject* py_blit_texture(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("blit_texture"));
    PyObject* values[5];
    int blend_mode = 0;
    int flip = 0;
    if (!kl::bind_arguments(sig_blit_texture, args, nargs, kwnames, values) || !kl::as_int32(values[2], blend_mode) ||
        !kl::as_truth(values[3], flip) || !kl::check_argument_tuple(values[4], true, "color")) {
        return fail(KLRT_QUALNAME("blit_texture"));
    }
    KlRenderTextureObject* rt = record(self);
    return draw_in_scopes(rt, blend_mode, values[1], true, KLRT_QUALNAME("blit_texture"), [&] {
        rt->vtab->c_fast_blit_texture(rt, values[0], values[1], flip, values[4]);
        return !PyErr_Occurred();
    });
}

PyObject* py_fast_blit_texture(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("fast_blit_texture"));
    PyObject* values[4];
    int flip = 0;
    if (!kl::bind_arguments(sig_fast_blit_texture, args, nargs, kwnames, values) || !kl::as_truth(values[2], flip) ||
        !kl::check_argument_tuple(values[3], true, "color") || !kl::check_tuple_value(values[1], true)) {
        return fail(KLRT_QUALNAME("fast_blit_texture"));
    }
    KlRenderTextureObject* rt = record(self);
    rt->vtab->c_fast_blit_texture(rt, values[0], values[1], flip, values[3]);
    if (PyErr_Occurred()) return fail(KLRT_QUALNAME("fast_blit_texture"));
    Py_RETURN_NONE;
}

}  // namespace klrt
