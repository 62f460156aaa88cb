// Who owns a GPU object: every texture and render texture made through the
// window context belongs to the open window (gpu_objects.h says how its
// struct is kept). It dies when it is unloaded, once nothing refers to its
// view, or when the window closes; dying zeroes its GPU ids in place.
//
// raylib binds the window's framebuffer while it makes or releases a render
// texture: every change here draws raylib's pending batch first (draws still
// pending may read from what is released) and binds the current target again
// afterwards, so a change inside a scope leaves the scope's target current.
#include <algorithm>
#include <climits>
#include <cstring>
#include <type_traits>
#include <utility>

#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/conversions.h"
#include "kelo_ui/fast/raylib/private/gl_driver.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {

const char* death_reason(Death death) {
    switch (death) {
        case Death::unloaded:
            return "it was unloaded";
        case Death::window_closed:
            return "the window it was made under has closed";
        case Death::unreachable:
            return "it was released once nothing referred to it";
        case Death::forked:
            return "it belongs to the window of the process this one was forked from";
        default:
            return nullptr;
    }
}

void zero(Kind kind, void* data) {
    if (kind == Kind::render_texture) {
        auto* render_texture = static_cast<rl::RenderTexture*>(data);
        render_texture->id = 0;
        render_texture->texture.id = 0;
        render_texture->depth.id = 0;
    } else {
        static_cast<rl::Texture*>(data)->id = 0;
    }
}

// Takes a live object out of the table, saying why it died.
void forget_live(ContextObject* self, void* data, Death why) {
    LiveObject gone{};
    if (auto found = self->objects.live.find(reinterpret_cast<std::uintptr_t>(data));
        found != self->objects.live.end()) {
        *found->second.death = why;
        gone = std::move(found->second);
        self->objects.live.erase(found);
    }
}

namespace {

// `work()`, a raylib call that makes or releases a GPU object, with the batch
// drawn first and the current framebuffer bound again afterwards.
template <typename Work>
auto changing(ContextObject* self, Work work) {
    const Functions& raylib = self->binding.raylib;
    raylib.rlDrawRenderBatchActive();
    const unsigned int active = raylib.rlGetActiveFramebuffer();
    if constexpr (std::is_void_v<decltype(work())>) {
        work();
        if (raylib.rlGetActiveFramebuffer() != active) raylib.rlEnableFramebuffer(active);
    } else {
        auto result = work();
        if (raylib.rlGetActiveFramebuffer() != active) raylib.rlEnableFramebuffer(active);
        return result;
    }
}

// Release one object's GPU side, live or not the toolkit's. Its ids are
// zeroed before raylib is called, so an interruption leaks the GPU object
// rather than leave ids that a later object may be given.
bool release(ContextObject* self, Kind kind, void* data, Death why, const char* function) {
    if (!ready(self, function)) return false;
    tell(self, reinterpret_cast<std::uintptr_t>(data));
    const Functions& raylib = self->binding.raylib;
    raylib.rlDrawRenderBatchActive();  // draws still pending may read from it
    if (kind == Kind::render_texture) {
        if (cell_at(self, data)) return release_cell(self, data, why, function);
        auto* render_texture = static_cast<rl::RenderTexture*>(data);
        if ((!self->cells.empty() && !release_cells_of(self, render_texture, why, function)) ||
            !forget_target(self, render_texture->id, nullptr, function))
            return false;
        std::erase(self->pages, render_texture);
    }
    forget_live(self, data, why);
    if (kind == Kind::render_texture) {
        const rl::RenderTexture held = *static_cast<rl::RenderTexture*>(data);
        zero(kind, data);
        const unsigned int active = raylib.rlGetActiveFramebuffer();
        raylib.UnloadRenderTexture(held);
        raylib.rlEnableFramebuffer(active == held.id ? 0 : active);
    } else {
        const rl::Texture held = *static_cast<rl::Texture*>(data);
        zero(kind, data);
        raylib.UnloadTexture(held);
    }
    return true;
}

// The weak reference's callback, `self` being the view's address: from any
// thread, at any moment the last reference to the view goes, so only noted.
PyObject* note_unreachable(PyObject* address, PyObject*) {
    ContextObject* self = context_of(the_context());
    const auto at = reinterpret_cast<std::uintptr_t>(PyLong_AsVoidPtr(address));
    if (self->objects.live.contains(at)) {
        if (!growing([&] { self->objects.pending.push_back(at); })) return nullptr;
        self->pending = true;
    }
    Py_RETURN_NONE;
}

PyMethodDef note_unreachable_def = {"note_unreachable", note_unreachable, METH_O, nullptr};

// A view of the slot at `data`, made by the binding itself.
Ref make_view(ContextObject* self, Kind kind, void* data) {
    const Binding& binding = self->binding;
    PyObject* pointer_type =
        (kind == Kind::render_texture ? binding.render_texture_pointer : binding.texture_pointer).get();
    Ref address = Ref::steal(PyLong_FromVoidPtr(data));
    Ref pointer =
        address ? Ref::steal(PyObject_CallFunctionObjArgs(binding.cast.get(), pointer_type, address.get(), nullptr))
                : Ref();
    Ref first = pointer ? Ref::steal(PyLong_FromLong(0)) : Ref();
    return first ? Ref::steal(PyObject_GetItem(pointer.get(), first.get())) : Ref();
}

// The view of a new slot holding `value`, tracked as alive; null with an
// exception set when it cannot be made, the slot then dead and the GPU object
// the caller's to release.
template <typename Struct>
Ref adopt(ContextObject* self, Kind kind, StructMemory<Struct>& memory, const Struct& value) {
    typename StructMemory<Struct>::Slot slot;
    if (!growing([&] { slot = memory.take(value); })) return Ref();
    *slot.death = Death::unloaded;  // until it is tracked
    const auto address = reinterpret_cast<std::uintptr_t>(slot.data);
    Ref view = make_view(self, kind, slot.data);
    Ref key = view ? Ref::steal(PyLong_FromVoidPtr(slot.data)) : Ref();
    Ref callback = key ? Ref::steal(PyCFunction_New(&note_unreachable_def, key.get())) : Ref();
    Ref weakref = callback ? Ref::steal(PyWeakref_NewRef(view.get(), callback.get())) : Ref();
    if (!weakref || !growing([&] {
            self->objects.live.emplace(address, LiveObject{kind, slot.data, slot.death, std::move(weakref)});
        })) {
        zero(kind, slot.data);
        return Ref();
    }
    *slot.death = Death::alive;
    return view;
}

template <typename Struct>
PyObject* adopted(ContextObject* self, Kind kind, StructMemory<Struct>& memory, const Struct& made,
                  void (*unload)(Struct)) {
    Ref view = adopt(self, kind, memory, made);
    if (!view) {
        Ref failure = Ref::steal(PyErr_GetRaisedException());
        changing(self, [&] { unload(made); });
        PyErr_SetRaisedException(failure.release());
    }
    return view.release();
}

// A size argument as the loaders take it (an int, or anything with
// __index__); beyond a C int it is out of any driver's range.
bool size_argument(PyObject* object, long long& out) {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return false;
    int overflow = 0;
    out = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (overflow != 0) out = overflow > 0 ? LLONG_MAX : LLONG_MIN;
    return !(out == -1 && PyErr_Occurred());
}

// An argument that the binding must have made: a cdata of exactly one of its
// structs, or anything, before the context was ever bound.
bool from_binding(ContextObject* self, StructIndex index, PyObject* object, void* out, const char* function,
                  const char* parameter, const char* expected) {
    if (!self->bound) return refuse(self, function);
    return from_cdata(self->binding, index, object, out, {function, parameter}, expected);
}

PyObject* unload(ContextObject* self, PyObject* object, Kind kind, const char* function) {
    const bool render_texture = kind == Kind::render_texture;
    Ref held = Ref::newref(object);
    if (!self->bound) return refuse(self, function), nullptr;
    if (!is_struct(self->binding, object, render_texture ? render_texture_struct : texture_struct)) {
        PyErr_Format(PyExc_TypeError, "%s: expected a raylib %s, not %.200s", function,
                     render_texture ? "RenderTexture" : "Texture", Py_TYPE(object)->tp_name);
        return nullptr;
    }
    void* data = reinterpret_cast<CDataHead*>(object)->c_data;
    // The ids are read from the struct's memory, which runs no code.
    auto id = [&] { return *static_cast<unsigned int*>(data); };
    if (id() == 0) Py_RETURN_NONE;  // dead: its GPU object is gone, whoever's window is open now
    if (!render_texture && self->objects.render_textures.find(address_of(object))) {
        PyErr_Format(PyExc_ValueError, "%s: this texture belongs to a render texture; unload the render texture",
                     function);
        return nullptr;
    }
    if (!for_gpu_work(self, function)) return nullptr;
    if (id() == 0) Py_RETURN_NONE;  // a pending release took it
    if (!release(self, kind, data, Death::unloaded, function)) return nullptr;
    Py_RETURN_NONE;
}

}  // namespace

Ref adopt_render_texture(ContextObject* self, const rl::RenderTexture& value) {
    return adopt(self, Kind::render_texture, self->objects.render_textures, value);
}

// ------------------------------------------------------------ the table

bool for_gpu_work(ContextObject* self, const char* function) { return enter(self, function) && ready(self, function); }

bool run_pending_releases(ContextObject* self) {
    GpuObjects& objects = self->objects;
    while (!objects.pending.empty()) {
        const std::uintptr_t address = objects.pending.front();
        if (auto found = objects.live.find(address); found != objects.live.end()) {
            // One whose release fails stays pending.
            if (!release(self, found->second.kind, found->second.data, Death::unreachable, "release")) return false;
        }
        objects.pending.pop_front();
    }
    return true;
}

void release_all(ContextObject* self, Death why) {
    self->objects.pending.clear();
    // Dropped once the tables are consistent: dropping a weak reference or a
    // page's view runs no Python code, but keep it so.
    auto cells = std::move(self->cells);
    self->cells.clear();
    self->pages.clear();
    auto live = std::move(self->objects.live);
    self->objects.live.clear();
    for (auto& [address, object] : live) {
        zero(object.kind, object.data);
        *object.death = why;
    }
}

const char* why_dead(const ContextObject* self, std::uintptr_t address) {
    const GpuObjects& objects = self->objects;
    if (auto slot = objects.render_textures.find(address)) return death_reason(*slot.death);
    if (auto slot = objects.textures.find(address)) return death_reason(*slot.death);
    return nullptr;
}

// ------------------------------------------------------------ Python methods

namespace {

// A new render texture of width x height, its GPU objects made and complete;
// false with an exception set (and nothing left allocated) otherwise.
bool make_render_texture(ContextObject* self, long long width, long long height, const char* function,
                         rl::RenderTexture& made) {
    if (width < 1 || height < 1) {
        PyErr_Format(PyExc_ValueError, "%s: a render texture is at least 1x1, not %lldx%lld", function, width, height);
        return false;
    }
    const int largest = self->largest_size;
    if ((largest > 0 && std::max(width, height) > largest) || std::max(width, height) > INT_MAX) {
        PyErr_Format(PyExc_RuntimeError, "%s: %lldx%lld is beyond the driver's largest texture (%dx%d)", function,
                     width, height, largest, largest);
        return false;
    }
    const Functions& raylib = self->binding.raylib;
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    made = changing(self, [&] {
        const rl::RenderTexture loaded = raylib.LoadRenderTexture(w, h);
        // A texel exactly on a blit's edge is the edge's own, not the other
        // side's (raylib's textures repeat).
        if (loaded.texture.id != 0) raylib.SetTextureWrap(loaded.texture, wrap_clamp);
        return loaded;
    });
    if (made.id == 0 || made.texture.id == 0 ||
        !changing(self, [&] { return raylib.rlFramebufferComplete(made.id); })) {
        changing(self, [&] { raylib.UnloadRenderTexture(made); });
        PyErr_Format(PyExc_RuntimeError, "%s: the driver cannot complete a %dx%d framebuffer", function, w, h);
        return false;
    }
    return true;
}

// A new texture's pixels are whatever the driver had: cleared to (0, 0, 0,
// 0) here, with no scope begun (the scissor of the current one aside).
void clear_new(ContextObject* self, const rl::RenderTexture& made) {
    const Functions& raylib = self->binding.raylib;
    changing(self, [&] {
        raylib.rlEnableFramebuffer(made.id);
        if (self->scopes.scissor) raylib.rlDisableScissorTest();
        raylib.ClearBackground(blank);
        if (self->scopes.scissor) raylib.rlEnableScissorTest();
    });
}

}  // namespace

PyObject* method_load_render_texture(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "load_render_texture";
    ContextObject* self = context_of(object);
    long long width = 0, height = 0;
    rl::RenderTexture made;
    // The conversions may run code: before any check.
    if (!kl::check_positional_count(function, nargs, 2) || !size_argument(args[0], width) ||
        !size_argument(args[1], height) || !for_gpu_work(self, shown(function)) ||
        !make_render_texture(self, width, height, shown(function), made))
        return nullptr;
    return adopted(self, Kind::render_texture, self->objects.render_textures, made,
                   self->binding.raylib.UnloadRenderTexture);
}

PyObject* method_make_page(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "Atlas.allocate";
    ContextObject* self = context_of(object);
    long long width = 0, height = 0;
    rl::RenderTexture made;
    if (!kl::check_positional_count("make_page", nargs, 2) || !size_argument(args[0], width) ||
        !size_argument(args[1], height) || !for_gpu_work(self, function) ||
        !make_render_texture(self, width, height, function, made))
        return nullptr;
    clear_new(self, made);
    if (!growing([&] { self->pages.reserve(self->pages.size() + 1); })) {
        changing(self, [&] { self->binding.raylib.UnloadRenderTexture(made); });
        return nullptr;
    }
    Ref page = adopt_render_texture(self, made);
    if (!page) {
        Ref failure = Ref::steal(PyErr_GetRaisedException());
        changing(self, [&] { self->binding.raylib.UnloadRenderTexture(made); });
        PyErr_SetRaisedException(failure.release());
        return nullptr;
    }
    self->pages.push_back(reinterpret_cast<const rl::RenderTexture*>(reinterpret_cast<CDataHead*>(page.get())->c_data));
    return page.release();
}

namespace {

// A texture made by `load()`; RuntimeError when raylib made none.
template <typename Load>
PyObject* load_texture(ContextObject* self, const char* function, Load load) {
    const rl::Texture made = changing(self, load);
    if (made.id == 0) {
        PyErr_Format(PyExc_RuntimeError, "%s: raylib made no texture (its messages above say why)", function);
        return nullptr;
    }
    return adopted(self, Kind::texture, self->objects.textures, made, self->binding.raylib.UnloadTexture);
}

}  // namespace

PyObject* method_load_texture(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "load_texture";
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count(function, nargs, 1)) return nullptr;
    Ref file_name = Ref::newref(args[0]);
    if (!PyBytes_Check(file_name.get())) {
        PyErr_Format(PyExc_TypeError, "%s: the file name must be bytes, not %.200s", function,
                     Py_TYPE(file_name.get())->tp_name);
        return nullptr;
    }
    const char* name = PyBytes_AS_STRING(file_name.get());
    if (std::strlen(name) != static_cast<std::size_t>(PyBytes_GET_SIZE(file_name.get()))) {
        PyErr_Format(PyExc_ValueError, "%s: embedded null byte", function);
        return nullptr;
    }
    if (!for_gpu_work(self, function)) return nullptr;
    return load_texture(self, function, [&] { return self->binding.raylib.LoadTexture(name); });
}

PyObject* method_load_texture_from_image(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "load_texture_from_image";
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count(function, nargs, 1)) return nullptr;
    Ref image_object = Ref::newref(args[0]);  // owns the pixels the struct points to
    rl::Image image;
    if (!from_binding(self, image_struct, image_object.get(), &image, function, "image", "a raylib Image") ||
        !for_gpu_work(self, function))
        return nullptr;
    return load_texture(self, function, [&] { return self->binding.raylib.LoadTextureFromImage(image); });
}

PyObject* method_load_texture_cubemap(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "load_texture_cubemap";
    ContextObject* self = context_of(object);
    int layout = 0;
    if (!kl::check_positional_count(function, nargs, 2) || !kl::int_argument(args[1], layout)) return nullptr;
    Ref image_object = Ref::newref(args[0]);
    rl::Image image;
    if (!from_binding(self, image_struct, image_object.get(), &image, function, "image", "a raylib Image") ||
        !for_gpu_work(self, function))
        return nullptr;
    return load_texture(self, function, [&] { return self->binding.raylib.LoadTextureCubemap(image, layout); });
}

PyObject* method_unload_render_texture(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("unload_render_texture", nargs, 1)) return nullptr;
    return unload(context_of(self), args[0], Kind::render_texture, "unload_render_texture");
}

PyObject* method_unload_texture(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("unload_texture", nargs, 1)) return nullptr;
    return unload(context_of(self), args[0], Kind::texture, "unload_texture");
}

PyObject* method_why_dead(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("why_dead", nargs, 1)) return nullptr;
    ContextObject* self = context_of(object);
    const char* why = self->bound && is_cdata(self->binding, args[0]) ? why_dead(self, address_of(args[0])) : nullptr;
    if (why == nullptr) Py_RETURN_NONE;
    return PyUnicode_FromString(why);
}

PyObject* method_run_pending_releases(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "run_pending_releases";
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count(function, nargs, 0)) return nullptr;
    if (!enter_slowly(self, function)) return nullptr;  // refuses other threads
    Py_RETURN_NONE;
}

}  // namespace kelo_raylib::native
