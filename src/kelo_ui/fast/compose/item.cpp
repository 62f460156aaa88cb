// An Item: one picture of a render target placed in a scene. Every change of
// it damages what it covered before and what it covers after; it holds its
// source strongly, and is drawn as blit_region of its `area` at its
// position would draw it (the whole picture when `area` is None).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "kelo_ui/fast/compose/private/scene.h"
#include "kelo_ui/fast/compose/private/values.h"
#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_compose {
namespace {

constexpr rl::Color white_tint{255, 255, 255, 255};

// Changes of an item need its scene. Asked again once a new value is
// converted (before anything of the item changes): converting may run Python
// code (__index__, __float__, __iter__) that removed the item or let its
// scene go.
bool attached(const ItemObject* item, const char* function) {
    if (item->scene != nullptr) return true;
    PyErr_Format(PyExc_RuntimeError, "%s: the item is no longer in a scene (it was removed, or its scene is gone)",
                 function);
    return false;
}

// A setter's value, before it is converted: the item in a scene, and a value
// given (a setting without a default cannot be deleted).
bool settable(const ItemObject* item, PyObject* value, const char* function) {
    if (!attached(item, function)) return false;
    if (value != nullptr) return true;
    PyErr_Format(PyExc_TypeError, "%s cannot be deleted", function);
    return false;
}

// A change: the item's box worked out again, the old and new boxes damaged.
int replaced(ItemObject* item) { return place(item->scene, item) ? 0 : -1; }

// Where an item is: (x, y) at its picture's size, or (x, y, width, height).
struct Where {
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
    bool sized = false;
};

bool position(PyObject* pos, Where& out, const char* function) {
    double values[4];
    int count = 0;
    if (!numbers(pos, values, 6, count, {function, "pos"})) return false;
    if (count == 4 && (values[2] < 0.0 || values[3] < 0.0)) {
        PyErr_Format(PyExc_ValueError, "%s: pos has a negative width or height", function);
        return false;
    }
    out = {values[0], values[1], count == 4 ? values[2] : 0.0, count == 4 ? values[3] : 0.0, count == 4};
    return true;
}

void put(ItemObject* item, const Where& where) {
    item->x = where.x, item->y = where.y;
    item->sized = where.sized;
    if (where.sized) item->width = where.width, item->height = where.height;
}

// `area` of the item's source picture: None (all of it) or a part on it, at
// least 1x1, as blit_region takes it.
bool area_value(PyObject* object, const ItemObject* item, double (&out)[4], bool& whole, const char* function) {
    whole = object == Py_None;
    if (whole) return true;
    int count = 0;
    if (!numbers(object, out, 4, count, {function, "area"})) return false;
    if (!(out[2] >= 1.0 && out[3] >= 1.0)) {
        PyErr_Format(PyExc_ValueError, "%s: area %R is less than 1x1", function, object);
        return false;
    }
    if (out[0] < 0.0 || out[1] < 0.0 || out[0] + out[2] > item->picture_width ||
        out[1] + out[3] > item->picture_height) {
        PyErr_Format(PyExc_ValueError, "%s: area %R reaches outside the source's picture, which is %dx%d", function,
                     object, item->picture_width, item->picture_height);
        return false;
    }
    return true;
}

bool is_whole(double value) { return std::floor(value) == value; }

}  // namespace

bool exact(const ItemObject* item) {
    const double width = item->whole ? item->picture_width : item->area[2];
    const double height = item->whole ? item->picture_height : item->area[3];
    return is_whole(item->x) && is_whole(item->y) &&
           (!item->sized || (item->width == width && item->height == height)) &&
           (item->whole ||
            (is_whole(item->area[0]) && is_whole(item->area[1]) && is_whole(item->area[2]) && is_whole(item->area[3])));
}

void detach(ItemObject* item, bool damaged) {
    SceneObject* scene = item->scene;
    if (scene == nullptr) return;
    unplace(scene, item, damaged);
    auto found = scene->showing.find(item->key);
    if (found != scene->showing.end()) {
        std::erase(found->second, item);
        if (found->second.empty()) {
            scene->showing.erase(found);
            state.api->unwatch(item->key, scene);
        }
    }
    item->scene = nullptr;
}

namespace {

// ------------------------------------------------------------ Python methods

PyObject* item_move(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "Item.move";
    ItemObject* item = item_of(object);
    Where where;
    if (!kl::check_positional_count(function, nargs, 1) || !attached(item, function) ||
        !position(args[0], where, function) || !attached(item, function))
        return nullptr;
    put(item, where);
    if (replaced(item) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject* item_remove(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    ItemObject* item = item_of(object);
    if (!kl::check_positional_count("Item.remove", nargs, 0)) return nullptr;
    SceneObject* scene = item->scene;
    if (scene == nullptr) Py_RETURN_NONE;  // removed already
    detach(item, true);
    // Out of the scene's list last: the scene's reference may be the item's last.
    const std::size_t at = item->index;
    Ref gone = std::move(scene->items[at]);
    if (at + 1 != scene->items.size()) {
        scene->items[at] = std::move(scene->items.back());
        item_of(scene->items[at].get())->index = at;
    }
    scene->items.pop_back();
    Py_RETURN_NONE;
}

PyObject* get_source(PyObject* object, void*) { return Py_NewRef(item_of(object)->source.get()); }

PyObject* get_pos(PyObject* object, void*) {
    const ItemObject* item = item_of(object);
    const double values[4] = {item->x, item->y, item->width, item->height};
    return float_tuple(values, item->sized ? 4 : 2);
}

PyObject* get_area(PyObject* object, void*) {
    const ItemObject* item = item_of(object);
    if (item->whole) Py_RETURN_NONE;
    return float_tuple(item->area, 4);
}

int set_area(PyObject* object, PyObject* value, void*) {
    constexpr const char* function = "Item.area";
    ItemObject* item = item_of(object);
    if (value == nullptr) value = Py_None;
    double area[4];
    bool whole = false;
    if (!attached(item, function) || !area_value(value, item, area, whole, function) || !attached(item, function))
        return -1;
    std::memcpy(item->area, area, sizeof area);
    item->whole = whole;
    return replaced(item);
}

PyObject* get_tint(PyObject* object, void*) {
    const rl::Color& tint = item_of(object)->tint;
    return Py_BuildValue("(iiii)", tint.r, tint.g, tint.b, tint.a);
}

int set_tint(PyObject* object, PyObject* value, void*) {
    constexpr const char* function = "Item.tint";
    ItemObject* item = item_of(object);
    rl::Color tint;
    if (!attached(item, function) || !color_value(value ? value : Py_None, tint, white_tint, {function, "tint"}) ||
        !attached(item, function))
        return -1;
    item->tint = tint;
    return replaced(item);
}

PyObject* get_blend_mode(PyObject* object, void*) { return PyLong_FromLong(item_of(object)->blend); }

int set_blend_mode(PyObject* object, PyObject* value, void*) {
    constexpr const char* function = "Item.blend_mode";
    ItemObject* item = item_of(object);
    int blend = 0;
    if (!settable(item, value, function)) return -1;
    if (!blend_value(value, blend, {function, "blend_mode"}) || !attached(item, function)) return -1;
    item->blend = blend;
    return replaced(item);
}

PyObject* get_clip(PyObject* object, void*) {
    const ItemObject* item = item_of(object);
    if (!item->clipped) Py_RETURN_NONE;
    return Py_BuildValue("(iiii)", item->clip.x, item->clip.y, item->clip.width, item->clip.height);
}

int set_clip(PyObject* object, PyObject* value, void*) {
    constexpr const char* function = "Item.clip";
    ItemObject* item = item_of(object);
    Box clip{};
    if (!attached(item, function) ||
        (value != nullptr && value != Py_None && !box_value(value, clip, {function, "clip"})) ||
        !attached(item, function))
        return -1;
    item->clipped = value != nullptr && value != Py_None;
    item->clip = clip;
    return replaced(item);
}

PyObject* get_z(PyObject* object, void*) { return PyFloat_FromDouble(item_of(object)->z); }

int set_z(PyObject* object, PyObject* value, void*) {
    constexpr const char* function = "Item.z";
    ItemObject* item = item_of(object);
    double z = 0.0;
    if (!settable(item, value, function)) return -1;
    if (!finite_value(value, z, {function, "z"}) || !attached(item, function)) return -1;
    item->z = z;
    return replaced(item);
}

PyObject* get_visible(PyObject* object, void*) { return PyBool_FromLong(item_of(object)->visible); }

int set_visible(PyObject* object, PyObject* value, void*) {
    constexpr const char* function = "Item.visible";
    ItemObject* item = item_of(object);
    if (!settable(item, value, function)) return -1;
    const int visible = PyObject_IsTrue(value);
    if (visible < 0 || !attached(item, function)) return -1;
    item->visible = visible != 0;
    return replaced(item);
}

PyObject* get_name(PyObject* object, void*) { return Py_NewRef(item_of(object)->name.get()); }

int set_name(PyObject* object, PyObject* value, void*) {
    if (value == nullptr) value = Py_None;
    if (value != Py_None && !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "Item.name: name must be a str or None, not %.200s", Py_TYPE(value)->tp_name);
        return -1;
    }
    item_of(object)->name = Ref::newref(value);
    return 0;
}

PyObject* get_scene(PyObject* object, void*) {
    SceneObject* scene = item_of(object)->scene;
    return Py_NewRef(scene ? reinterpret_cast<PyObject*>(scene) : Py_None);
}

PyObject* get_box(PyObject* object, void*) {
    const ItemObject* item = item_of(object);
    if (item->box.empty()) Py_RETURN_NONE;
    return Py_BuildValue("(iiii)", item->box.x, item->box.y, item->box.width, item->box.height);
}

PyObject* item_repr(PyObject* object) {
    const ItemObject* item = item_of(object);
    Ref pos = Ref::steal(get_pos(object, nullptr));
    if (!pos) return nullptr;
    PyObject* name = item->name.get();
    const bool named = name != nullptr && name != Py_None;
    if (item->scene == nullptr)
        return named ? PyUnicode_FromFormat("<Item %R at %R, removed>", name, pos.get())
                     : PyUnicode_FromFormat("<Item at %R, removed>", pos.get());
    return named ? PyUnicode_FromFormat("<Item %R at %R of a %dx%d scene>", name, pos.get(), item->scene->width,
                                        item->scene->height)
                 : PyUnicode_FromFormat("<Item at %R of a %dx%d scene>", pos.get(), item->scene->width,
                                        item->scene->height);
}

int item_traverse(PyObject* object, visitproc visit, void* arg) {
    Py_VISIT(item_of(object)->source.get());
    Py_VISIT(item_of(object)->name.get());
    return 0;
}

int item_clear(PyObject* object) {
    ItemObject* item = item_of(object);
    detach(item, false);  // not drawn once its source goes
    Ref source = std::move(item->source);
    Ref name = std::move(item->name);
    return 0;
}

void item_dealloc(PyObject* object) {
    PyObject_GC_UnTrack(object);
    ItemObject* item = item_of(object);
    // A scene's items are held by it: an item dies attached only with its scene.
    item->scene = nullptr;
    item->source.~Ref();
    item->name.~Ref();
    Py_TYPE(object)->tp_free(object);
}

PyObject* item_new(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "an Item is made by Scene.add(source, pos, ...)");
    return nullptr;
}

#define KL_METHOD(name, doc) \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(item_##name)), METH_FASTCALL, doc}

PyMethodDef item_methods[] = {
    KL_METHOD(move,
              "move($self, pos, /)\n--\n\nPlace the item at pos: (x, y) at its picture's size, or (x, y, width, "
              "height)."),
    KL_METHOD(remove, "remove($self, /)\n--\n\nTake the item out of its scene (nothing when it was already)."),
    {nullptr, nullptr, 0, nullptr},
};

#undef KL_METHOD

PyGetSetDef item_getset[] = {
    {"source", get_source, nullptr, "The render target the item shows.", nullptr},
    {"pos", get_pos, nullptr, "Where: (x, y), or (x, y, width, height); move() changes it.", nullptr},
    {"area", get_area, set_area, "The part of the source's picture shown (None: all of it).", nullptr},
    {"tint", get_tint, set_tint, "The tint (r, g, b, a); None sets white.", nullptr},
    {"blend_mode", get_blend_mode, set_blend_mode, "raylib's blend mode it is drawn in, 0 to 7.", nullptr},
    {"clip", get_clip, set_clip, "The rectangle of the scene it never draws outside, or None.", nullptr},
    {"z", get_z, set_z, "Its depth: higher is drawn above; ties in the order items were added.", nullptr},
    {"visible", get_visible, set_visible, "Whether it is drawn.", nullptr},
    {"name", get_name, set_name, "A name for its repr and the messages about it, or None.", nullptr},
    {"scene", get_scene, nullptr, "Its scene, or None once removed or the scene is gone.", nullptr},
    {"box", get_box, nullptr, "The pixels of the scene it may cover (x, y, width, height), or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject item_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.compose.compose.Item",
    .tp_basicsize = sizeof(ItemObject),
    .tp_dealloc = item_dealloc,
    .tp_repr = item_repr,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    .tp_doc = "A render target placed in a Scene: made by Scene.add().",
    .tp_traverse = item_traverse,
    .tp_clear = item_clear,
    .tp_methods = item_methods,
    .tp_getset = item_getset,
    .tp_new = item_new,
};

PyObject* new_item(SceneObject* scene, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const char* function = "Scene.add";
    // add(source, pos, *, area=None, tint=Color.White, blend_mode=0, clip=None, name=None)
    static constexpr std::string_view keywords[] = {"area", "tint", "blend_mode", "clip", "name"};
    PyObject* given[5] = {Py_None, state.white.object(), nullptr, Py_None, Py_None};
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "Scene.add() takes 2 positional arguments (source, pos) but %zd were given",
                     nargs);
        return nullptr;
    }
    for (Py_ssize_t k = 0; kwnames != nullptr && k < PyTuple_GET_SIZE(kwnames); ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t length = 0;
        const char* text = PyUnicode_AsUTF8AndSize(keyword, &length);
        if (text == nullptr) return nullptr;
        const std::string_view word(text, static_cast<std::size_t>(length));
        const auto found = std::find(std::begin(keywords), std::end(keywords), word);
        if (found == std::end(keywords)) {
            PyErr_Format(PyExc_TypeError, "Scene.add() got an unexpected keyword argument '%U'", keyword);
            return nullptr;
        }
        given[found - std::begin(keywords)] = args[nargs + k];
    }
    PyObject* source = args[0];
    if (!PyObject_TypeCheck(source, state.render_texture_type.get())) {
        PyErr_Format(PyExc_TypeError,
                     "%s: source must be a KlRenderTexture (a target, an atlas cell, another "
                     "scene's target), not %.200s",
                     function, Py_TYPE(source)->tp_name);
        return nullptr;
    }
    if (given[4] != Py_None && !PyUnicode_Check(given[4])) {
        PyErr_Format(PyExc_TypeError, "%s: name must be a str or None, not %.200s", function,
                     Py_TYPE(given[4])->tp_name);
        return nullptr;
    }
    Ref made = Ref::steal(reinterpret_cast<PyObject*>(PyObject_GC_New(ItemObject, &item_type)));
    if (!made) return nullptr;
    ItemObject* item = item_of(made.get());
    new (&item->source) Ref(Ref::newref(source));
    new (&item->name) Ref(Ref::newref(given[4]));
    item->scene = nullptr;
    item->key = 0;
    item->x = item->y = item->width = item->height = 0.0;
    item->sized = false;
    std::fill(std::begin(item->area), std::end(item->area), 0.0);
    item->whole = true;
    item->picture_width = item->picture_height = 0;
    item->tint = white_tint;
    item->blend = 0;
    item->clip = Box{};
    item->clipped = false;
    item->z = 0.0;
    item->order = 0;
    item->visible = true;
    item->box = Box{};
    item->exact = false;
    item->bounded = false;
    item->seen = 0;
    item->index = 0;
    PyObject_GC_Track(made.get());
    // Every argument first: nothing is placed until all are good.
    kelo_raylib::compositor::Source resolved;
    Where where;
    if (!position(args[1], where, function) || !color_value(given[1], item->tint, white_tint, {function, "tint"}) ||
        (given[2] != nullptr && !blend_value(given[2], item->blend, {function, "blend_mode"})) ||
        (given[3] != Py_None && !box_value(given[3], item->clip, {function, "clip"})) ||
        !state.api->resolve(source, &resolved, function, source))
        return nullptr;
    put(item, where);
    item->clipped = given[3] != Py_None;
    item->key = resolved.key;
    item->picture_width = resolved.width, item->picture_height = resolved.height;
    if (!area_value(given[0], item, item->area, item->whole, function)) return nullptr;
    if (!shows_no_cycle(scene, resolved.key, function)) return nullptr;
    try {
        scene->items.reserve(scene->items.size() + 1);
        auto& showing = scene->showing[item->key];
        if (showing.empty() && !state.api->watch(item->key, source_changed, scene)) {
            scene->showing.erase(item->key);
            return nullptr;
        }
        showing.push_back(item);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    item->scene = scene;
    item->order = scene->next_order++;
    item->index = scene->items.size();
    scene->items.push_back(Ref::newref(made.get()));
    if (!place(scene, item)) {
        detach(item, false);
        scene->items.pop_back();
        return nullptr;
    }
    return made.release();
}

}  // namespace kelo_compose
