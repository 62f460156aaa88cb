// Blits from a source rectangle: blit_region(kl_texture, area, dest,
// blend_mode=0, flip=True, color=Color.White) draws the part `area` of a
// render target's picture into this one, in its own scopes as blit does;
// fast_blit_region(kl_texture, area, dest, flip=True, color=Color.White) into
// the current target, as fast_blit does. Each draws what a blit of a target
// holding exactly that part would.
//
// `area` is exactly a tuple (x, y, width, height) in the picture's own
// coordinates: top-left origin, as the picture looks blitted with a flip. It
// must lie on the source (its size) and be at least 1x1. Every argument is
// checked before anything is begun or drawn.
#include <cmath>
#include <iterator>

#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/record.h"
#include "kelo_ui/fast/klrendertex/private/scopes.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/dest.h"
#include "kelo_ui/fast/runtime/notes.h"

namespace klrt {
namespace {

using kl::Ref;

struct Area {
    double x, y, width, height;
};

// `area` of `source`, checked: its numbers (float() of each item of a
// tuple, or a KlRect's) lie on the source's picture.
bool read_area(PyObject* object, KlRenderTextureObject* source, Area& out) {
    double values[4];
    if (PyObject_TypeCheck(object, state.rect_type.get())) {
        const auto* rect = reinterpret_cast<const KlRectObject*>(object);
        values[0] = rect->x, values[1] = rect->y, values[2] = rect->w, values[3] = rect->h;
    } else if (!PyTuple_CheckExact(object)) {
        kl::check_argument_tuple(object, false, "area");
        kl::add_note("area is a tuple (x, y, width, height) or a KlRect, not %.200s", Py_TYPE(object)->tp_name);
        return false;
    } else if (PyTuple_GET_SIZE(object) != 4) {
        PyErr_Format(PyExc_ValueError, "area must be (x, y, width, height), not a tuple of %zd items",
                     PyTuple_GET_SIZE(object));
        return false;
    }
    for (Py_ssize_t i = 0; PyTuple_CheckExact(object) && i < 4; ++i) {
        PyObject* item = PyTuple_GET_ITEM(object, i);
        // Exact ints and floats are read as they are; anything else through float().
        if (PyLong_CheckExact(item) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(item))) [[likely]] {
            values[i] = static_cast<double>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(item)));
        } else {
            values[i] = PyFloat_AsDouble(item);
            if (values[i] == -1.0 && PyErr_Occurred()) return false;
        }
    }
    out = {values[0], values[1], values[2], values[3]};
    KlVector2Object* size = size_vector(source, "width");
    if (size == nullptr) return false;
    if (!(out.width >= 1.0 && out.height >= 1.0)) {
        PyErr_Format(PyExc_ValueError, "area %R is less than 1x1", object);
        return false;
    }
    // Written so that NaN is outside too.
    if (!(out.x >= 0.0 && out.y >= 0.0 && out.x + out.width <= size->x && out.y + out.height <= size->y)) {
        Ref width = Ref::steal(PyFloat_FromDouble(size->x));
        Ref height = width ? Ref::steal(PyFloat_FromDouble(size->y)) : Ref();
        if (height)
            PyErr_Format(PyExc_ValueError, "area %R reaches outside the source, which is %R x %R", object, width.get(),
                         height.get());
        return false;
    }
    return true;
}

// `dest` as blit takes it: exactly a tuple, (x, y) or (x, y, width, height).
bool check_dest(PyObject* dest) {
    if (!kl::check_argument_tuple(dest, false, "dest")) return false;
    if (PyTuple_GET_SIZE(dest) == 2 || PyTuple_GET_SIZE(dest) == 4) return true;
    kl::raise_invalid_dest(dest);
    return false;
}

// A float object for a C double.
Ref number(double value) { return Ref::steal(PyFloat_FromDouble(value)); }

// The ordinary path: the part in the texture's storage (rows bottom-up),
// drawn with c_draw_texture_rec into `dest` (a position gets the part's size).
void draw_through_functions(PyObject* render_texture, const Area& area, PyObject* dest, int flip, PyObject* color) {
    Ref texture = Ref::steal(PyObject_GetAttr(render_texture, state.names.texture.object()));
    Ref stored = texture ? Ref::steal(PyObject_GetAttr(texture.get(), state.names.height.object())) : Ref();
    const double height = stored ? PyFloat_AsDouble(stored.get()) : -1.0;
    if (!stored || (height == -1.0 && PyErr_Occurred())) return;
    Ref x = number(area.x), y = number(height - area.y - area.height), width = number(area.width),
        part_height = number(flip ? -area.height : area.height);
    Ref source = x && y && width && part_height
                     ? Ref::steal(PyTuple_Pack(4, x.get(), y.get(), width.get(), part_height.get()))
                     : Ref();
    if (!source) return;
    Ref rectangle = PyTuple_GET_SIZE(dest) == 4 ? Ref::newref(dest) : Ref();
    if (!rectangle) {
        Ref drawn_height = number(area.height);
        if (!drawn_height) return;
        rectangle = Ref::steal(
            PyTuple_Pack(4, PyTuple_GET_ITEM(dest, 0), PyTuple_GET_ITEM(dest, 1), width.get(), drawn_height.get()));
        if (!rectangle) return;
    }
    state.raylib.c_draw_texture_rec(texture.get(), source.get(), rectangle.get(), color);
}

// The part drawn into the current target; false with the exception set.
bool draw_region(KlRenderTextureObject* source, const Area& area, PyObject* dest, int flip, PyObject* color) {
    // Held: the binding's views point into it, and code run below may replace
    // the source's field.
    Ref render_texture = Ref::newref(source->render_texture);
    const auto lean = state.raylib.c_draw_render_texture_area;
    if (lean != nullptr && lean(render_texture.get(), area.x, area.y, area.width, area.height, dest, color, flip))
        return true;
    draw_through_functions(render_texture.get(), area, dest, flip, color);
    return !PyErr_Occurred();
}

kl::Parameters<6> blit_region_params{
    {{"kl_texture"}, {"area"}, {"dest"}, {"blend_mode", zero}, {"flip", true_value}, {"color", white}}};
kl::Parameters<5> fast_blit_region_params{{{"kl_texture"}, {"area"}, {"dest"}, {"flip", true_value}, {"color", white}}};

}  // namespace

const kl::Signature sig_blit_region = kl::make_signature("blit_region", blit_region_params);
const kl::Signature sig_fast_blit_region = kl::make_signature("fast_blit_region", fast_blit_region_params);

PyObject* py_blit_region(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("blit_region"));
    PyObject* values[6];
    int blend_mode = 0;
    int flip = 0;
    Area area{};
    if (!kl::bind_arguments(sig_blit_region, args, nargs, kwnames, values) || !kl::as_int32(values[3], blend_mode) ||
        !kl::as_truth(values[4], flip) ||
        !kl::check_argument_type(values[0], &KlRenderTextureType, false, "kl_texture") ||
        !read_area(values[1], record(values[0]), area) || !check_dest(values[2]) ||
        !kl::check_argument_tuple(values[5], true, "color")) {
        return fail(KLRT_QUALNAME("blit_region"));
    }
    KlRenderTextureObject* rt = record(self);
    return draw_in_scopes(rt, blend_mode, values[2], false, KLRT_QUALNAME("blit_region"),
                          [&] { return draw_region(record(values[0]), area, values[2], flip, values[5]); });
}

PyObject* py_fast_blit_region(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Calling calling(KLRT_METHOD("fast_blit_region"));
    PyObject* values[5];
    int flip = 0;
    Area area{};
    if (!kl::bind_arguments(sig_fast_blit_region, args, nargs, kwnames, values) || !kl::as_truth(values[3], flip) ||
        !kl::check_argument_type(values[0], &KlRenderTextureType, false, "kl_texture") ||
        !read_area(values[1], record(values[0]), area) || !check_dest(values[2]) ||
        !kl::check_argument_tuple(values[4], true, "color")) {
        return fail(KLRT_QUALNAME("fast_blit_region"));
    }
    if (!draw_region(record(values[0]), area, values[2], flip, values[4]))
        return fail(KLRT_QUALNAME("fast_blit_region"));
    Py_RETURN_NONE;
}

}  // namespace klrt
