// The compositor's records: a Scene keeps its items, a grid of where they
// lie, and the damage since its last compose(); an Item is one picture of a
// render target placed in the scene. The window context draws (compositor.h);
// this module decides what, where, and in which order.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "kelo_ui/fast/raylib/private/compositor.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kelo_compose {

using kelo_raylib::compositor::Box;
using kl::Ref;
namespace rl = kelo_raylib::native::rl;

// The intersection of two boxes (empty when they do not meet).
inline Box meet(const Box& a, const Box& b) {
    const int x0 = a.x > b.x ? a.x : b.x, y0 = a.y > b.y ? a.y : b.y;
    const int x1 = a.x + a.width < b.x + b.width ? a.x + a.width : b.x + b.width;
    const int y1 = a.y + a.height < b.y + b.height ? a.y + a.height : b.y + b.height;
    if (x1 <= x0 || y1 <= y0) return Box{x0, y0, 0, 0};
    return Box{x0, y0, x1 - x0, y1 - y0};
}
inline long long area_of(const Box& box) { return box.empty() ? 0 : static_cast<long long>(box.width) * box.height; }

struct SceneObject;

struct ItemObject {
    PyObject_HEAD
    SceneObject* scene;  // borrowed: the scene holds its items; null once removed or the scene is gone
    Ref source;          // the KlRenderTexture it shows
    std::uintptr_t key;  // what drawing into the source is told by
    Ref name;            // None or a str, for its repr and messages
    // Where: (x, y) at the picture's size, or (x, y, width, height).
    double x, y, width, height;
    bool sized;
    // The part of the source's picture shown (top-left origin); `whole`: all of it.
    double area[4];
    bool whole;
    int picture_width, picture_height;  // the source's picture, when added
    rl::Color tint;
    int blend;
    Box clip;  // empty width -1: none
    bool clipped;
    double z;
    std::uint64_t order;  // insertion order: ties of z
    bool visible;
    Box box;             // the pixels it may cover: its rectangle within its clip and the scene; empty: none
    bool exact;          // drawn at whole pixels, unscaled: any part of it is drawn as that part of the whole
    bool bounded;        // drawn whole under the scissor of its box: clipped, or too far out (below)
    std::uint64_t seen;  // the last grid query that met it
    std::size_t index;   // its place among the scene's items
};

struct SceneObject {
    PyObject_HEAD
    PyObject* weakrefs;
    Ref target;          // the KlRenderTexture holding the composed picture
    std::uintptr_t key;  // its key
    int width, height;
    rl::Color background;
    std::vector<Ref> items;  // each an ItemObject, in no order
    std::uint64_t next_order;
    // The grid: buckets of `cell` pixels square, each listing the items whose box meets it.
    int cell, columns, rows;
    std::vector<std::vector<ItemObject*>> buckets;
    std::uint64_t queries;
    std::vector<Box> damage;  // since the last compose()
    bool whole_damaged;       // everything: the first compose, invalidate(), or no memory to note a part
    // What compose() drew since the scene was last presented: the window has
    // yet to show it.
    std::vector<Box> unshown;
    bool whole_unshown;
    long long covered;  // the areas of every item's box, summed: what a full recomposition draws
    // The items showing each source's key: told by the window context.
    std::unordered_map<std::uintptr_t, std::vector<ItemObject*>> showing;
};

extern PyTypeObject scene_type;
extern PyTypeObject item_type;

inline SceneObject* scene_of(PyObject* object) { return reinterpret_cast<SceneObject*>(object); }
inline ItemObject* item_of(PyObject* object) { return reinterpret_cast<ItemObject*>(object); }

// ------------------------------------------------------------ state.cpp: what start-up found

struct State {
    const kelo_raylib::compositor::Api* api = nullptr;
    kl::Pinned<PyTypeObject> render_texture_type;  // KlRenderTexture
    kl::Pinned<PyTypeObject> vector2_type, rect_type;
    kl::Pinned<> white, blank;  // Color.White, Color.Blank
};
extern State state;

// ------------------------------------------------------------ grid.cpp

// The item's box, worked out again from what it is now (its rectangle, clip,
// visibility) and put where the grid finds it; the old and new boxes are
// damaged.
bool place(SceneObject* scene, ItemObject* item);
// Takes the item off the grid, its box damaged unless the scene is going.
void unplace(SceneObject* scene, ItemObject* item, bool damaged);
// The items whose boxes meet `box`, each once.
bool query(SceneObject* scene, const Box& box, std::vector<ItemObject*>& out);
// Whether (x, y) lies on the item's rectangle (its box, rounded out to whole
// pixels, may reach past it).
bool covers(const ItemObject* item, double x, double y);
bool make_grid(SceneObject* scene);

// ------------------------------------------------------------ damage.cpp

// Beyond this many boxes, damage (or what compose() drew since the last
// present) is kept as the whole scene: never too little, and bounded.
constexpr std::size_t most_boxes = 4096;

// A box of the scene that must be drawn again; false only when there is no
// memory, and then the whole scene is damaged instead.
void damage(SceneObject* scene, const Box& box);
// The damage merged: overlapping and nearby boxes made one.
std::vector<Box> merged(const std::vector<Box>& boxes);
// The window context's call when a source changes.
void source_changed(void* scene, std::uintptr_t key);

// ------------------------------------------------------------ composing.cpp

// Draws the damage (all of the scene when `full`) and returns it as a list
// of (x, y, width, height); the damage is forgotten once drawn.
PyObject* compose(SceneObject* scene, bool full, const char* function);

// ------------------------------------------------------------ item.cpp

// z, then insertion: the order items are drawn in.
inline bool below(const ItemObject* a, const ItemObject* b) {
    return a->z < b->z || (a->z == b->z && a->order < b->order);
}
// A new item of `scene`: its arguments converted and checked, its source
// resolved and watched, placed in the grid.
PyObject* new_item(SceneObject* scene, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// Whether `scene` may show the source of `key`: not its own target, nor a
// scene's that shows it, however deep; false with ValueError set.
bool shows_no_cycle(const SceneObject* scene, std::uintptr_t key, const char* function);
// Detaches the item from its scene (remove(), or the scene going).
void detach(ItemObject* item, bool damaged);
// Whether an item is drawn at whole pixels, unscaled.
bool exact(const ItemObject* item);

}  // namespace kelo_compose
