// md.rl's raylib functions given an atlas cell (context.h, CellCall). A
// cell's struct carries its page's GPU ids with its own size; raylib given it
// would read, write or draw the wrong part of the page, or overrun a buffer
// of the cell's size with the page's pixels. So raylib never sees it: each
// function either acts on exactly the cell's area of its page, as it would
// on a texture of the cell's size holding the same picture, or is given the
// page's own struct where that is exact (a question about the texture), or
// refuses the cell (guarded_calls.cpp).
//
// Rectangles of a texture are in its storage, as raylib takes them: rows run
// bottom-up for a render texture, and a cell's area is where its rows lie in
// its page's.
#include <cmath>
#include <string_view>

#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/raylib/private/gl_driver.h"
#include "kelo_ui/fast/runtime/convert.h"

namespace kelo_raylib::native {
namespace {

// How many arguments each call takes, as raylib's function does.
Py_ssize_t arity(CellCall call) {
    switch (call) {
        case CellCall::draw_texture:
            return 4;
        case CellCall::draw_texture_v:
            return 3;
        case CellCall::draw_texture_ex:
            return 5;
        case CellCall::draw_texture_rec:
            return 4;
        case CellCall::draw_texture_pro:
            return 6;
        case CellCall::update_texture:
            return 2;
        case CellCall::update_texture_rec:
            return 3;
        default:
            return -1;  // as the binding's function says
    }
}

bool float_argument(PyObject* object, float& out, const char* function, const char* parameter) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "%s: %s must be a number, not %.200s", function, parameter,
                         Py_TYPE(object)->tp_name);
        }
        return false;
    }
    out = static_cast<float>(value);
    return true;
}

// The part `source` (raylib's source rectangle: a negative width or height
// mirrors) must lie on the cell: beyond it are other cells, where a texture
// of the cell's own size would repeat or clamp its edge.
bool on_the_cell(const Area& cell, const rl::Rectangle& source, const char* function, const char* parameter) {
    const float width = std::fabs(source.width), height = std::fabs(source.height);
    if (std::isfinite(source.x) && std::isfinite(source.y) && std::isfinite(width) && std::isfinite(height) &&
        source.x >= 0.0f && source.y >= 0.0f && source.x + width <= static_cast<float>(cell.width) &&
        source.y + height <= static_cast<float>(cell.height))
        return true;
    Ref shown = Ref::steal(Py_BuildValue("(dddd)", static_cast<double>(source.x), static_cast<double>(source.y),
                                         static_cast<double>(source.width), static_cast<double>(source.height)));
    if (!shown) return false;
    PyErr_Format(PyExc_ValueError,
                 "%s: %s %R reaches outside the atlas cell (%dx%d); its neighbours on the page are other cells",
                 function, parameter, shown.get(), cell.width, cell.height);
    return false;
}

// The cell's page's texture, and the part of it that `source` is of the cell.
rl::Rectangle on_the_page(const Cell& cell, rl::Rectangle source) {
    source.x += static_cast<float>(cell.area.x);
    source.y += static_cast<float>(cell.area.y);
    return source;
}

// raylib's DrawTexture family, each as the DrawTexturePro it makes.
PyObject* draw(ContextObject* self, CellCall call, const Cell& cell, PyObject* const* args, const char* function) {
    const Binding& binding = self->binding;
    const auto width = static_cast<float>(cell.area.width), height = static_cast<float>(cell.area.height);
    rl::Rectangle source{0.0f, 0.0f, width, height};
    rl::Rectangle dest{};
    rl::Vector2 origin{0.0f, 0.0f};
    float rotation = 0.0f;
    rl::Color tint;
    switch (call) {
        case CellCall::draw_texture: {
            int x = 0, y = 0;
            if (!kl::int_argument(args[1], x) || !kl::int_argument(args[2], y) ||
                !to_color(binding, args[3], tint, white, {function, "tint"}))
                return nullptr;
            dest = {static_cast<float>(x), static_cast<float>(y), width, height};
            break;
        }
        case CellCall::draw_texture_v:
        case CellCall::draw_texture_ex: {
            rl::Vector2 position;
            float scale = 1.0f;
            const bool ex = call == CellCall::draw_texture_ex;
            if (!to_vector2(binding, args[1], position, {function, "position"}) ||
                (ex && (!float_argument(args[2], rotation, function, "rotation") ||
                        !float_argument(args[3], scale, function, "scale"))) ||
                !to_color(binding, args[ex ? 4 : 2], tint, white, {function, "tint"}))
                return nullptr;
            dest = {position.x, position.y, width * scale, height * scale};
            break;
        }
        case CellCall::draw_texture_rec: {
            rl::Vector2 position;
            if (!to_rectangle(binding, args[1], source, {function, "source"}) ||
                !to_vector2(binding, args[2], position, {function, "position"}) ||
                !to_color(binding, args[3], tint, white, {function, "tint"}))
                return nullptr;
            dest = {position.x, position.y, std::fabs(source.width), std::fabs(source.height)};
            break;
        }
        default:  // draw_texture_pro
            if (!to_rectangle(binding, args[1], source, {function, "source"}) ||
                !to_rectangle(binding, args[2], dest, {function, "dest"}) ||
                !to_vector2(binding, args[3], origin, {function, "origin"}) ||
                !float_argument(args[4], rotation, function, "rotation") ||
                !to_color(binding, args[5], tint, white, {function, "tint"}))
                return nullptr;
            break;
    }
    if (!on_the_cell(cell.area, source, function, "source") || !ready(self, function)) return nullptr;
    draw_part(binding, cell.page_data->texture, on_the_page(cell, source), dest, origin, rotation, tint);
    Py_RETURN_NONE;
}

// The bytes a cdata array holds, or -1 for a pointer (whose extent is unknown).
Py_ssize_t extent_of(const Binding& binding, PyObject* pixels) {
    Ref ctype = Ref::steal(PyObject_CallOneArg(binding.typeof_cdata.get(), pixels));
    Ref kind = ctype ? Ref::steal(PyObject_GetAttrString(ctype.get(), "kind")) : Ref();
    if (!kind) return PyErr_Clear(), -1;
    if (!PyUnicode_Check(kind.get()) || !PyUnicode_EqualToUTF8(kind.get(), "array")) return -1;
    Ref size = Ref::steal(PyObject_CallOneArg(binding.sizeof_.get(), pixels));
    const Py_ssize_t bytes = size ? PyLong_AsSsize_t(size.get()) : -1;
    if (bytes < 0) PyErr_Clear();
    return bytes;
}

// UpdateTexture and UpdateTextureRec: the pixels written into `area` of
// `texture` (a cell's of its page; a plain texture's whole), and nowhere
// else. An array too small for them is refused (raylib would read past it).
PyObject* update(ContextObject* self, CellCall call, const rl::Texture& texture, const Area& area, bool cell,
                 PyObject* const* args, const char* function) {
    const Binding& binding = self->binding;
    rl::Rectangle part{0.0f, 0.0f, static_cast<float>(area.width), static_cast<float>(area.height)};
    PyObject* pixels = args[1];
    if (call == CellCall::update_texture_rec) {
        if (!to_rectangle(binding, args[1], part, {function, "rec"})) return nullptr;
        pixels = args[2];
        // raylib takes whole pixels of it.
        part = {std::trunc(part.x), std::trunc(part.y), std::trunc(part.width), std::trunc(part.height)};
        if (part.width < 1.0f || part.height < 1.0f) {
            PyErr_Format(PyExc_ValueError, "%s: rec is less than 1x1", function);
            return nullptr;
        }
    }
    void* data = nullptr;
    if (!is_cdata(binding, pixels) ||
        binding.to_c(reinterpret_cast<char*>(&data), reinterpret_cast<CTypeDescr*>(binding.void_pointer.get()),
                     pixels) < 0) {
        if (!PyErr_Occurred() || PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "%s: pixels must be a cdata pointer or array, not %.200s", function,
                         Py_TYPE(pixels)->tp_name);
        }
        return nullptr;
    }
    if (data == nullptr) {
        PyErr_Format(PyExc_ValueError, "%s: pixels is NULL", function);
        return nullptr;
    }
    const bool inside = cell ? on_the_cell(area, part, function, "rec")
                             : part.x >= 0.0f && part.y >= 0.0f && part.x + part.width <= area.width &&
                                   part.y + part.height <= area.height;
    if (!inside) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_ValueError, "%s: rec reaches outside the texture (%dx%d)", function, area.width,
                         area.height);
        return nullptr;
    }
    const Functions& raylib = binding.raylib;
    const int needed =
        raylib.GetPixelDataSize(static_cast<int>(part.width), static_cast<int>(part.height), texture.format);
    const Py_ssize_t given = extent_of(binding, pixels);
    if (given >= 0 && given < needed) {
        PyErr_Format(PyExc_ValueError, "%s: pixels holds %zd bytes; %dx%d pixels of this texture take %d", function,
                     given, static_cast<int>(part.width), static_cast<int>(part.height), needed);
        return nullptr;
    }
    if (!ready(self, function)) return nullptr;
    raylib.rlDrawRenderBatchActive();  // what was drawn from it before is drawn first
    raylib.UpdateTextureRec(texture, {part.x + area.x, part.y + area.y, part.width, part.height}, data);
    Py_RETURN_NONE;
}

}  // namespace

bool cell_call_of(std::string_view name, std::string_view policy, CellCall& out) {
    static constexpr std::pair<std::string_view, CellCall> areas[] = {
        {"draw_texture", CellCall::draw_texture},
        {"draw_texture_v", CellCall::draw_texture_v},
        {"draw_texture_ex", CellCall::draw_texture_ex},
        {"draw_texture_rec", CellCall::draw_texture_rec},
        {"draw_texture_pro", CellCall::draw_texture_pro},
        {"update_texture", CellCall::update_texture},
        {"update_texture_rec", CellCall::update_texture_rec},
        {"load_image_from_texture", CellCall::load_image_from_texture},
    };
    if (policy == "refuse") return out = CellCall::refuse, true;
    if (policy == "page") return out = CellCall::page, true;
    // The policies that act on the cell's area are written here per function.
    static constexpr std::pair<std::string_view, std::string_view> kinds[] = {
        {"draw", "draw_texture"}, {"update", "update_texture"}, {"read", "load_image_from_texture"}};
    for (const auto& [word, prefix] : kinds) {
        if (policy != word || !name.starts_with(prefix)) continue;
        for (const auto& [function, call] : areas) {
            if (function == name) return out = call, true;
        }
    }
    return false;
}

PyObject* update_texture(ContextObject* self, CellCall call, PyObject* texture, PyObject* const* args, Py_ssize_t nargs,
                         const char* name) {
    const Py_ssize_t wanted = arity(call);
    if (nargs != wanted) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, wanted, nargs);
        return nullptr;
    }
    rl::Texture value;
    if (!from_cdata(self->binding, texture_struct, texture, &value, {name, "texture"}, "a raylib Texture"))
        return nullptr;
    return update(self, call, value, Area{0, 0, value.width, value.height}, false, args, name);
}

PyObject* call_for_cell(ContextObject* self, CellCall call, const Cell& cell, Py_ssize_t at, PyObject* function,
                        PyObject* const* args, Py_ssize_t nargs, const char* name, bool at_once, bool reads_back) {
    const Py_ssize_t wanted = arity(call);
    if (wanted >= 0 && (nargs != wanted || at != 0)) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, wanted, nargs);
        return nullptr;
    }
    switch (call) {
        case CellCall::update_texture:
        case CellCall::update_texture_rec:
            return update(self, call, cell.page_data->texture, cell.area, true, args, name);
        case CellCall::page:
        case CellCall::load_image_from_texture:
            break;
        default:
            return draw(self, call, cell, args, name);
    }
    // The page's own struct in the cell's place: its render texture, or its colour texture.
    const Binding& binding = self->binding;
    const bool texture = reinterpret_cast<const PyObject*>(reinterpret_cast<CDataHead*>(args[at])->c_type) ==
                             binding.ctypes[texture_struct].get() ||
                         reinterpret_cast<const PyObject*>(reinterpret_cast<CDataHead*>(args[at])->c_type) ==
                             binding.texture_pointer.get();
    Ref page = texture ? Ref::steal(PyObject_GetAttr(cell.page.get(), binding.texture_name.get()))
                       : Ref::newref(cell.page.get());
    if (!page) return nullptr;
    PyObject* given[16];
    for (Py_ssize_t i = 0; i < nargs && i < 16; ++i) given[i] = args[i];
    given[at] = page.get();
    if (at_once || reads_back) binding.raylib.rlDrawRenderBatchActive();
    if (reads_back) finish_drawing();
    Ref result = Ref::steal(PyObject_Vectorcall(function, given, static_cast<std::size_t>(nargs), nullptr));
    if (!result || call != CellCall::load_image_from_texture) return result.release();
    // The page's picture, cut to the cell's area (an Image's rows are the texture's).
    if (!is_struct(binding, result.get(), image_struct)) {
        PyErr_Format(PyExc_TypeError, "%s: the binding returned %R, not an Image", name, result.get());
        return nullptr;
    }
    auto* image = reinterpret_cast<rl::Image*>(reinterpret_cast<CDataHead*>(result.get())->c_data);
    if (image->data == nullptr) return result.release();  // raylib could not read it, and said why
    const Area& area = cell.area;
    binding.raylib.ImageCrop(image, {static_cast<float>(area.x), static_cast<float>(area.y),
                                     static_cast<float>(area.width), static_cast<float>(area.height)});
    return result.release();
}

}  // namespace kelo_raylib::native
