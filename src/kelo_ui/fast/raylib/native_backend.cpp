// kelo_raylib's native drawing backend (see native_backend.h): the type and
// its drawing. raylib's side is declared in raylib_declarations.h, the
// one-time check of the installed binding is binding_check.h, the per-call
// conversions of arguments are conversions.h.
#include "kelo_ui/fast/raylib/native_backend.h"

#include <cstddef>
#include <new>
#include <utility>

#include "kelo_ui/fast/raylib/binding_check.h"
#include "kelo_ui/fast/raylib/conversions.h"
#include "kelo_ui/fast/raylib/raylib_declarations.h"
#include "kelo_ui/fast/runtime/dest.h"
#include "kelo_ui/fast/runtime/fastcall.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kelo_raylib::native {
namespace {

// ------------------------------------------------------------ drawing

struct BackendObject {
    PyObject_HEAD
    Binding binding;
};

const Binding& binding_of(PyObject* backend) { return reinterpret_cast<BackendObject*>(backend)->binding; }

// Tested after the arguments are converted (which may run Python code that
// closes the window) and right before the call: without a window raylib's
// drawing state is gone, and a call would write through freed memory.
bool window_ready(const Binding& binding, const char* function) {
    if (binding.raylib.IsWindowReady()) [[likely]]
        return true;
    PyErr_Format(PyExc_RuntimeError, "%s: raylib has no open window to draw into", function);
    return false;
}

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

// The texture that fast_blit_pro draws: a KlRenderTexture's or a
// RenderTexture's colour texture, or a Texture.
bool colour_texture(const Binding& binding, PyObject* object, rl::Texture& out) {
    constexpr const char* expected = "a raylib Texture, a raylib RenderTexture or a KlRenderTexture";
    if (PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(binding.kl_render_texture_type.get()))) {
        Ref texture = Ref::steal(PyObject_GetAttr(object, binding.texture_name.get()));
        return texture && from_cdata(binding, texture_struct, texture.get(), &out,
                                     {"fast_blit_pro", "texture.texture"}, "a raylib Texture");
    }
    if (is_cdata(binding, object)) {
        Ref ctype = Ref::steal(PyObject_CallOneArg(binding.typeof_cdata.get(), object));
        if (!ctype) return false;
        if (ctype.get() == binding.ctypes[render_texture_struct].get()) {
            rl::RenderTexture render_texture;
            if (!from_cdata(binding, render_texture_struct, object, &render_texture, {"fast_blit_pro", "texture"},
                            expected))
                return false;
            out = render_texture.texture;
            return true;
        }
    }
    return from_cdata(binding, texture_struct, object, &out, {"fast_blit_pro", "texture"}, expected);
}

bool fast_blit_pro(const Binding& binding, PyObject* texture_object, PyObject* dest, PyObject* flip_object,
                   PyObject* color) {
    constexpr const char* function = "fast_blit_pro";
    rl::Texture texture;
    if (!colour_texture(binding, texture_object, texture)) return false;
    Py_ssize_t size = 2;
    if (dest != Py_None) {
        size = PyTuple_CheckExact(dest) ? PyTuple_GET_SIZE(dest) : PyObject_Size(dest);
        if (size < 0) return false;
        if (size != 2 && size != 4) {
            kl::raise_invalid_dest(dest);
            return false;
        }
    }
    const int flip = PyObject_IsTrue(flip_object);
    if (flip < 0) return false;
    rl::Color tint;
    if (size == 2) {
        rl::Vector2 position{0.0f, 0.0f};
        if ((dest != Py_None && !to_vector2(binding, dest, position, {function, "dest"})) ||
            !to_color(binding, color, tint, white, {function, "color"}) || !window_ready(binding, function))
            return false;
        draw_whole(binding, texture, position, flip != 0, tint);
    } else {
        rl::Rectangle rectangle;
        if (!to_rectangle(binding, dest, rectangle, {function, "dest"}) ||
            !to_color(binding, color, tint, white, {function, "color"}) || !window_ready(binding, function))
            return false;
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
    return self.release();
}

void backend_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    reinterpret_cast<BackendObject*>(self)->binding.~Binding();
    Py_TYPE(self)->tp_free(self);
}

int backend_traverse(PyObject* self, visitproc visit, void* arg) {
    const Binding& binding = binding_of(self);
    Py_VISIT(binding.cdata_type.get());
    Py_VISIT(binding.typeof_cdata.get());
    for (const Ref& ctype : binding.ctypes) Py_VISIT(ctype.get());
    Py_VISIT(binding.kl_render_texture_type.get());
    return 0;
}

PyObject* method_c_clear_background(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_clear_background", nargs, 1)) return nullptr;
    clear_background(self, args[0]);
    return kl::none_unless_error();
}

PyObject* method_c_draw_texture_vec(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_draw_texture_vec", nargs, 4)) return nullptr;
    const int flip = PyObject_IsTrue(args[3]);
    if (flip < 0) return nullptr;
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
    if (!fast_blit_pro(binding_of(self), args[0], args[1], args[2], args[3])) return nullptr;
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
    KL_METHOD(begin_texture_mode, "begin_texture_mode($self, render_texture, /)\n--\n\nDraw into a render texture."),
    KL_METHOD(end_texture_mode, "end_texture_mode($self, /)\n--\n\nEnd the active texture mode."),
    KL_METHOD(begin_blend_mode, "begin_blend_mode($self, mode, /)\n--\n\nDraw with one of raylib's blend modes."),
    KL_METHOD(end_blend_mode, "end_blend_mode($self, /)\n--\n\nEnd the active blend mode."),
    KL_METHOD(fast_blit_pro, "fast_blit_pro($self, texture, dest, flip, color, /)\n--\n\n"
                             "Draw a Texture, RenderTexture or KlRenderTexture at dest: None or (x, y) at its own "
                             "size, (x, y, w, h) scaled into that rectangle."),
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
    .tp_methods = backend_methods,
    .tp_new = backend_new,
};
#pragma GCC diagnostic pop

void clear_background(PyObject* backend, PyObject* color) {
    constexpr const char* function = "c_clear_background";
    const Binding& binding = binding_of(backend);
    rl::Color clear;
    if (!to_color(binding, color, clear, blank, {function, "color"}) || !window_ready(binding, function)) return;
    binding.raylib.ClearBackground(clear);
}

void draw_texture_vec(PyObject* backend, PyObject* texture_object, PyObject* dest, PyObject* color, int flip) {
    constexpr const char* function = "c_draw_texture_vec";
    const Binding& binding = binding_of(backend);
    rl::Texture texture;
    rl::Vector2 position;
    rl::Color tint;
    if (!to_texture(binding, texture_object, texture, {function, "texture"}) ||
        !to_vector2(binding, dest, position, {function, "dest"}) ||
        !to_color(binding, color, tint, white, {function, "color"}) || !window_ready(binding, function))
        return;
    draw_whole(binding, texture, position, flip != 0, tint);
}

void draw_texture_rec(PyObject* backend, PyObject* texture_object, PyObject* source_object, PyObject* dest_object,
                      PyObject* color) {
    constexpr const char* function = "c_draw_texture_rec";
    const Binding& binding = binding_of(backend);
    rl::Texture texture;
    rl::Rectangle source;
    rl::Rectangle dest;
    rl::Color tint;
    if (!to_texture(binding, texture_object, texture, {function, "texture"}) ||
        !to_rectangle(binding, source_object, source, {function, "source"}) ||
        !to_rectangle(binding, dest_object, dest, {function, "dest"}) ||
        !to_color(binding, color, tint, white, {function, "color"}) || !window_ready(binding, function))
        return;
    draw_into(binding, texture, source, dest, tint);
}

void begin_texture_mode(PyObject* backend, PyObject* render_texture_object) {
    constexpr const char* function = "begin_texture_mode";
    const Binding& binding = binding_of(backend);
    rl::RenderTexture render_texture;
    if (!from_cdata(binding, render_texture_struct, render_texture_object, &render_texture,
                    {function, "render_texture"}, "a raylib RenderTexture") ||
        !window_ready(binding, function))
        return;
    binding.raylib.BeginTextureMode(render_texture);
}

void end_texture_mode(PyObject* backend) {
    const Binding& binding = binding_of(backend);
    if (window_ready(binding, "end_texture_mode")) binding.raylib.EndTextureMode();
}

void begin_blend_mode(PyObject* backend, int blend_mode) {
    const Binding& binding = binding_of(backend);
    if (window_ready(binding, "begin_blend_mode")) binding.raylib.BeginBlendMode(blend_mode);
}

void end_blend_mode(PyObject* backend) {
    const Binding& binding = binding_of(backend);
    if (window_ready(binding, "end_blend_mode")) binding.raylib.EndBlendMode();
}

bool add_to_module(PyObject* module) {
    Ref mismatch_class = Ref::steal(PyErr_NewExceptionWithDoc(
        "kelo_ui.fast.raylib.kelo_raylib.BindingMismatch",
        "The installed raylib binding is not the one the native backend was written for.", PyExc_RuntimeError,
        nullptr));
    if (!mismatch_class || PyModule_AddObjectRef(module, "BindingMismatch", mismatch_class.get()) < 0) return false;
    binding_mismatch.set(std::move(mismatch_class));
    if (PyType_Ready(&backend_type) < 0) return false;
    return PyModule_AddObjectRef(module, "NativeBackend", reinterpret_cast<PyObject*>(&backend_type)) == 0;
}

}  // namespace kelo_raylib::native
