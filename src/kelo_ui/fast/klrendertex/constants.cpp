// Start-up's constants: the interned names and the constant objects, and
// the constant tuples.
#include "kelo_ui/fast/klrendertex/private/startup.h"
#include "kelo_ui/fast/klrendertex/private/state.h"

namespace klrt {
namespace {

using kl::Ref;

bool intern(kl::Pinned<>& slot, const char* text) {
    Ref name = Ref::steal(PyUnicode_InternFromString(text));
    if (!name) return false;
    slot.set(std::move(name));
    return true;
}

}  // namespace

bool make_constants() {
    Names& n = state.names;
    const struct {
        kl::Pinned<>& slot;
        const char* text;
    } names[] = {
        {n.md, "md"},
        {n.rl, "rl"},
        {n.load_render_texture, "load_render_texture"},
        {n.unload_render_texture, "unload_render_texture"},
        {n.is_window_ready, "is_window_ready"},
        {n.render_texture, "render_texture"},
        {n.texture, "texture"},
        {n.width, "width"},
        {n.height, "height"},
        {n.id, "id"},
        {n.depth, "depth"},
        {n.clear, "clear"},
        {n.fast_clear, "fast_clear"},
        {n.fill, "fill"},
        {n.kill, "kill"},
        {n.get_rect, "get_rect"},
        {n.get_height, "get_height"},
        {n.get_width, "get_width"},
        {n.kelo_state, "kelo_state"},
        {n.window, "window"},
        {n.display, "display"},
        {n.fast_blit_pro, "fast_blit_pro"},
        {n.BlendMode, "BlendMode"},
        {n.BLEND_ALPHA, "BLEND_ALPHA"},
        {n.blit, "blit"},
        {n.unpickle, "__pyx_unpickle_KlRenderTexture"},
        {n.dunder_dict, "__dict__"},
        {n.dunder_new, "__new__"},
        {n.update, "update"},
        {n.Color, "Color"},
        {n.White, "White"},
        {n.staticmethod, "staticmethod"},
        {n.module_name, KLRT_MODULE_NAME},
        {state.filename, source_path},
    };
    for (const auto& entry : names) {
        if (!intern(entry.slot, entry.text)) return false;
    }
    Ref empty = Ref::steal(PyTuple_New(0));
    Ref zero = Ref::steal(PyLong_FromLong(0));
    Ref checksum = Ref::steal(PyLong_FromLong(0xd7babc0));
    if (!empty || !zero || !checksum) return false;
    state.empty_tuple.set(std::move(empty));
    state.int_0.set(std::move(zero));
    state.pickle_checksum.set(std::move(checksum));
    return true;
}

bool make_constant_tuples() {
    Ref origin = Ref::steal(PyTuple_Pack(2, state.int_0.object(), state.int_0.object()));
    Ref true_tuple = Ref::steal(PyTuple_Pack(1, Py_True));
    if (!origin || !true_tuple) return false;
    state.origin_position.set(std::move(origin));
    state.true_tuple.set(std::move(true_tuple));
    return true;
}

}  // namespace klrt
