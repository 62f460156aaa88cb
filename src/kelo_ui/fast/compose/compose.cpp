// kelo_ui.fast.compose.compose: retained scenes that recompose and present
// only what changed. A Scene keeps its items (render targets placed in it)
// and the damage since its last compose(); drawing into a source damages the
// items that show it on its own, told by the window context.
//
// Start-up finds the window context's compositor (compositor.h) and the
// toolkit's types, then binds Scene and Item.
#include "kelo_ui/fast/compose/private/scene.h"
#include "kelo_ui/fast/klrect/klrect.h"
#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/klvector2/klvector2.h"
#include "kelo_ui/fast/runtime/imports.h"
#include "kelo_ui/fast/runtime/module_def.h"

namespace kelo_compose {

State state;

namespace {

using kelo_raylib::compositor::Api;

bool find_compositor() {
    Ref raylib = Ref::steal(PyImport_ImportModule("kelo_ui.fast.raylib.kelo_raylib"));
    if (!raylib) return false;
    const auto* api = static_cast<const Api*>(PyCapsule_Import(kelo_raylib::compositor::capsule_name, 0));
    if (api == nullptr) return false;
    if (api->version != kelo_raylib::compositor::version) {
        PyErr_Format(PyExc_ImportError, "kelo_raylib's compositor is version %u; this module needs %u", api->version,
                     kelo_raylib::compositor::version);
        return false;
    }
    state.api = api;
    return true;
}

bool find_types() {
    Ref render_texture =
        kl::import_type("kelo_ui.fast.klrendertex.kl_render_tex", "KlRenderTexture", sizeof(KlRenderTextureObject));
    Ref vector2 = render_texture
                      ? kl::import_type("kelo_ui.fast.klvector2.klvector2", "KlVector2", sizeof(KlVector2Object))
                      : Ref();
    Ref rect = vector2 ? kl::import_type("kelo_ui.fast.klrect.klrect", "KlRect", sizeof(KlRectObject)) : Ref();
    Ref color = rect ? Ref::steal(PyImport_ImportModule("kelo_ui.presentation.color")) : Ref();
    Ref palette = color ? Ref::steal(PyObject_GetAttrString(color.get(), "Color")) : Ref();
    Ref white = palette ? Ref::steal(PyObject_GetAttrString(palette.get(), "White")) : Ref();
    Ref blank = white ? Ref::steal(PyObject_GetAttrString(palette.get(), "Blank")) : Ref();
    if (!blank) return false;
    state.render_texture_type.set(std::move(render_texture));
    state.vector2_type.set(std::move(vector2));
    state.rect_type.set(std::move(rect));
    state.white.set(std::move(white));
    state.blank.set(std::move(blank));
    return true;
}

int compose_exec(PyObject* module) {
    if (!find_compositor() || !find_types()) return -1;
    if (PyType_Ready(&scene_type) < 0 || PyType_Ready(&item_type) < 0) return -1;
    if (PyModule_AddObjectRef(module, "Scene", reinterpret_cast<PyObject*>(&scene_type)) < 0 ||
        PyModule_AddObjectRef(module, "Item", reinterpret_cast<PyObject*>(&item_type)) < 0)
        return -1;
    return 0;
}

kl::ModuleDefinition compose_module_definition({
    .name = "kelo_ui.fast.compose.compose",
    .doc = "Retained scenes that recompose and present only what changed.",
    .exec = compose_exec,
    .other_interpreter = "kelo_ui's compositor can be used by one interpreter only",
});

}  // namespace
}  // namespace kelo_compose

PyMODINIT_FUNC PyInit_compose() { return kelo_compose::compose_module_definition.init(); }
