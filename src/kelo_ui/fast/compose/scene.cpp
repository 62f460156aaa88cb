// A Scene: items retained, their damage since the last compose(), and the
// render target holding the composed picture (`target`), which only compose
// draws into.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "kelo_ui/fast/compose/private/scene.h"
#include "kelo_ui/fast/compose/private/values.h"
#include "kelo_ui/fast/klvector2/klvector2.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_compose {
namespace {

// Every scene, by its target's key: a scene's target shown in another scene
// leads back to it.
std::unordered_map<std::uintptr_t, const SceneObject*> scenes;

bool attached_to_a_window(SceneObject* scene, const char* function) {
    if (scene->target) return true;
    PyErr_Format(PyExc_RuntimeError, "%s: the scene was not made (Scene(size) makes it)", function);
    return false;
}

bool shows(const SceneObject* scene, std::uintptr_t key, int depth) {
    if (scene->key == key) return true;
    if (depth > 64) return true;  // deeper than any scene shows: taken as a loop
    for (const auto& [shown, items] : scene->showing) {
        auto found = scenes.find(shown);
        if (found != scenes.end() && shows(found->second, key, depth + 1)) return true;
    }
    return false;
}

}  // namespace

bool shows_no_cycle(const SceneObject* scene, std::uintptr_t key, const char* function) {
    if (key == scene->key) {
        PyErr_Format(PyExc_ValueError, "%s: a scene cannot show its own target", function);
        return false;
    }
    auto found = scenes.find(key);
    if (found != scenes.end() && shows(found->second, scene->key, 0)) {
        PyErr_Format(PyExc_ValueError,
                     "%s: that scene's target shows this scene (through the scenes it shows): a scene cannot show "
                     "itself",
                     function);
        return false;
    }
    return true;
}

namespace {

// ------------------------------------------------------------ Python methods

PyObject* scene_add(PyObject* object, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    SceneObject* scene = scene_of(object);
    if (!attached_to_a_window(scene, "Scene.add")) return nullptr;
    return new_item(scene, args, PyVectorcall_NARGS(nargsf), kwnames);
}

PyObject* scene_compose(PyObject* object, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    constexpr const char* function = "Scene.compose";
    SceneObject* scene = scene_of(object);
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject* full = Py_False;
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "Scene.compose() takes at most 1 argument (full) but %zd were given", nargs);
        return nullptr;
    }
    if (nargs == 1) full = args[0];
    for (Py_ssize_t k = 0; kwnames != nullptr && k < PyTuple_GET_SIZE(kwnames); ++k) {
        if (!PyUnicode_EqualToUTF8(PyTuple_GET_ITEM(kwnames, k), "full")) {
            PyErr_Format(PyExc_TypeError, "Scene.compose() got an unexpected keyword argument '%U'",
                         PyTuple_GET_ITEM(kwnames, k));
            return nullptr;
        }
        if (nargs == 1) {
            PyErr_SetString(PyExc_TypeError, "Scene.compose() got multiple values for argument 'full'");
            return nullptr;
        }
        full = args[nargs + k];
    }
    const int whole = PyObject_IsTrue(full);
    if (whole < 0 || !attached_to_a_window(scene, function)) return nullptr;
    return compose(scene, whole != 0, function);
}

PyObject* scene_present(PyObject* object, PyObject* const*, Py_ssize_t nargs) {
    constexpr const char* function = "Scene.present";
    SceneObject* scene = scene_of(object);
    if (!kl::check_positional_count(function, nargs, 0) || !attached_to_a_window(scene, function) ||
        !state.api->can_present(function))
        return nullptr;
    Ref damaged = Ref::steal(compose(scene, false, function));
    if (!damaged) return nullptr;
    // What was composed since the last present, this compose's boxes among
    // it: compose() alone draws into the target, not onto the window.
    const Box everything{0, 0, scene->width, scene->height};
    std::vector<Box> boxes;
    try {
        boxes = scene->whole_unshown ? std::vector<Box>{everything} : merged(scene->unshown);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    if (!state.api->present(scene->target.get(), scene->key, boxes.data(), boxes.size(), function)) return nullptr;
    scene->unshown.clear();
    scene->whole_unshown = false;
    return damaged.release();
}

PyObject* scene_invalidate(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "Scene.invalidate";
    SceneObject* scene = scene_of(object);
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "Scene.invalidate() takes at most 1 argument (rect) but %zd were given", nargs);
        return nullptr;
    }
    if (nargs == 0 || args[0] == Py_None) {
        scene->whole_damaged = true;
        Py_RETURN_NONE;
    }
    Box box;
    if (!box_value(args[0], box, {function, "rect"})) return nullptr;
    damage(scene, meet(box, Box{0, 0, scene->width, scene->height}));
    Py_RETURN_NONE;
}

PyObject* scene_item_at(PyObject* object, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "Scene.item_at";
    SceneObject* scene = scene_of(object);
    if (!kl::check_positional_count(function, nargs, 1)) return nullptr;
    double point[4];
    int count = 0;
    if (!numbers(args[0], point, 2, count, {function, "point"})) return nullptr;
    if (!(point[0] >= 0.0 && point[1] >= 0.0 && point[0] < scene->width && point[1] < scene->height)) Py_RETURN_NONE;
    const Box pixel{static_cast<int>(std::floor(point[0])), static_cast<int>(std::floor(point[1])), 1, 1};
    std::vector<ItemObject*> found;
    if (!query(scene, pixel, found)) return nullptr;
    // On the pixel's box (within its clip) and on its rectangle.
    const ItemObject* top = nullptr;
    for (const ItemObject* item : found)
        if (covers(item, point[0], point[1]) && (top == nullptr || below(top, item))) top = item;
    return Py_NewRef(top ? reinterpret_cast<PyObject*>(const_cast<ItemObject*>(top)) : Py_None);
}

PyObject* get_target(PyObject* object, void*) {
    SceneObject* scene = scene_of(object);
    return Py_NewRef(scene->target ? scene->target.get() : Py_None);
}

PyObject* get_size(PyObject* object, void*) {
    return Py_BuildValue("(ii)", scene_of(object)->width, scene_of(object)->height);
}

PyObject* get_background(PyObject* object, void*) {
    const rl::Color& color = scene_of(object)->background;
    return Py_BuildValue("(iiii)", color.r, color.g, color.b, color.a);
}

int set_background(PyObject* object, PyObject* value, void*) {
    SceneObject* scene = scene_of(object);
    rl::Color color;
    if (!color_value(value ? value : Py_None, color, {0, 0, 0, 0}, {"Scene.background", "background"})) return -1;
    scene->background = color;
    scene->whole_damaged = true;
    return 0;
}

PyObject* get_items(PyObject* object, void*) {
    SceneObject* scene = scene_of(object);
    std::vector<ItemObject*> ordered;
    try {
        for (const Ref& held : scene->items) ordered.push_back(item_of(held.get()));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    std::sort(ordered.begin(), ordered.end(), below);
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(ordered.size())));
    if (!list) return nullptr;
    for (std::size_t at = 0; at < ordered.size(); ++at)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(at), Py_NewRef(reinterpret_cast<PyObject*>(ordered[at])));
    return list.release();
}

Py_ssize_t scene_length(PyObject* object) { return static_cast<Py_ssize_t>(scene_of(object)->items.size()); }

PyObject* scene_repr(PyObject* object) {
    const SceneObject* scene = scene_of(object);
    return PyUnicode_FromFormat("<Scene %dx%d of %zu items>", scene->width, scene->height, scene->items.size());
}

// Its items let go (detached, not drawn again), its target given back to
// ordinary drawing.
void forget(SceneObject* scene) {
    std::vector<Ref> items = std::move(scene->items);
    scene->items.clear();
    for (const Ref& held : items) detach(item_of(held.get()), false);
    if (scene->key != 0) {
        state.api->reserve(scene->key, false);
        scenes.erase(scene->key);
        scene->key = 0;
    }
}

int scene_traverse(PyObject* object, visitproc visit, void* arg) {
    SceneObject* scene = scene_of(object);
    for (const Ref& held : scene->items) Py_VISIT(held.get());
    Py_VISIT(scene->target.get());
    return 0;
}

int scene_clear(PyObject* object) {
    SceneObject* scene = scene_of(object);
    forget(scene);
    Ref target = std::move(scene->target);
    return 0;
}

void scene_dealloc(PyObject* object) {
    PyObject_GC_UnTrack(object);
    Py_TRASHCAN_BEGIN(object, scene_dealloc)
    SceneObject* scene = scene_of(object);
    if (scene->weakrefs != nullptr) PyObject_ClearWeakRefs(object);
    forget(scene);
    scene->target.~Ref();
    scene->items.~vector();
    scene->buckets.~vector();
    scene->damage.~vector();
    scene->unshown.~vector();
    scene->showing.~unordered_map();
    Py_TYPE(object)->tp_free(object);
    Py_TRASHCAN_END
}

// Scene(size, background=Color.Blank)
PyObject* scene_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    constexpr const char* function = "Scene";
    static const char* keywords[] = {"size", "background", nullptr};
    PyObject* size = nullptr;
    PyObject* background = state.blank.object();
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:Scene", const_cast<char**>(keywords), &size, &background))
        return nullptr;
    double values[4];
    int count = 0;
    rl::Color color;
    if (!numbers(size, values, 2, count, {function, "size"}) ||
        !color_value(background, color, {0, 0, 0, 0}, {function, "background"}))
        return nullptr;
    if (!(values[0] >= 1.0 && values[1] >= 1.0) || values[0] > 1 << 24 || values[1] > 1 << 24) {
        PyErr_Format(PyExc_ValueError, "%s: size must be at least 1x1 (whole pixels), not %R", function, size);
        return nullptr;
    }
    Ref made = Ref::steal(type->tp_alloc(type, 0));
    if (!made) return nullptr;
    SceneObject* scene = scene_of(made.get());
    new (&scene->target) Ref();
    new (&scene->items) std::vector<Ref>();
    new (&scene->buckets) std::vector<std::vector<ItemObject*>>();
    new (&scene->damage) std::vector<Box>();
    new (&scene->unshown) std::vector<Box>();
    new (&scene->showing) std::unordered_map<std::uintptr_t, std::vector<ItemObject*>>();
    scene->key = 0;
    scene->width = static_cast<int>(values[0]);
    scene->height = static_cast<int>(values[1]);
    scene->background = color;
    scene->next_order = 0;
    scene->queries = 0;
    scene->whole_damaged = true;
    scene->whole_unshown = true;
    scene->covered = 0;
    // Its target: a render target of the window, made as any is.
    Ref vector = Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(state.vector2_type.get()), "ii",
                                                  scene->width, scene->height));
    Ref target = vector ? Ref::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(state.render_texture_type.get()),
                                                         vector.get()))
                        : Ref();
    kelo_raylib::compositor::Source resolved;
    if (!target || !state.api->resolve(target.get(), &resolved, function, target.get()) || !make_grid(scene))
        return nullptr;
    try {
        scenes.emplace(resolved.key, scene);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    if (!state.api->reserve(resolved.key, true)) {
        scenes.erase(resolved.key);
        return nullptr;
    }
    scene->key = resolved.key;
    scene->target = std::move(target);
    return made.release();
}

#define KL_METHOD(name, flags, doc) \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(scene_##name)), flags, doc}

PyMethodDef scene_methods[] = {
    KL_METHOD(add, METH_FASTCALL | METH_KEYWORDS,
              "add($self, source, pos, /, *, area=None, tint=Color.White, blend_mode=0, clip=None, name=None)\n--\n\n"
              "Place a render target in the scene: at pos (x, y) at its picture's size, or into (x, y, width, "
              "height); area a part of its picture; clip a rectangle of the scene it never draws outside. "
              "Returns the Item."),
    KL_METHOD(compose, METH_FASTCALL | METH_KEYWORDS,
              "compose($self, full=False)\n--\n\n"
              "Draw what changed since the last compose (everything with full) into the scene's target; the "
              "boxes drawn, as (x, y, width, height), none when nothing changed."),
    KL_METHOD(present, METH_FASTCALL,
              "present($self, /)\n--\n\n"
              "Compose, then show the scene on the window at (0, 0), outside any frame: only the boxes that "
              "changed where the window keeps what it showed and can copy parts of its buffer, all of it "
              "otherwise (what window.present(scene) does). Returns compose()'s boxes."),
    KL_METHOD(invalidate, METH_FASTCALL,
              "invalidate($self, rect=None, /)\n--\n\nDamage a rectangle (x, y, width, height), or everything."),
    KL_METHOD(item_at, METH_FASTCALL,
              "item_at($self, point, /)\n--\n\nThe topmost visible item at point (x, y), honouring clips and z; "
              "None when there is none."),
    {nullptr, nullptr, 0, nullptr},
};

#undef KL_METHOD

PyGetSetDef scene_getset[] = {
    {"target", get_target, nullptr, "The KlRenderTexture holding the composed picture (only compose draws into it).",
     nullptr},
    {"size", get_size, nullptr, "(width, height) in whole pixels.", nullptr},
    {"background", get_background, set_background, "What the scene shows where no item does, (r, g, b, a).", nullptr},
    {"items", get_items, nullptr, "The items, in the order they are drawn.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PySequenceMethods scene_sequence = {.sq_length = scene_length};

}  // namespace

PyTypeObject scene_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.compose.compose.Scene",
    .tp_basicsize = sizeof(SceneObject),
    .tp_dealloc = scene_dealloc,
    .tp_repr = scene_repr,
    .tp_as_sequence = &scene_sequence,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    .tp_doc =
        "Scene(size, background=Color.Blank)\n--\n\n"
        "A retained scene: items placed in it, recomposed and presented where they changed.",
    .tp_traverse = scene_traverse,
    .tp_clear = scene_clear,
    .tp_weaklistoffset = offsetof(SceneObject, weakrefs),
    .tp_methods = scene_methods,
    .tp_getset = scene_getset,
    .tp_new = scene_new,
};

}  // namespace kelo_compose
