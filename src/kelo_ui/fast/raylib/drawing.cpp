// The window context's drawing: clears and blits into the current target,
// their arguments converted in C++ and raylib called directly. Who may draw
// and the scopes are scopes.cpp; raylib's side is declared in
// raylib_declarations.h, the per-call conversions are conversions.h.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/runtime/dest.h"
#include "kelo_ui/fast/runtime/fastcall.h"
#include "kelo_ui/fast/runtime/ref.h"
#include "kelo_ui/fast/runtime/convert.h"

namespace kelo_raylib::native {
namespace {

// A texture argument, held for the whole call and read (copied) only right
// before drawing: converting the other arguments may run Python code that
// releases it (its ids are zero then) or drops what its memory belongs to.
class HeldTexture {
public:
    // A Texture cdata; anything else raises TypeError now.
    bool take(const Binding& binding, PyObject* object, Where where) {
        object_ = Ref::newref(object);
        if (is_struct(binding, object, texture_struct)) [[likely]]
            return true;
        return from_cdata(binding, texture_struct, object, &texture, where, "a raylib Texture");
    }

    // What fast_blit_pro draws: a KlRenderTexture's or a RenderTexture's
    // colour texture, or a Texture.
    bool take_colour_texture(const Binding& binding, PyObject* object, const char* function) {
        if (PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(binding.kl_render_texture_type.get()))) {
            // The view of its `texture` points into its render texture, which
            // keeps no reference to it: the render texture is held too.
            parent_ = Ref::newref(reinterpret_cast<KlRenderTextureObject*>(object)->render_texture);
            Ref texture_view = Ref::steal(PyObject_GetAttr(object, binding.texture_name.get()));
            if (!texture_view) return false;
            object_ = std::move(texture_view);
            return is_struct(binding, object_.get(), texture_struct) ||
                   from_cdata(binding, texture_struct, object_.get(), &texture, {function, "texture.texture"},
                              "a raylib Texture");
        }
        object_ = Ref::newref(object);
        if (is_struct(binding, object, render_texture_struct)) {
            render_texture_ = true;
            return true;
        }
        return is_struct(binding, object, texture_struct) ||
               from_cdata(binding, texture_struct, object, &texture, {function, "texture"},
                          "a raylib Texture, a raylib RenderTexture or a KlRenderTexture");
    }

    // The texture's fields as they are now; no Python code runs here. Then
    // one that is dead (id 0) is refused, saying why.
    bool read(ContextObject* self, const char* function) {
        const Binding& binding = self->binding;
        if (render_texture_) {
            rl::RenderTexture whole;
            if (binding.to_c(reinterpret_cast<char*>(&whole), binding.ctype(render_texture_struct), object_.get()) < 0)
                return false;
            texture = whole.texture;
        } else if (binding.to_c(reinterpret_cast<char*>(&texture), binding.ctype(texture_struct), object_.get()) < 0) {
            return false;
        }
        return texture.id != 0 || dead(self, function, "texture", object_.get());
    }

    rl::Texture texture{};

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

// ------------------------------------------------------------ the lean blits

// Whether a lean blit may draw now: on the window's thread, with no release
// waiting and raylib's window open. Otherwise the ordinary path says why.
bool lean_ready(ContextObject* self) {
    return self->thread == PyThread_get_thread_ident() && !self->pending &&
           self->binding.raylib.IsWindowReady();
}

// The colour texture of exactly the binding's RenderTexture cdata, when it is
// alive. Its type is known, so its bytes are the struct (as cffi's own
// conversion would copy them), read once, right before drawing.
bool lean_texture(const Binding& binding, PyObject* render_texture, rl::Texture& out) {
    if (!is_struct(binding, render_texture, render_texture_struct)) return false;
    rl::RenderTexture whole;
    std::memcpy(&whole, reinterpret_cast<CDataHead*>(render_texture)->c_data, sizeof whole);
    out = whole.texture;
    return out.id != 0;
}

// ------------------------------------------------------------ drawing

// The whole texture at its own size, upside down when flipping: the source
// rectangle's height is negative then.
void draw_whole(const Binding& binding, const rl::Texture& texture, rl::Vector2 position, bool flip,
                rl::Color tint) {
    const float height = static_cast<float>(texture.height);
    binding.raylib.DrawTextureRec(texture, {0.0f, 0.0f, static_cast<float>(texture.width), flip ? -height : height},
                                  position, tint);
}

// The part of `source` that lies on the texture, and the part of `dest` it
// is drawn into; false when none of it does. Beyond the texture's edge raylib
// would wrap around to the other side: a target of fractional size (4.9
// wide, 4 pixels) asks for 0.9 of a texel too many. Only the texels on the
// texture are drawn, at the scale the rectangles ask for, from `dest`'s
// top-left corner (as the position form draws them); the rest of `dest` is
// left as it was. A negative width or height mirrors, as in DrawTexturePro.
bool on_the_texture(const rl::Texture& texture, rl::Rectangle& source, rl::Rectangle& dest) {
    const float width = std::fabs(source.width);
    const float height = std::fabs(source.height);
    const float x0 = source.x, x1 = source.x + width;
    const float y0 = source.y, y1 = source.y + height;
    const auto texture_width = static_cast<float>(texture.width);
    const auto texture_height = static_cast<float>(texture.height);
    if (x0 >= 0.0f && y0 >= 0.0f && x1 <= texture_width && y1 <= texture_height) [[likely]]
        return true;
    const float cx0 = std::max(x0, 0.0f), cx1 = std::min(x1, texture_width);
    const float cy0 = std::max(y0, 0.0f), cy1 = std::min(y1, texture_height);
    if (!(cx1 > cx0) || !(cy1 > cy0)) return false;  // NaN too
    source = {cx0, cy0, std::copysign(cx1 - cx0, source.width), std::copysign(cy1 - cy0, source.height)};
    dest.width *= (cx1 - cx0) / width;
    dest.height *= (cy1 - cy0) / height;
    return true;
}

void draw_into(const Binding& binding, const rl::Texture& texture, rl::Rectangle source, rl::Rectangle dest,
               rl::Color tint) {
    if (on_the_texture(texture, source, dest))
        binding.raylib.DrawTexturePro(texture, source, dest, rl::Vector2{0.0f, 0.0f}, 0.0f, tint);
}

bool blit_pro(ContextObject* self, PyObject* texture_object, PyObject* dest, PyObject* flip_object,
              PyObject* color) {
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
        !tint_of(self, color, tint, function) || !held.read(self, function) ||
        !ready(self, function))
        return false;
    const rl::Texture& texture = held.texture;
    if (size == 2) {
        draw_whole(binding, texture, position, flip != 0, tint);
    } else {
        const float height = static_cast<float>(texture.height);
        draw_into(binding, texture, {0.0f, 0.0f, static_cast<float>(texture.width), flip ? -height : height},
                  rectangle, tint);
    }
    return true;
}

}  // namespace

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
    const Binding& binding = self->binding;
    HeldTexture held;
    rl::Vector2 position;
    rl::Color tint;
    if (!enter(self, function) || !held.take(binding, texture_object, {function, "texture"}) ||
        !to_vector2(binding, dest, position, {function, "dest"}) ||
        !tint_of(self, color, tint, function) || !held.read(self, function) ||
        !ready(self, function))
        return;
    draw_whole(binding, held.texture, position, flip != 0, tint);
}

void draw_texture_rec(PyObject* context, PyObject* texture_object, PyObject* source_object, PyObject* dest_object,
                      PyObject* color) {
    constexpr const char* function = "c_draw_texture_rec";
    ContextObject* self = context_of(context);
    const Binding& binding = self->binding;
    HeldTexture held;
    rl::Rectangle source;
    rl::Rectangle dest;
    rl::Color tint;
    if (!enter(self, function) || !held.take(binding, texture_object, {function, "texture"}) ||
        !to_rectangle(binding, source_object, source, {function, "source"}) ||
        !to_rectangle(binding, dest_object, dest, {function, "dest"}) ||
        !tint_of(self, color, tint, function) || !held.read(self, function) ||
        !ready(self, function))
        return;
    draw_into(binding, held.texture, source, dest, tint);
}

int draw_render_texture_vec(PyObject* context, PyObject* render_texture, PyObject* dest, PyObject* color, int flip) {
    ContextObject* self = context_of(context);
    rl::Vector2 position;
    rl::Color tint;
    rl::Texture texture;
    if (!lean_ready(self) || !plain_vector2(dest, position) ||
        (color != Py_None && color != self->tint.tuple.get() && !plain_color(color, tint)) ||
        !lean_texture(self->binding, render_texture, texture))
        return 0;
    tint_of(self, color, tint, "c_draw_texture_vec");  // known or plain now: cannot fail
    draw_whole(self->binding, texture, position, flip != 0, tint);
    return 1;
}

int draw_render_texture_rec(PyObject* context, PyObject* render_texture, double source_width, double source_height,
                            PyObject* dest, PyObject* color) {
    ContextObject* self = context_of(context);
    rl::Rectangle source{0.0f, 0.0f, 0.0f, 0.0f};
    rl::Rectangle rectangle;
    rl::Color tint;
    rl::Texture texture;
    if (!lean_ready(self) || !plain_float(source_width, source.width) || !plain_float(source_height, source.height) ||
        !plain_rectangle(dest, rectangle) ||
        (color != Py_None && color != self->tint.tuple.get() && !plain_color(color, tint)) ||
        !lean_texture(self->binding, render_texture, texture))
        return 0;
    tint_of(self, color, tint, "c_draw_texture_rec");
    draw_into(self->binding, texture, source, rectangle, tint);
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
    if (!kl::check_positional_count("fast_blit_pro", nargs, 4) || !fast_blit_pro(self, args[0], args[1], args[2], args[3]))
        return nullptr;
    Py_RETURN_NONE;
}

}  // namespace kelo_raylib::native
