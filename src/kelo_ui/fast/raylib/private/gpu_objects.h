// The window's GPU objects: the structs of every texture and render texture
// the toolkit makes, which of them are alive, and why each dead one died.
//
// The binding's view of a struct field (`render_texture.texture`) points into
// the struct's memory and keeps no reference to it, so a view kept past its
// struct would read freed memory. Every struct the toolkit makes is therefore
// copied into a slot of a slab that is never freed, and what it hands out is
// a view of that slot. When the object dies its GPU ids are zeroed in place,
// so every view of it, however old, reads id 0, which the drawing refuses;
// its slot is never given to another object, so a stale view never sees a
// newer object's ids. What an object leaves behind is its struct and the
// byte that says why it died.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "kelo_ui/fast/raylib/private/raylib_declarations.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kelo_raylib::native {

using kl::Ref;

// Why an object is dead, by the byte kept for it; also why the context is
// inactive (never_opened, window_closed, forked).
enum class Death : unsigned char { alive, unloaded, window_closed, unreachable, forked, never_opened };

// The words for it: "it was unloaded", ... (never_opened: none of its own).
const char* death_reason(Death death);

// The slabs of one struct type. Finding the slot of an address costs
// O(log slabs); nothing else depends on how many objects were ever made.
template <typename Struct>
class StructMemory {
public:
    static constexpr std::size_t slab_slots = 1024;

    struct Slot {
        Struct* data = nullptr;
        Death* death = nullptr;
        explicit operator bool() const { return data != nullptr; }
    };

    // A new slot holding a copy of `value`; throws std::bad_alloc.
    Slot take(const Struct& value) {
        if (slabs_.empty() || slabs_.back().used == slab_slots) {
            // Not zeroed: a slab's pages are touched only as its slots are used.
            Slab slab{std::make_unique_for_overwrite<Struct[]>(slab_slots),
                      std::make_unique_for_overwrite<Death[]>(slab_slots), 0};
            const auto start = reinterpret_cast<std::uintptr_t>(slab.structs.get());
            slabs_.push_back(std::move(slab));
            try {
                by_start_.emplace(start, slabs_.size() - 1);
            } catch (...) {
                slabs_.pop_back();
                throw;
            }
        }
        Slab& slab = slabs_.back();
        const std::size_t index = slab.used++;
        slab.structs[index] = value;
        slab.deaths[index] = Death::alive;
        return {&slab.structs[index], &slab.deaths[index]};
    }

    // The slot that `address` (a struct's own, or one of its fields') lies in.
    Slot find(std::uintptr_t address) const {
        auto after = by_start_.upper_bound(address);
        if (after == by_start_.begin()) return {};
        const Slab& slab = slabs_[std::prev(after)->second];
        const std::uintptr_t offset = address - reinterpret_cast<std::uintptr_t>(slab.structs.get());
        const std::size_t index = offset / sizeof(Struct);
        if (index >= slab.used) return {};
        return {&slab.structs[index], &slab.deaths[index]};
    }

private:
    struct Slab {
        std::unique_ptr<Struct[]> structs;
        std::unique_ptr<Death[]> deaths;
        std::size_t used;
    };
    std::vector<Slab> slabs_;  // moved on growth, but what they own never moves
    std::map<std::uintptr_t, std::size_t> by_start_;
};

enum class Kind : unsigned char { texture, render_texture };

// A live object: its slot and the weak reference to the view handed out,
// whose callback notes it for release once nothing refers to the view.
struct LiveObject {
    Kind kind;
    void* data;
    Death* death;
    Ref weakref;
};

struct GpuObjects {
    StructMemory<rl::RenderTexture> render_textures;
    StructMemory<rl::Texture> textures;
    std::unordered_map<std::uintptr_t, LiveObject> live;  // by the struct's address
    std::deque<std::uintptr_t> pending;                   // unreachable, released on the window's thread
};

}  // namespace kelo_raylib::native
