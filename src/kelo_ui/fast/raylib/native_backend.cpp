// kelo_raylib's native drawing backend (see private/native_backend.h): the
// type and its drawing. The window's side of it (its thread and its scope
// stacks) is window_side.cpp; raylib's side is declared in
// raylib_declarations.h, the one-time check of the installed binding is
// binding_check.h, the per-call conversions of arguments are conversions.h.
#include "kelo_ui/fast/raylib/private/native_backend.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/raylib/private/backend_object.h"
#include "kelo_ui/fast/raylib/private/binding_check.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/raylib/private/raylib_declarations.h"
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
    bool read(BackendObject* self, const char* function) {
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
bool tint_of(BackendObject* self, PyObject* color, rl::Color& out, const char* function) {
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
bool lean_ready(BackendObject* self) {
    return self->window.thread == PyThread_get_thread_ident() && !self->window.pending &&
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

void draw_into(const Binding& binding, const rl::Texture& texture, rl::Rectangle source, rl::Rectangle dest,
               rl::Color tint) {
    binding.raylib.DrawTexturePro(texture, source, dest, rl::Vector2{0.0f, 0.0f}, 0.0f, tint);
}

bool fast_blit_pro(BackendObject* self, PyObject* texture_object, PyObject* dest, PyObject* flip_object,
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

// ------------------------------------------------------------ the type

PyObject* backend_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"ffi", "lib", nullptr};
    PyObject* ffi = nullptr;
    PyObject* lib = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:NativeBackend", const_cast<char**>(keywords), &ffi, &lib))
        return nullptr;
    Binding binding;
    if (!make_binding(ffi, lib, binding)) return nullptr;
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    // Nothing runs between the allocation and this: the binding is always
    // made when the object is seen.
    new (&self.as<BackendObject>()->binding) Binding(std::move(binding));
    new (&self.as<BackendObject>()->window) WindowState();
    new (&self.as<BackendObject>()->tint) TintCache();
    return self.release();
}

void backend_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    backend_of(self)->tint.~TintCache();
    backend_of(self)->window.~WindowState();
    backend_of(self)->binding.~Binding();
    Py_TYPE(self)->tp_free(self);
}

int backend_traverse(PyObject* self, visitproc visit, void* arg) {
    const Binding& binding = backend_of(self)->binding;
    Py_VISIT(binding.cdata_type.get());
    Py_VISIT(binding.typeof_cdata.get());
    for (const Ref& ctype : binding.ctypes) Py_VISIT(ctype.get());
    Py_VISIT(binding.kl_render_texture_type.get());
    const WindowState& window = backend_of(self)->window;
    Py_VISIT(window.objects.get());
    Py_VISIT(window.detached_because.get());
    for (const TextureScope& scope : window.targets) Py_VISIT(scope.render_texture.get());
    Py_VISIT(backend_of(self)->tint.tuple.get());
    return 0;
}

// The window's objects refer to their backend: the collector breaks the
// cycle here, leaving a detached backend.
int backend_clear(PyObject* self) {
    WindowState& window = backend_of(self)->window;
    std::vector<TextureScope> targets = std::move(window.targets);
    window.targets.clear();
    window.thread = 0;
    Ref objects = std::move(window.objects);
    Ref because = std::move(window.detached_because);
    return 0;
}

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

PyObject* method_begin_texture_mode(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("begin_texture_mode", nargs, 1)) return nullptr;
    begin_texture_mode(self, args[0]);
    return kl::none_unless_error();
}

PyObject* method_end_texture_mode(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("end_texture_mode", nargs, 0)) return nullptr;
    end_texture_mode(self);
    return kl::none_unless_error();
}

PyObject* method_begin_blend_mode(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("begin_blend_mode", nargs, 1)) return nullptr;
    int mode = 0;
    if (!kl::int_argument(args[0], mode)) return nullptr;
    begin_blend_mode(self, mode);
    return kl::none_unless_error();
}

PyObject* method_end_blend_mode(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("end_blend_mode", nargs, 0)) return nullptr;
    end_blend_mode(self);
    return kl::none_unless_error();
}

PyObject* method_fast_blit_pro(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("fast_blit_pro", nargs, 4)) return nullptr;
    if (!fast_blit_pro(backend_of(self), args[0], args[1], args[2], args[3])) return nullptr;
    Py_RETURN_NONE;
}

#define KL_METHOD(name, doc) \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_##name)), METH_FASTCALL, doc}

PyMethodDef backend_methods[] = {
    KL_METHOD(c_clear_background, "c_clear_background($self, color, /)\n--\n\nClear the current target; None is (0, 0, 0, 0)."),
    {"clear_background", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_c_clear_background)),
     METH_FASTCALL, "clear_background($self, color, /)\n--\n\nClear the current target; None is (0, 0, 0, 0)."},
    KL_METHOD(c_draw_texture_vec, "c_draw_texture_vec($self, texture, dest, color, flip, /)\n--\n\n"
                                  "Draw a whole texture at the position dest, upside down when flip is true."),
    KL_METHOD(c_draw_texture_rec, "c_draw_texture_rec($self, texture, source, dest, color, /)\n--\n\n"
                                  "Draw the part source of a texture into the rectangle dest."),
    KL_METHOD(begin_texture_mode, "begin_texture_mode($self, render_texture, /)\n--\n\n"
                                  "Make a render texture the current target until the matching end."),
    KL_METHOD(end_texture_mode, "end_texture_mode($self, /)\n--\n\n"
                                "Make the enclosing target (or the window) current again."),
    KL_METHOD(begin_blend_mode, "begin_blend_mode($self, mode, /)\n--\n\n"
                                "Draw with one of raylib's blend modes (0 to 7) until the matching end."),
    KL_METHOD(end_blend_mode, "end_blend_mode($self, /)\n--\n\n"
                              "Draw with the enclosing blend mode (alpha, 0, with none open) again."),
    KL_METHOD(fast_blit_pro, "fast_blit_pro($self, texture, dest, flip, color, /)\n--\n\n"
                             "Draw a Texture, RenderTexture or KlRenderTexture at dest: None or (x, y) at its own "
                             "size, (x, y, w, h) scaled into that rectangle."),
    KL_METHOD(attach, "attach($self, objects, /)\n--\n\n"
                      "Draw for a window: only the calling thread may draw; objects are the window's GPU objects."),
    KL_METHOD(detach, "detach($self, reason, /)\n--\n\n"
                      "Forget the scopes without a raylib call; every drawing call raises RuntimeError from now on."),
    KL_METHOD(current_target, "current_target($self, /)\n--\n\n"
                              "The render texture of the innermost texture mode, or None for the window."),
    KL_METHOD(forget_target, "forget_target($self, render_texture, /)\n--\n\n"
                             "Take a render texture that is being released off the scope stack."),
    KL_METHOD(end_scopes, "end_scopes($self, /)\n--\n\nEnd every open scope; returns how many there were."),
    KL_METHOD(open_scopes, "open_scopes($self, /)\n--\n\nHow many scopes are open."),
    KL_METHOD(note_pending_releases, "note_pending_releases($self, /)\n--\n\n"
                                     "The next drawing call runs the window's pending releases first."),
    {nullptr, nullptr, 0, nullptr},
};

#undef KL_METHOD

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject backend_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.raylib.kelo_raylib.NativeBackend",
    .tp_basicsize = sizeof(BackendObject),
    .tp_dealloc = backend_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    .tp_doc = "NativeBackend(ffi, lib)\n--\n\n"
              "The drawing backend that calls raylib's C functions directly. Takes their addresses from the "
              "binding's cffi `ffi` and `lib` once, after checking that the binding's structs and functions are "
              "the ones it was written for; raises BindingMismatch otherwise.",
    .tp_traverse = backend_traverse,
    .tp_clear = backend_clear,
    .tp_methods = backend_methods,
    .tp_new = backend_new,
};
#pragma GCC diagnostic pop

void clear_background(PyObject* backend, PyObject* color) {
    constexpr const char* function = "c_clear_background";
    BackendObject* self = backend_of(backend);
    rl::Color clear;
    if (!enter(self, function) || !to_color(self->binding, color, clear, blank, {function, "color"}) ||
        !ready(self, function))
        return;
    self->binding.raylib.ClearBackground(clear);
}

void draw_texture_vec(PyObject* backend, PyObject* texture_object, PyObject* dest, PyObject* color, int flip) {
    constexpr const char* function = "c_draw_texture_vec";
    BackendObject* self = backend_of(backend);
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

void draw_texture_rec(PyObject* backend, PyObject* texture_object, PyObject* source_object, PyObject* dest_object,
                      PyObject* color) {
    constexpr const char* function = "c_draw_texture_rec";
    BackendObject* self = backend_of(backend);
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

int draw_render_texture_vec(PyObject* backend, PyObject* render_texture, PyObject* dest, PyObject* color, int flip) {
    BackendObject* self = backend_of(backend);
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

int draw_render_texture_rec(PyObject* backend, PyObject* render_texture, double source_width, double source_height,
                            PyObject* dest, PyObject* color) {
    BackendObject* self = backend_of(backend);
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

bool add_to_module(PyObject* module) {
    Ref mismatch_class = Ref::steal(PyErr_NewExceptionWithDoc(
        "kelo_ui.fast.raylib.kelo_raylib.BindingMismatch",
        "The installed raylib binding is not the one the native backend was written for.", PyExc_RuntimeError,
        nullptr));
    if (!mismatch_class || PyModule_AddObjectRef(module, "BindingMismatch", mismatch_class.get()) < 0) return false;
    binding_mismatch.set(std::move(mismatch_class));
    if (!intern_window_names()) return false;
    if (PyType_Ready(&backend_type) < 0) return false;
    return PyModule_AddObjectRef(module, "NativeBackend", reinterpret_cast<PyObject*>(&backend_type)) == 0;
}

}  // namespace kelo_raylib::native
