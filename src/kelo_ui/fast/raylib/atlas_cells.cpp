// The cells of an atlas: a cell is a render texture of the window (a slot of
// its memory, tracked and released as any) whose struct has its page's GPU
// ids and its own size, and the context's table of cells says which part of
// the page it is (context.h, Cell). Drawing into a cell clips to that part
// (scopes.cpp); drawing from it draws that part (drawing.cpp). A cell dies
// without a GPU call: its page stays, and dies with its cells.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {

// A cell dies: its scopes go, its ids are zeroed; its page, and the page's
// framebuffer, stay.
bool release_cell(ContextObject* self, void* data, Death why, const char* function) {
    auto* cell = static_cast<rl::RenderTexture*>(data);
    if (!forget_target(self, cell->id, data, function)) return false;
    Cell gone;
    if (auto found = self->cells.find(reinterpret_cast<std::uintptr_t>(data)); found != self->cells.end()) {
        gone = std::move(found->second);
        self->cells.erase(found);
    }
    forget_live(self, data, why);
    zero(Kind::render_texture, data);
    return true;
}

// The cells of a page that is being released die with it.
bool release_cells_of(ContextObject* self, const rl::RenderTexture* page, Death why, const char* function) {
    std::vector<std::uintptr_t> cells;
    if (!growing([&] {
            for (const auto& [address, cell] : self->cells)
                if (cell.page_data == page) cells.push_back(address);
        }))
        return false;
    for (std::uintptr_t address : cells)
        if (!release_cell(self, reinterpret_cast<void*>(address), why, function)) return false;
    return true;
}

// Atlas.allocate's native part: its refusals are the user's call's.
const Cell* cell_of(const ContextObject* self, PyObject* texture) {
    if (self->cells.empty()) [[likely]]
        return nullptr;
    const Binding& binding = self->binding;
    const auto* head = reinterpret_cast<const CDataHead*>(texture);
    const auto* type = reinterpret_cast<const PyObject*>(head->c_type);
    if (type == binding.ctypes[render_texture_struct].get() || type == binding.render_texture_pointer.get())
        return cell_at(self, head->c_data);
    if (type == binding.ctypes[texture_struct].get() || type == binding.texture_pointer.get())
        return cell_at(self, head->c_data - offsetof(rl::RenderTexture, texture));
    return nullptr;
}

bool copies_a_cell(const ContextObject* self, PyObject* texture) {
    if (self->pages.empty()) [[likely]]
        return false;
    const Binding& binding = self->binding;
    rl::Texture value;
    if (is_struct(binding, texture, texture_struct)) {
        std::memcpy(&value, reinterpret_cast<const CDataHead*>(texture)->c_data, sizeof value);
    } else if (is_struct(binding, texture, render_texture_struct)) {
        std::memcpy(&value, reinterpret_cast<const CDataHead*>(texture)->c_data + offsetof(rl::RenderTexture, texture),
                    sizeof value);
    } else {
        return false;
    }
    if (value.id == 0 || cell_of(self, texture)) return false;
    for (const rl::RenderTexture* page : self->pages)
        if (page->texture.id == value.id)
            return value.width != page->texture.width || value.height != page->texture.height;
    return false;
}

PyObject* method_make_cell(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "Atlas.allocate";
    ContextObject* self = context_of(object);
    int x = 0, y = 0, width = 0, height = 0;
    if (!kl::check_positional_count("make_cell", nargs, 5) || !kl::int_argument(args[1], x) ||
        !kl::int_argument(args[2], y) || !kl::int_argument(args[3], width) || !kl::int_argument(args[4], height) ||
        !for_gpu_work(self, function))
        return nullptr;
    Ref page = Ref::newref(args[0]);
    void* data = is_struct(self->binding, page.get(), render_texture_struct)
                     ? reinterpret_cast<CDataHead*>(page.get())->c_data
                     : nullptr;
    if (data == nullptr || !self->objects.live.contains(reinterpret_cast<std::uintptr_t>(data)) ||
        cell_at(self, data)) {
        PyErr_Format(PyExc_TypeError, "%s: the page must be a live render texture of the window, not %R", function,
                     page.get());
        return nullptr;
    }
    const auto* page_data = static_cast<const rl::RenderTexture*>(data);
    const int page_width = page_data->texture.width, page_height = page_data->texture.height;
    if (width < 1 || height < 1 || x < 0 || y < 0 || x > page_width - width || y > page_height - height) {
        PyErr_Format(PyExc_ValueError, "%s: (%d, %d, %d, %d) is not a part of a %dx%d page", function, x, y, width,
                     height, page_width, page_height);
        return nullptr;
    }
    rl::RenderTexture cell = *page_data;
    cell.texture.width = width;
    cell.texture.height = height;
    Ref view = adopt_render_texture(self, cell);
    if (!view) return nullptr;
    void* slot = reinterpret_cast<CDataHead*>(view.get())->c_data;
    // The picture's rows run top-down, the texture's bottom-up.
    const Area area{x, page_height - y - height, width, height};
    if (!growing([&] {
            self->cells.emplace(reinterpret_cast<std::uintptr_t>(slot), Cell{std::move(page), page_data, area});
        })) {
        forget_live(self, slot, Death::unloaded);
        zero(Kind::render_texture, slot);
        return nullptr;
    }
    return view.release();
}

}  // namespace kelo_raylib::native
