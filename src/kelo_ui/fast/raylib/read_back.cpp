// Reading a render texture's pixels back: what raylib still holds in its
// batch is drawn, the driver finishes, and the rows come back top-down (a
// cell's part of its page only).
#include <cstring>

#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/raylib/private/gl_driver.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {

PyObject* method_read_rgba(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "read_rgba";
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count(function, nargs, 1) || !enter(self, function)) return nullptr;
    Ref held = Ref::newref(args[0]);
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
