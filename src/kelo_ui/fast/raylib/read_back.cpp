// Reading a render texture's pixels back: what raylib still holds in its
// batch is drawn, the driver finishes, and the rows come back top-down (a
// cell's part of its page only).
#include <cstring>

#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/raylib/private/gl_driver.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {
namespace {

kl::Pinned<PyTypeObject> kl_render_texture_type;
bool assertions = true;

// KlRenderTexture, imported when first needed (it imports this module), and
// whether the interpreter checks assertions, read then as its module reads it.
PyTypeObject* kl_render_texture() {
    if (kl_render_texture_type) return kl_render_texture_type.get();
    Ref module = Ref::steal(PyImport_ImportModule("kelo_ui.fast.klrendertex.kl_render_tex"));
    Ref type = module ? Ref::steal(PyObject_GetAttrString(module.get(), "KlRenderTexture")) : Ref();
    if (!type) return nullptr;
    if (!PyType_Check(type.get())) {
        PyErr_SetString(PyExc_TypeError, "kl_render_tex.KlRenderTexture is not a type");
        return nullptr;
    }
    PyObject* debug = PyDict_GetItemString(PyEval_GetBuiltins(), "__debug__");
    assertions = debug == nullptr || debug == Py_True;
    kl_render_texture_type.set(std::move(type));
    return kl_render_texture_type.get();
}

}  // namespace

PyObject* method_read_rgba(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "read_rgba";
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count(function, nargs, 1)) return nullptr;
    Ref held = Ref::newref(args[0]);
    PyTypeObject* target_type = kl_render_texture();
    if (target_type == nullptr) return nullptr;
    if (PyObject_TypeCheck(held.get(), target_type)) {
        // A target is read as its own checked methods read it: loaded first.
        const auto* target = reinterpret_cast<const KlRenderTextureObject*>(held.get());
        if (!target->loaded && assertions) {
            PyErr_SetString(PyExc_AssertionError, "Render texture not loaded");
            return nullptr;
        }
        held = Ref::newref(target->render_texture);
    }
    if (!enter(self, function)) return nullptr;
    rl::RenderTexture target;
    if (!from_cdata(self->binding, render_texture_struct, held.get(), &target, {function, "render_texture"},
                    "a raylib RenderTexture"))
        return nullptr;
    if (target.id == 0 || target.texture.id == 0)
        return dead(self, function, "the render texture", held.get()), nullptr;
    if (!ready(self, function)) return nullptr;
    // A cell is a part of its page's texture.
    const Cell* cell = cell_at(self, reinterpret_cast<CDataHead*>(held.get())->c_data);
    const rl::Texture& texture = cell ? cell->page_data->texture : target.texture;
    const Area area = cell ? cell->area : Area{0, 0, texture.width, texture.height};
    if (texture.format != rgba8 || texture.width < 1 || texture.height < 1) {
        PyErr_Format(PyExc_RuntimeError, "%s: the render texture is not %dx%d RGBA8 pixels", function, texture.width,
                     texture.height);
        return nullptr;
    }
    const Functions& raylib = self->binding.raylib;
    // Draws still waiting in raylib's batch belong in the picture, and the
    // driver's threads may still be drawing what it was handed.
    raylib.rlDrawRenderBatchActive();
    finish_drawing();
    auto* stored = static_cast<const unsigned char*>(
        raylib.rlReadTexturePixels(texture.id, texture.width, texture.height, texture.format));
    if (stored == nullptr) {
        PyErr_Format(PyExc_RuntimeError, "%s: raylib read no pixels back", function);
        return nullptr;
    }
    // GL stores a render texture bottom-up: row 0 here is y = 0 as drawn.
    const Py_ssize_t stride = static_cast<Py_ssize_t>(texture.width) * 4;
    const Py_ssize_t row = static_cast<Py_ssize_t>(area.width) * 4;
    Ref data = Ref::steal(PyBytes_FromStringAndSize(nullptr, row * area.height));
    if (data) {
        char* rows = PyBytes_AS_STRING(data.get());
        for (int y = 0; y < area.height; ++y)
            std::memcpy(rows + y * row, stored + (area.y + area.height - 1 - y) * stride + area.x * 4,
                        static_cast<std::size_t>(row));
    }
    raylib.MemFree(const_cast<unsigned char*>(stored));
    if (!data) return nullptr;
    return Py_BuildValue("(iiN)", area.width, area.height, data.release());
}

}  // namespace kelo_raylib::native
