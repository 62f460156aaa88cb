// What the window context offers the compositor (kelo_ui.fast.compose):
// render targets resolved to what they draw from, damage told as targets are
// drawn into, a scene's picture composed from a plan of steps, and parts of
// it presented on the window. kelo_raylib publishes one Api as the capsule
// `compositor` (named `capsule_name`); the compositor imports it at start-up.
// Every function but unwatch leaves an exception set when it fails, and none
// runs Python code.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "kelo_ui/fast/raylib/private/raylib_declarations.h"

namespace kelo_raylib::compositor {

namespace rl = native::rl;

inline constexpr char capsule_name[] = "kelo_ui.fast.raylib.kelo_raylib.compositor";
inline constexpr unsigned version = 2;

// A rectangle of whole pixels, top-left origin.
struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

// What a render target draws from: a texture, where its picture lies in the
// texture's storage (rows bottom-up; a cell's area of its page), the
// picture's whole pixels, and the key by which drawing into it is told.
struct Source {
    rl::Texture texture{};
    int x = 0, y = 0, width = 0, height = 0;
    std::uintptr_t key = 0;
};

// A step of composing into the scene's target.
struct Step {
    enum Kind : unsigned char { clip, clear, draw };
    Kind kind = draw;
    unsigned char blend = 0;   // draw: raylib's blend mode
    std::uint32_t source = 0;  // draw: its index among the sources
    Box box;                   // clip: the box in the target's picture; empty: no clip
    float area[4] = {};        // draw: the part of the source's picture (top-left origin, as blitted)
    float dest[4] = {};        // draw: where, in the target's picture
    rl::Color color{};         // clear: the colour; draw: the tint
};

// Told that the target of `key` was drawn into, cleared, updated or released.
using Damaged = void (*)(void* watcher, std::uintptr_t key);

struct Api {
    unsigned version;
    // What a KlRenderTexture draws from. A dead one raises RuntimeError
    // "<function>: <what> shows a dead source: <why>"; no window, another
    // thread, or a target holding no RenderTexture raise too.
    bool (*resolve)(PyObject* target, Source* out, const char* function, PyObject* what);
    // `damaged(watcher, key)` runs each time the target of `key` changes,
    // until unwatched; false with MemoryError set.
    bool (*watch)(std::uintptr_t key, Damaged damaged, void* watcher);
    void (*unwatch)(std::uintptr_t key, void* watcher);
    // A scene's own target, which only compose draws into (reserved), or no
    // longer (released).
    bool (*reserve)(std::uintptr_t key, bool reserved);
    // The steps, in their order, in a scope of their own on `target` (a
    // KlRenderTexture), drawing from `sources`. `key` is the render texture
    // the scene reserved: a target holding another (its render_texture
    // replaced) or a dead one is refused.
    bool (*compose)(PyObject* target, std::uintptr_t key, const Source* sources, const Step* steps, std::size_t count,
                    const char* function);
    // Whether a scene may be presented now: a window on this thread, outside
    // its frame and every target's scope. Asked before the scene composes, so
    // that a present refused leaves the damage to the next.
    bool (*can_present)(const char* function);
    // `target`'s picture on the window at (0, 0): only the boxes where the
    // window keeps what was last presented of it and can copy a part of its
    // buffer; all of it otherwise. Refused as compose is.
    bool (*present)(PyObject* target, std::uintptr_t key, const Box* boxes, std::size_t count, const char* function);
};

}  // namespace kelo_raylib::compositor
