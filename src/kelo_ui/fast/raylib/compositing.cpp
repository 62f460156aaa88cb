// What the window context does for the compositor (compositor.h): it
// resolves render targets to what they draw from, tells the compositor's
// scenes when a target they show changes, keeps a scene's own target for
// compose alone, composes a scene's picture from the steps of its plan, and
// presents parts of it on the window.
//
// A target changes when a scope on it begins or ends (everything drawn into
// it is drawn inside one), when raylib writes it at once (md.rl's texture
// updates) and when it is released. A compose made while a source's scope is
// open leaves it changed: more may be drawn into it before the scope ends
// (which a frame's start may do untold: the scene is damaged already). Who
// is told runs no Python code: a scene only notes its damage.
//
// The window's front buffer: a scene presented is put on the screen part by
// part (GLX_MESA_copy_sub_buffer copies a part of the back buffer, the rest
// of the screen staying as it is) while the screen is known to show that
// scene's picture as last presented; a frame of the window's own, another
// scene, or a new window size make it unknown, and the next present puts the
// whole picture on the screen.
#include <algorithm>
#include <cstring>
#include <utility>

#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/gl_driver.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {

void tell_slowly(ContextObject* self, std::uintptr_t key) {
    auto found = self->watched.find(key);
    if (found == self->watched.end()) return;
    for (const Watch& watch : found->second) watch.damaged(watch.watcher, key);
}

bool refuse_reserved(const char* function) {
    PyErr_Format(PyExc_RuntimeError,
                 "%s: this render texture is a scene's composed picture (scene.target), which its compose() draws; "
                 "add what you would draw to the scene as an item",
                 shown(function));
    return false;
}

namespace {

using compositor::Box;
using compositor::Source;
using compositor::Step;

ContextObject* the() { return context_of(the_context()); }

// Every target with a scope open is told: what is drawn into it until the
// scope ends has not been seen by whoever composed from it.
void tell_open(ContextObject* self) {
    if (self->watched.empty()) return;
    for (const TextureScope& scope : self->scopes.targets)
        if (scope.render_texture && !scope.continues) tell_slowly(self, address_of(scope.render_texture.get()));
}

// The RenderTexture cdata a KlRenderTexture holds, or null with TypeError.
PyObject* render_texture_of(ContextObject* self, PyObject* target, const char* function) {
    PyObject* held = reinterpret_cast<KlRenderTextureObject*>(target)->render_texture;
    if (held != nullptr && is_struct(self->binding, held, render_texture_struct)) return held;
    PyErr_Format(PyExc_TypeError, "%s: %R holds no raylib RenderTexture", function, target);
    return nullptr;
}

bool resolve(PyObject* target_object, Source* out, const char* function, PyObject* what) {
    ContextObject* self = the();
    if (!for_gpu_work(self, function)) return false;
    Ref target = Ref::newref(target_object);
    PyObject* render_texture = render_texture_of(self, target.get(), function);
    if (render_texture == nullptr) return false;
    const void* data = reinterpret_cast<CDataHead*>(render_texture)->c_data;
    rl::RenderTexture value;
    std::memcpy(&value, data, sizeof value);
    if (value.id == 0 || value.texture.id == 0) {
        const char* why = why_dead(self, reinterpret_cast<std::uintptr_t>(data));
        PyErr_Format(PyExc_RuntimeError, "%s: %R shows a dead source: %s", function, what,
                     why ? why : "it has no GPU object (id 0)");
        return false;
    }
    out->key = reinterpret_cast<std::uintptr_t>(data);
    if (const Cell* cell = cell_at(self, data)) {
        out->texture = cell->page_data->texture;
        out->x = cell->area.x, out->y = cell->area.y;
        out->width = cell->area.width, out->height = cell->area.height;
    } else {
        out->texture = value.texture;
        out->x = out->y = 0;
        out->width = value.texture.width, out->height = value.texture.height;
    }
    return true;
}

bool watch(std::uintptr_t key, compositor::Damaged damaged, void* watcher) {
    return growing([&] { the()->watched[key].push_back({damaged, watcher}); });
}

void unwatch(std::uintptr_t key, void* watcher) {
    ContextObject* self = the();
    auto found = self->watched.find(key);
    if (found == self->watched.end()) return;
    std::erase_if(found->second, [&](const Watch& watch) { return watch.watcher == watcher; });
    if (found->second.empty()) self->watched.erase(found);
}

bool reserve(std::uintptr_t key, bool keep) {
    ContextObject* self = the();
    if (!keep) {
        std::erase(self->reserved, key);
        return true;
    }
    return growing([&] { self->reserved.push_back(key); });
}

// What of `box` lies on a window of width x height.
Box on_window(const Box& box, int width, int height) {
    const int x0 = std::max(box.x, 0), y0 = std::max(box.y, 0);
    const int x1 = std::min(box.x + box.width, width), y1 = std::min(box.y + box.height, height);
    if (x1 <= x0 || y1 <= y0) return Box{};
    return Box{x0, y0, x1 - x0, y1 - y0};
}

// The box of the target's picture as a box of its storage (rows bottom-up).
void scissor(const Functions& raylib, const Box& box, int height) {
    raylib.rlScissor(box.x, height - box.y - box.height, std::max(box.width, 0), std::max(box.height, 0));
}

// The scene's own render texture, as its target holds it. A target given
// another (its render_texture set, its __init__ run again) is refused: what
// compose would draw there is not the scene's, nor is it where the scene is
// watched from (an atlas cell's page, a source the scene shows).
PyObject* own_render_texture(ContextObject* self, PyObject* target, std::uintptr_t key, const char* function) {
    PyObject* render_texture = render_texture_of(self, target, function);
    if (render_texture == nullptr) return nullptr;
    const void* data = reinterpret_cast<CDataHead*>(render_texture)->c_data;
    if (reinterpret_cast<std::uintptr_t>(data) != key) {
        PyErr_Format(PyExc_RuntimeError,
                     "%s: the scene's target no longer holds the render texture it was made with (its "
                     "render_texture was replaced); a scene draws into its own only",
                     function);
        return nullptr;
    }
    if (static_cast<const rl::RenderTexture*>(data)->id == 0) {
        dead(self, function, "the scene's target", render_texture);
        return nullptr;
    }
    return render_texture;
}

bool compose(PyObject* target_object, std::uintptr_t key, const Source* sources, const Step* steps, std::size_t count,
             const char* function) {
    ContextObject* self = the();
    Ref target = Ref::newref(target_object);
    if (!for_gpu_work(self, function)) return false;
    PyObject* render_texture = own_render_texture(self, target.get(), key, function);
    if (render_texture == nullptr) return false;
    const int height = reinterpret_cast<const rl::RenderTexture*>(reinterpret_cast<CDataHead*>(render_texture)->c_data)
                           ->texture.height;
    self->composing = true;
    begin_texture_mode(the_context(), render_texture);
    self->composing = false;
    if (PyErr_Occurred()) return false;
    const Functions& raylib = self->binding.raylib;
    Scopes& scopes = self->scopes;
    int blend = scopes.blend_mode();
    for (const Step* step = steps; step != steps + count; ++step) {
        switch (step->kind) {
            case Step::clip:
                raylib.rlDrawRenderBatchActive();
                if (step->box.width < 0) {
                    raylib.rlDisableScissorTest();
                } else {
                    raylib.rlEnableScissorTest();
                    scissor(raylib, step->box, height);
                }
                scopes.scissor = true;  // the scope's end puts the enclosing clip back
                break;
            case Step::clear:
                raylib.rlDrawRenderBatchActive();
                raylib.ClearBackground(step->color);
                break;
            case Step::draw: {
                if (step->blend != blend) {
                    blend = step->blend;
                    raylib.BeginBlendMode(blend);
                }
                const float* dest = step->dest;
                draw_picture_part(self->binding, sources[step->source], step->area,
                                  {dest[0], dest[1], dest[2], dest[3]}, step->color);
                break;
            }
        }
    }
    if (blend != scopes.blend_mode()) raylib.BeginBlendMode(scopes.blend_mode());
    end_texture_mode(the_context());
    // A source whose scope is still open may be drawn into after this: the
    // scenes showing it compose it again until the scope ends.
    tell_open(self);
    return !PyErr_Occurred();
}

bool can_present(const char* function) {
    ContextObject* self = the();
    if (!for_gpu_work(self, function)) return false;
    if (self->in_frame || self->scopes.current() != nullptr) {
        PyErr_Format(PyExc_RuntimeError, "%s: a scene is presented outside the window's frame and every target's scope",
                     function);
        return false;
    }
    return true;
}

// All of a render texture, the right way up.
rl::Rectangle flipped(const rl::RenderTexture& picture) {
    return {0.0f, 0.0f, static_cast<float>(picture.texture.width), -static_cast<float>(picture.texture.height)};
}

// The boxes of the scene on the window, copied to the screen (all of it when
// what the screen shows is not known).
void present_parts(ContextObject* self, const rl::RenderTexture& scene, std::uintptr_t key, const Box* boxes,
                   std::size_t count) {
    const Functions& raylib = self->binding.raylib;
    const int width = raylib.GetRenderWidth(), height = raylib.GetRenderHeight();
    const bool known = self->presented == key && self->presented_width == width && self->presented_height == height;
    const Box whole{0, 0, width, height};
    if (!known) boxes = &whole, count = 1;
    raylib.rlEnableScissorTest();
    // The window shows the scene at (0, 0): only what of a box lies on the
    // window is drawn and copied (X refuses a part beyond its window). Each
    // is the scene over black, as a whole frame shows it: what the buffer
    // held there (the picture an earlier present left) must not show
    // through where the scene is translucent.
    for (const Box* box = boxes; box != boxes + count; ++box) {
        const Box part = on_window(*box, width, height);
        if (part.empty()) continue;
        scissor(raylib, part, height);
        raylib.ClearBackground({0, 0, 0, 255});
        raylib.DrawTextureRec(scene.texture, flipped(scene), {0.0f, 0.0f}, white);
        raylib.rlDrawRenderBatchActive();
    }
    raylib.rlDisableScissorTest();
    for (const Box* box = boxes; box != boxes + count; ++box) {
        const Box part = on_window(*box, width, height);
        if (!part.empty()) copy_part(part.x, height - part.y - part.height, part.width, part.height);
    }
    raylib.PollInputEvents();
    self->presented = key;
    self->presented_width = width, self->presented_height = height;
}

bool present(PyObject* target_object, std::uintptr_t key, const Box* boxes, std::size_t count, const char* function) {
    ContextObject* self = the();
    Ref target = Ref::newref(target_object);
    if (!can_present(function)) return false;
    PyObject* render_texture = own_render_texture(self, target.get(), key, function);
    if (render_texture == nullptr) return false;
    const rl::RenderTexture scene =
        *reinterpret_cast<const rl::RenderTexture*>(reinterpret_cast<CDataHead*>(render_texture)->c_data);
    const Functions& raylib = self->binding.raylib;
    if (self->copies_parts < 0) self->copies_parts = can_copy_parts() ? 1 : 0;
    // What md.rl began on the window (a clip, a blend mode, matrices) is not
    // the scene's: set aside, and back after. The events are polled before
    // it is back: a new window size sets the window's matrices up again.
    if (!leave_state(self, self->scopes.window)) return false;
    const int blend = self->scopes.blend_mode();
    if (blend != 0) raylib.BeginBlendMode(0);
    raylib.rlDrawRenderBatchActive();
    raylib.rlDisableScissorTest();
    self->scopes.scissor = true;  // the window's own clip, put back
    if (self->copies_parts == 0) {
        // A frame of its own, as a render target is presented.
        raylib.BeginDrawing();
        raylib.ClearBackground({0, 0, 0, 255});
        raylib.DrawTextureRec(scene.texture, flipped(scene), {0.0f, 0.0f}, white);
        raylib.EndDrawing();
        forget_presented(self);
    } else {
        present_parts(self, scene, key, boxes, count);
    }
    if (blend != 0) raylib.BeginBlendMode(blend);
    resume_state(self, self->scopes.window, true);
    return true;
}

constinit compositor::Api api = {compositor::version, resolve, watch, unwatch, reserve, compose, can_present, present};

}  // namespace

bool publish_compositor(PyObject* module) {
    Ref capsule = Ref::steal(PyCapsule_New(&api, compositor::capsule_name, nullptr));
    return capsule && PyModule_AddObjectRef(module, "compositor", capsule.get()) == 0;
}

// (width, height, opaque RGBA8 bytes, top row first) of what the window shows.
PyObject* method_read_window(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "read_window";
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count(function, nargs, 0) || !for_gpu_work(self, function)) return nullptr;
    const Functions& raylib = self->binding.raylib;
    const int width = raylib.GetRenderWidth(), height = raylib.GetRenderHeight();
    Ref data = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(width) * height * 4));
    if (!data) return nullptr;
    raylib.rlDrawRenderBatchActive();
    finish_drawing();
    if (!read_front(self->title.c_str(), width, height,
                    reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(data.get())))) {
        PyErr_Format(PyExc_RuntimeError,
                     "%s: what the window shows cannot be read (a hidden window, or one without an X server)",
                     function);
        return nullptr;
    }
    return Py_BuildValue("(iiN)", width, height, data.release());
}

PyObject* method_copies_parts(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "copies_parts";
    ContextObject* self = context_of(object);
    if (!kl::check_positional_count(function, nargs, 0) || !for_gpu_work(self, function)) return nullptr;
    if (self->copies_parts < 0) self->copies_parts = can_copy_parts() ? 1 : 0;
    return PyBool_FromLong(self->copies_parts);
}

}  // namespace kelo_raylib::native
