// The window context's drawing: clears and blits into the current target,
// their arguments converted in C++ and raylib called directly. Who may draw
// and the scopes are scopes.cpp; raylib's side is declared in
// raylib_declarations.h, the per-call conversions are conversions.h.
//
// What a blit draws from is a Source: a texture, and the part of it that is
// the picture (all of it, or an atlas cell's area of its page). Rectangles
// of a source are in its own storage, rows bottom-up as GL has them.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/dest.h"
#include "kelo_ui/fast/runtime/fastcall.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kelo_raylib::native {
namespace {

struct Source {
    rl::Texture texture{};
    Area area;  // whole: the texture itself

    Area bounds() const { return area.whole() ? Area{0, 0, texture.width, texture.height} : area; }
};

// The source a render texture's struct at `data` draws from: its colour
// texture, or for a cell the part of its page's texture that it is.
Source source_of(const ContextObject* self, const rl::RenderTexture& render_texture, const void* data) {
    if (const Cell* cell = cell_at(self, data)) return {cell->page_data->texture, cell->area};
    return {render_texture.texture, {}};
}

// A texture argument, held for the whole call and read (copied) only right
// before drawing: converting the other arguments may run Python code that
// releases it (its ids are zero then) or drops what its memory belongs to.
class HeldTexture {
public:
    // A Texture cdata; anything else raises TypeError now.
    bool take(const Binding& binding, PyObject* object, Where where) {
        object_ = Ref::newref(object);
        rl::Texture checked;
        return is_struct(binding, object, texture_struct) ||
               from_cdata(binding, texture_struct, object, &checked, where, "a raylib Texture");
    }

    // What fast_blit_pro draws: a KlRenderTexture's or a RenderTexture's
    // colour texture, or a Texture.
    bool take_colour_texture(const Binding& binding, PyObject* object, const char* function) {
        rl::Texture checked;
        if (PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(binding.kl_render_texture_type.get()))) {
            // The view of its `texture` points into its render texture, which
            // keeps no reference to it: the render texture is held too.
            parent_ = Ref::newref(reinterpret_cast<KlRenderTextureObject*>(object)->render_texture);
            Ref texture_view = Ref::steal(PyObject_GetAttr(object, binding.texture_name.get()));
            if (!texture_view) return false;
            object_ = std::move(texture_view);
            return is_struct(binding, object_.get(), texture_struct) ||
                   from_cdata(binding, texture_struct, object_.get(), &checked, {function, "texture.texture"},
                              "a raylib Texture");
        }
        object_ = Ref::newref(object);
        if (is_struct(binding, object, render_texture_struct)) {
            render_texture_ = true;
            return true;
        }
        return is_struct(binding, object, texture_struct) ||
               from_cdata(binding, texture_struct, object, &checked, {function, "texture"},
                          "a raylib Texture, a raylib RenderTexture or a KlRenderTexture");
    }

    // The source as the texture is now; no Python code runs here. One that is
    // dead (id 0) is refused, saying why. A texture that is the colour
    // texture of a cell draws the cell's part of its page.
    bool read(ContextObject* self, const char* function, const char* role = "the source") {
        const Binding& binding = self->binding;
        rl::RenderTexture whole;
        std::uintptr_t data = address_of(object_.get());
        if (render_texture_) {
            if (binding.to_c(reinterpret_cast<char*>(&whole), binding.ctype(render_texture_struct), object_.get()) < 0)
                return false;
        } else {
            if (binding.to_c(reinterpret_cast<char*>(&whole.texture), binding.ctype(texture_struct), object_.get()) < 0)
                return false;
            data -= offsetof(rl::RenderTexture, texture);  // the struct it would be a field of
        }
        source = source_of(self, whole, reinterpret_cast<const void*>(data));
        return whole.texture.id != 0 || dead(self, function, role, object_.get());
    }

    Source source;

private:
    Ref object_;
    Ref parent_;
    bool render_texture_ = false;
};

// A tint: None is white, the tuple converted last is known, any other value
// is converted (and kept when it is a tuple of exact ints).
bool tint_of(ContextObject* self, PyObject* color, rl::Color& out, const char* function) {
    if (color == Py_None) {
        out = white;
        return true;
    }
    TintCache& cache = self->tint;
    if (color == cache.tuple.get()) [[likely]] {
        out = cache.color;
        return true;
    }
    if (!plain_color(color, out)) return to_color(self->binding, color, out, white, {function, "color"});
    // The tuple let go holds exact ints only: releasing it runs no code.
    cache.tuple = Ref::newref(color);
    cache.color = out;
    return true;
}

// ------------------------------------------------------------ drawing

// The part of `from` (in the source's storage) that lies on the picture, and
// the part of `dest` it is drawn into; false when none of it does. Beyond the
// picture's edge raylib would draw its neighbour or wrap around to the
// texture's other side: a target of fractional size (4.9 wide, 4 pixels)
// asks for 0.9 of a texel too many. Only the texels of the picture are
// drawn, at the scale the rectangles ask for, from `dest`'s top-left corner
// (as the position form draws them); the rest of `dest` is left as it was. A
// negative width or height mirrors, as in DrawTexturePro.
bool on_the_picture(const Area& bounds, rl::Rectangle& from, rl::Rectangle& dest) {
    const float width = std::fabs(from.width), height = std::fabs(from.height);
    const float x0 = from.x, x1 = from.x + width;
    const float y0 = from.y, y1 = from.y + height;
    const auto left = static_cast<float>(bounds.x), right = static_cast<float>(bounds.x + bounds.width);
    const auto bottom = static_cast<float>(bounds.y), top = static_cast<float>(bounds.y + bounds.height);
    if (x0 >= left && y0 >= bottom && x1 <= right && y1 <= top) [[likely]]
        return true;
    const float cx0 = std::max(x0, left), cx1 = std::min(x1, right);
    const float cy0 = std::max(y0, bottom), cy1 = std::min(y1, top);
    if (!(cx1 > cx0) || !(cy1 > cy0)) return false;  // NaN too
    from = {cx0, cy0, std::copysign(cx1 - cx0, from.width), std::copysign(cy1 - cy0, from.height)};
    dest.width *= (cx1 - cx0) / width;
    dest.height *= (cy1 - cy0) / height;
    return true;
}

// A part of a texture whose texels go on beyond it (an atlas cell, a region
// of a picture) is drawn from a hair inside its edges: a pixel centre exactly
// on the drawn rectangle's edge then takes the part's own edge texel, as the
// texture's own edge does (render textures clamp), never its neighbour's. A
// hair is far less than the distance between a pixel's sample and a texel's
// edge in any draw at an integer place and scale, which stay the same.
constexpr float hair = 1.0f / 512.0f;

void inside_its_neighbours(const rl::Texture& texture, rl::Rectangle& from) {
    const bool mirror_x = from.width < 0.0f, mirror_y = from.height < 0.0f;
    float x0 = from.x, x1 = from.x + std::fabs(from.width);
    float y0 = from.y, y1 = from.y + std::fabs(from.height);
    if (x0 > 0.0f) x0 += hair;
    if (x1 < static_cast<float>(texture.width)) x1 -= hair;
    if (y0 > 0.0f) y0 += hair;
    if (y1 < static_cast<float>(texture.height)) y1 -= hair;
    from = {x0, y0, mirror_x ? x0 - x1 : x1 - x0, mirror_y ? y0 - y1 : y1 - y0};
}

// `from`, in the picture's own storage (0, 0 at its bottom-left texel), drawn
// into the rectangle `dest`.
void draw_into(const Binding& binding, const Source& source, rl::Rectangle from, rl::Rectangle dest, rl::Color tint) {
    const Area bounds = source.bounds();
    from.x += static_cast<float>(bounds.x);
    from.y += static_cast<float>(bounds.y);
    if (!on_the_picture(bounds, from, dest)) return;
    if (!source.area.whole() || from.x > 0.0f || from.y > 0.0f ||
        std::fabs(from.width) < static_cast<float>(source.texture.width) ||
        std::fabs(from.height) < static_cast<float>(source.texture.height))
        inside_its_neighbours(source.texture, from);
    binding.raylib.DrawTexturePro(source.texture, from, dest, rl::Vector2{0.0f, 0.0f}, 0.0f, tint);
}

// The whole picture at its own size, upside down when flipping: the source
// rectangle's height is negative then. (DrawTextureRec draws so, with the
// rectangle the picture's own size.)
void draw_whole(const Binding& binding, const Source& source, rl::Vector2 position, bool flip, rl::Color tint) {
    const Area bounds = source.bounds();
    const auto width = static_cast<float>(bounds.width), height = static_cast<float>(bounds.height);
    if (source.area.whole()) [[likely]] {
        binding.raylib.DrawTextureRec(source.texture, {0.0f, 0.0f, width, flip ? -height : height}, position, tint);
        return;
    }
    draw_into(binding, source, {0.0f, 0.0f, width, flip ? -height : height}, {position.x, position.y, width, height},
              tint);
}

// The part `area` (x, y, width, height) of the picture, top-left origin as
// drawn, in its own storage: rows run bottom-up there. Flipped, the part shows
// the right way up (a render texture's picture is stored upside down).
rl::Rectangle picture_part(const Source& source, const float (&area)[4], bool flip) {
    const auto height = static_cast<float>(source.bounds().height);
    return {area[0], height - area[1] - area[3], area[2], flip ? -area[3] : area[3]};
}

bool blit_pro(ContextObject* self, PyObject* texture_object, PyObject* dest, PyObject* flip_object, PyObject* color) {
    constexpr const char* function = "fast_blit_pro";
    const Binding& binding = self->binding;
    if (!enter(self, function)) return false;
    HeldTexture held;
    if (!held.take_colour_texture(binding, texture_object, function)) return false;
    Py_ssize_t size = 2;
    if (dest != Py_None) {
        size = PyTuple_CheckExact(dest) ? PyTuple_GET_SIZE(dest) : PyObject_Size(dest);
        if (size < 0) return false;
        if (size != 2 && size != 4) {
            kl::raise_invalid_dest(dest);
            return false;
        }
    }
    int flip = 0;
    if (!kl::as_truth(flip_object, flip)) return false;
    rl::Color tint;
    rl::Vector2 position{0.0f, 0.0f};
    rl::Rectangle rectangle{};
    if ((size == 2 ? dest != Py_None && !to_vector2(binding, dest, position, {function, "dest"})
                   : !to_rectangle(binding, dest, rectangle, {function, "dest"})) ||
        !tint_of(self, color, tint, function) || !held.read(self, function, "the texture") || !ready(self, function))
        return false;
    if (size == 2) {
        draw_whole(binding, held.source, position, flip != 0, tint);
    } else {
        const Area bounds = held.source.bounds();
        const auto width = static_cast<float>(bounds.width), height = static_cast<float>(bounds.height);
        draw_into(binding, held.source, {0.0f, 0.0f, width, flip ? -height : height}, rectangle, tint);
    }
    return true;
}

// ------------------------------------------------------------ the lean blits

// Whether a lean blit may draw now: on the window's thread, with no release
// waiting and raylib's window open. Otherwise the ordinary path says why.
bool lean_ready(ContextObject* self) {
    return self->thread == PyThread_get_thread_ident() && !self->pending && self->binding.raylib.IsWindowReady();
}

// The source of exactly the binding's RenderTexture cdata, when it is alive.
// Its type is known, so its bytes are the struct (as cffi's own conversion
// would copy them), read once, right before drawing.
bool lean_source(const ContextObject* self, PyObject* render_texture, Source& out) {
    if (!is_struct(self->binding, render_texture, render_texture_struct)) return false;
    const void* data = reinterpret_cast<CDataHead*>(render_texture)->c_data;
    rl::RenderTexture whole;
    std::memcpy(&whole, data, sizeof whole);
    out = source_of(self, whole, data);
    return whole.texture.id != 0;
}

// The tint of a lean blit: one that needs no conversion that could run code.
bool lean_tint(ContextObject* self, PyObject* color, rl::Color& out) {
    return color == Py_None || color == self->tint.tuple.get() || plain_color(color, out);
}

// A `dest` of a lean blit: a position (with the drawn part's size) or a
// rectangle, of plain numbers.
bool lean_dest(PyObject* dest, float width, float height, rl::Rectangle& out) {
    rl::Vector2 position;
    if (plain_vector2(dest, position)) {
        out = {position.x, position.y, width, height};
        return true;
    }
    return plain_rectangle(dest, out);
}

}  // namespace

void draw_picture_part(const Binding& binding, const compositor::Source& from, const float (&area)[4],
                       rl::Rectangle dest, rl::Color tint) {
    const rl::Texture& texture = from.texture;
    Source source{texture, {}};
    // A picture that is its whole texture is drawn as a target's own blit draws it.
    if (from.x != 0 || from.y != 0 || from.width != texture.width || from.height != texture.height)
        source.area = {from.x, from.y, from.width, from.height};
    draw_into(binding, source, picture_part(source, area, true), dest, tint);
}

void draw_part(const Binding& binding, const rl::Texture& page, rl::Rectangle from, rl::Rectangle dest,
               rl::Vector2 origin, float rotation, rl::Color tint) {
    inside_its_neighbours(page, from);
    binding.raylib.DrawTexturePro(page, from, dest, origin, rotation, tint);
}

bool fast_blit_pro(PyObject* context, PyObject* texture, PyObject* dest, PyObject* flip, PyObject* color) {
    return blit_pro(context_of(context), texture, dest, flip, color);
}

void clear_background(PyObject* context, PyObject* color) {
    constexpr const char* function = "c_clear_background";
    ContextObject* self = context_of(context);
    rl::Color clear;
    if (!enter(self, function) || !to_color(self->binding, color, clear, blank, {function, "color"}) ||
        !ready(self, function))
        return;
    // raylib clears at once but draws its batch later: what was drawn before
    // the clear is drawn first, so that the clear lands above it.
    self->binding.raylib.rlDrawRenderBatchActive();
    self->binding.raylib.ClearBackground(clear);
}

void draw_texture_vec(PyObject* context, PyObject* texture_object, PyObject* dest, PyObject* color, int flip) {
    constexpr const char* function = "c_draw_texture_vec";
    ContextObject* self = context_of(context);
    HeldTexture held;
    rl::Vector2 position;
    rl::Color tint;
    if (!enter(self, function) || !held.take(self->binding, texture_object, {function, "texture"}) ||
        !to_vector2(self->binding, dest, position, {function, "dest"}) || !tint_of(self, color, tint, function) ||
        !held.read(self, function) || !ready(self, function))
        return;
    draw_whole(self->binding, held.source, position, flip != 0, tint);
}

void draw_texture_rec(PyObject* context, PyObject* texture_object, PyObject* source_object, PyObject* dest_object,
                      PyObject* color) {
    constexpr const char* function = "c_draw_texture_rec";
    ContextObject* self = context_of(context);
    const Binding& binding = self->binding;
    HeldTexture held;
    rl::Rectangle from;
    rl::Rectangle dest;
    rl::Color tint;
    if (!enter(self, function) || !held.take(binding, texture_object, {function, "texture"}) ||
        !to_rectangle(binding, source_object, from, {function, "source"}) ||
        !to_rectangle(binding, dest_object, dest, {function, "dest"}) || !tint_of(self, color, tint, function) ||
        !held.read(self, function) || !ready(self, function))
        return;
    draw_into(binding, held.source, from, dest, tint);
}

int draw_render_texture_vec(PyObject* context, PyObject* render_texture, PyObject* dest, PyObject* color, int flip) {
    ContextObject* self = context_of(context);
    rl::Vector2 position;
    rl::Color tint;
    Source source;
    if (!lean_ready(self) || !plain_vector2(dest, position) || !lean_tint(self, color, tint) ||
        !lean_source(self, render_texture, source))
        return 0;
    tint_of(self, color, tint, "c_draw_texture_vec");  // known or plain now: cannot fail
    draw_whole(self->binding, source, position, flip != 0, tint);
    return 1;
}

int draw_render_texture_rec(PyObject* context, PyObject* render_texture, double source_width, double source_height,
                            PyObject* dest, PyObject* color) {
    ContextObject* self = context_of(context);
    rl::Rectangle from{0.0f, 0.0f, 0.0f, 0.0f};
    rl::Rectangle rectangle;
    rl::Color tint;
    Source source;
    if (!lean_ready(self) || !plain_float(source_width, from.width) || !plain_float(source_height, from.height) ||
        !plain_rectangle(dest, rectangle) || !lean_tint(self, color, tint) ||
        !lean_source(self, render_texture, source))
        return 0;
    tint_of(self, color, tint, "c_draw_texture_rec");
    draw_into(self->binding, source, from, rectangle, tint);
    return 1;
}

int draw_render_texture_area(PyObject* context, PyObject* render_texture, double x, double y, double width,
                             double height, PyObject* dest, PyObject* color, int flip) {
    ContextObject* self = context_of(context);
    float area[4];
    rl::Rectangle rectangle;
    rl::Color tint;
    Source source;
    if (!lean_ready(self) || !plain_float(x, area[0]) || !plain_float(y, area[1]) || !plain_float(width, area[2]) ||
        !plain_float(height, area[3]) || !lean_dest(dest, area[2], area[3], rectangle) ||
        !lean_tint(self, color, tint) || !lean_source(self, render_texture, source))
        return 0;
    tint_of(self, color, tint, "c_draw_texture_rec");
    draw_into(self->binding, source, picture_part(source, area, flip != 0), rectangle, tint);
    return 1;
}

// ------------------------------------------------------------ Python methods

PyObject* method_c_clear_background(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_clear_background", nargs, 1)) return nullptr;
    clear_background(self, args[0]);
    return kl::none_unless_error();
}

PyObject* method_c_draw_texture_vec(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_draw_texture_vec", nargs, 4)) return nullptr;
    int flip = 0;
    if (!kl::as_truth(args[3], flip)) return nullptr;
    draw_texture_vec(self, args[0], args[1], args[2], flip);
    return kl::none_unless_error();
}

PyObject* method_c_draw_texture_rec(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_draw_texture_rec", nargs, 4)) return nullptr;
    draw_texture_rec(self, args[0], args[1], args[2], args[3]);
    return kl::none_unless_error();
}

PyObject* method_fast_blit_pro(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("fast_blit_pro", nargs, 4) ||
        !fast_blit_pro(self, args[0], args[1], args[2], args[3]))
        return nullptr;
    Py_RETURN_NONE;
}

}  // namespace kelo_raylib::native
