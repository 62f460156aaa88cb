// The Python-visible functions of the module: the seventeen methods of
// KlRenderTexture with their defaults and annotations, the two pickling
// operations and the unpickling function, as function objects of the
// runtime's function type.
#include <iterator>

#include "kelo_ui/fast/klrendertex/entry_point.h"
#include "kelo_ui/fast/klrendertex/methods.h"
#include "kelo_ui/fast/klrendertex/module_state.h"
#include "kelo_ui/fast/klrendertex/startup.h"
#include "kelo_ui/fast/runtime/function.h"
#include "kelo_ui/fast/runtime/native_type.h"

namespace klrt {
namespace {

using kl::Ref;

enum class Defaults {
    none,
    blend_flip_color,  // (0, True, Color.White)
    flip_color,        // (True, Color.White)
    flip,              // (True,)
    blend,             // (0,)
};

struct MethodDef {
    kl::FunctionEntry entry;
    const kl::Signature& signature;
    const char* qualname;
    bool is_method;  // false: a static method, or the module-level function
    Defaults defaults;
    int tint;  // index into state.default_tint, or -1
    bool texture_annotation;
};

#define KLRT_METHOD(name) py_##name, sig_##name, "KlRenderTexture." #name

// In the order start-up builds them: the seventeen methods of the class, the
// two pickling operations, and the unpickling function.
const MethodDef functions[] = {
    {KLRT_METHOD(from_rl_render_texture), false, Defaults::none, -1, false},
    {KLRT_METHOD(blit), true, Defaults::blend_flip_color, 0, false},
    {KLRT_METHOD(fast_blit), true, Defaults::flip_color, 1, false},
    {KLRT_METHOD(blit_texture), true, Defaults::blend_flip_color, 2, true},
    {KLRT_METHOD(fast_blit_texture), true, Defaults::flip_color, 3, true},
    {KLRT_METHOD(clear), true, Defaults::none, -1, false},
    {KLRT_METHOD(fast_clear), true, Defaults::none, -1, false},
    {KLRT_METHOD(fill), true, Defaults::none, -1, false},
    {KLRT_METHOD(kill), true, Defaults::none, -1, false},
    {KLRT_METHOD(get_rect), true, Defaults::none, -1, false},
    {KLRT_METHOD(get_height), true, Defaults::none, -1, false},
    {KLRT_METHOD(get_width), true, Defaults::none, -1, false},
    {KLRT_METHOD(copy), true, Defaults::flip, -1, false},
    {py_enter, sig_enter, "KlRenderTexture.__enter__", true, Defaults::none, -1, false},
    {py_exit, sig_exit, "KlRenderTexture.__exit__", true, Defaults::none, -1, false},
    {KLRT_METHOD(fast_blits), true, Defaults::none, -1, false},
    {KLRT_METHOD(blits), true, Defaults::blend, -1, false},
    {py_reduce, sig_reduce, "KlRenderTexture.__reduce__", true, Defaults::none, -1, false},
    {py_setstate, sig_setstate, "KlRenderTexture.__setstate__", true, Defaults::none, -1, false},
    {py_unpickle, sig_unpickle, "__pyx_unpickle_KlRenderTexture", false, Defaults::none, -1, false},
};

#undef KLRT_METHOD

constexpr std::size_t class_method_count = 17;
static_assert(std::size(functions) == function_count);

kl::FunctionSpec function_spec(const MethodDef& def, PyObject* defaults, PyObject* annotations) {
    return kl::FunctionSpec{
        def.entry,
        def.is_method ? &KlRenderTextureType : nullptr,
        &def.signature,
        def.qualname,
        state.names.module_name.object(),
        state.filename.object(),
        defaults,
        annotations,
        // A method needs an instance, and none exists before start-up has
        // succeeded; only the functions that take none are guarded.
        def.is_method ? nullptr : check_started,
    };
}

// Color.White, read afresh: None or exactly a tuple.
Ref read_default_tint() {
    Ref color = global(state.names.Color);
    if (!color) return {};
    Ref white = Ref::steal(PyObject_GetAttr(color.get(), state.names.White.object()));
    if (!white || !kl::check_tuple_value(white.get(), true)) return {};
    return white;
}

// The __defaults__ of a method; for the blit methods this also reads and
// stores the tint they use when `color` is omitted.
bool build_defaults(const MethodDef& def, Ref& defaults) {
    switch (def.defaults) {
        case Defaults::none:
            return true;
        case Defaults::flip:
            defaults = Ref::newref(state.true_tuple.object());
            return true;
        case Defaults::blend:
            defaults = Ref::steal(PyTuple_Pack(1, state.int_0.object()));
            return static_cast<bool>(defaults);
        case Defaults::blend_flip_color:
        case Defaults::flip_color: {
            Ref stored = read_default_tint();
            if (!stored) return false;
            state.default_tint[def.tint].set(std::move(stored));
            Ref shown = read_default_tint();
            if (!shown) return false;
            defaults = def.defaults == Defaults::blend_flip_color
                           ? Ref::steal(PyTuple_Pack(3, state.int_0.object(), Py_True, shown.get()))
                           : Ref::steal(PyTuple_Pack(2, Py_True, shown.get()));
            return static_cast<bool>(defaults);
        }
    }
    return true;
}

Ref texture_annotations() {
    Ref annotations = Ref::steal(PyDict_New());
    Ref object_name = Ref::steal(PyUnicode_FromString("object"));
    if (!annotations || !object_name ||
        PyDict_SetItemString(annotations.get(), "texture", object_name.get()) < 0) {
        return {};
    }
    return annotations;
}

}  // namespace

bool make_function_codes(FunctionCodes& codes) {
    for (std::size_t i = 0; i < function_count; ++i) {
        codes[i] = kl::make_code(function_spec(functions[i], nullptr, nullptr));
        if (!codes[i]) return false;
    }
    return true;
}

// In the class's dictionary, in order; static methods are stored, read back
// and wrapped in place.
bool build_methods(const FunctionCodes& codes) {
    Ref class_dict = Ref::steal(PyType_GetDict(&KlRenderTextureType));
    if (!class_dict) return false;
    for (std::size_t i = 0; i < class_method_count; ++i) {
        const MethodDef& def = functions[i];
        Ref defaults;
        if (!build_defaults(def, defaults)) return false;
        Ref annotations = def.texture_annotation ? texture_annotations() : Ref::steal(PyDict_New());
        if (!annotations) return false;
        Ref function = kl::make_function(function_spec(def, defaults.get(), annotations.get()), codes[i].get());
        if (!function || !kl::set_type_attribute(&KlRenderTextureType, def.signature.name, function.get())) return false;
        if (!def.is_method) {
            // A static method: read back from the class and wrapped in place.
            PyObject* stored = nullptr;
            if (PyDict_GetItemStringRef(class_dict.get(), def.signature.name, &stored) <= 0) {
                if (!PyErr_Occurred()) PyErr_SetString(PyExc_KeyError, def.signature.name);
                return false;
            }
            Ref stored_ref = Ref::steal(stored);
            Ref wrapped = Ref::steal(PyObject_CallOneArg(state.staticmethod.object(), stored));
            if (!wrapped || !kl::set_type_attribute(&KlRenderTextureType, def.signature.name, wrapped.get())) return false;
        }
    }
    return true;
}

kl::Ref make_function(Function function, const FunctionCodes& codes) {
    const auto index = static_cast<std::size_t>(function);
    Ref annotations = Ref::steal(PyDict_New());
    if (!annotations) return {};
    return kl::make_function(function_spec(functions[index], nullptr, annotations.get()), codes[index].get());
}

}  // namespace klrt
