// The Python-visible functions of the module, built from their table
// (KLRT_FUNCTIONS, entries.h): the methods of KlRenderTexture with their
// defaults and annotations, the pickling methods and the unpickling function,
// as function objects of the runtime's function type.
#include <iterator>
#include <string>

#include "kelo_ui/fast/klrendertex/private/entries.h"
#include "kelo_ui/fast/klrendertex/private/startup.h"
#include "kelo_ui/fast/klrendertex/private/state.h"
#include "kelo_ui/fast/runtime/function.h"
#include "kelo_ui/fast/runtime/native_type.h"

namespace klrt {
namespace {

using kl::Ref;

struct Row {
    kl::FunctionEntry entry;
    const kl::Signature& signature;
    Kind kind;
    bool texture_annotation;
};

#define KLRT_ROW(entry, kind, annotated) {py_##entry, sig_##entry, Kind::kind, annotated},
const Row functions[] = {KLRT_FUNCTIONS(KLRT_ROW)};
#undef KLRT_ROW
static_assert(std::size(functions) == function_count);

// What the function object is made of. Its qualified name: the class's name
// and its own, or its own for the module-level function.
kl::Ref make(const Row& row, PyObject* code, PyObject* defaults, PyObject* annotations) {
    const bool plain = row.kind == Kind::module_function;
    const std::string qualname = plain ? row.signature.name : std::string("KlRenderTexture.") + row.signature.name;
    const kl::FunctionSpec spec{
        row.entry,
        row.kind == Kind::method || row.kind == Kind::pickling_method ? &KlRenderTextureType : nullptr,
        &row.signature,
        qualname.c_str(),
        state.names.module_name.object(),
        state.filename.object(),
        defaults,
        annotations,
        // A method needs an instance, and none exists before start-up has
        // succeeded; only the functions that take none are guarded.
        row.kind == Kind::static_method || plain ? check_started : nullptr,
    };
    return code ? kl::make_function(spec, code) : kl::make_code(spec);
}

// Color.White, read afresh: None or exactly a tuple.
Ref read_white() {
    Ref color = global(state.names.Color);
    if (!color) return {};
    Ref white = Ref::steal(PyObject_GetAttr(color.get(), state.names.White.object()));
    if (!white || !kl::check_tuple_value(white.get(), true)) return {};
    return white;
}

// The default objects of a function: each optional parameter's default is
// stored in its signature, for the entry to bind, and its shown form joins
// `__defaults__`. Color.White is read twice, for these two in that order:
// later changes to it reach neither.
bool resolve_defaults(const kl::Signature& signature, Ref& shown_defaults) {
    const Py_ssize_t optional = signature.count - signature.required;
    if (optional == 0) return true;
    Ref shown = Ref::steal(PyTuple_New(optional));
    if (!shown) return false;
    bool only_true = true;
    for (Py_ssize_t i = signature.required; i < signature.count; ++i) {
        Ref stored, displayed;
        switch (signature.default_value(i)) {
            case zero:
                stored = Ref::newref(state.int_0.object());
                break;
            case true_value:
                stored = Ref::newref(Py_True);
                break;
            case white:
                stored = read_white();
                break;
            default:
                PyErr_SetString(PyExc_SystemError, "a parameter without a default among the optional ones");
        }
        if (!stored) return false;
        displayed = signature.default_value(i) == white ? read_white() : Ref::newref(stored.get());
        if (!displayed || PyList_Append(state.defaults.object(), stored.get()) < 0) return false;
        only_true = only_true && displayed.get() == Py_True;
        signature.defaults[i] = stored.get();  // kept alive by state.defaults
        PyTuple_SET_ITEM(shown.get(), i - signature.required, displayed.release());
    }
    // copy's (True,) is the module's constant tuple.
    shown_defaults = only_true && optional == 1 ? Ref::newref(state.true_tuple.object()) : std::move(shown);
    return true;
}

Ref texture_annotations() {
    Ref annotations = Ref::steal(PyDict_New());
    Ref object_name = Ref::steal(PyUnicode_FromString("object"));
    if (!annotations || !object_name || PyDict_SetItemString(annotations.get(), "texture", object_name.get()) < 0) {
        return {};
    }
    return annotations;
}

// A static method: stored, read back from the class and wrapped in place.
bool wrap_static_method(const char* name) {
    Ref class_dict = Ref::steal(PyType_GetDict(&KlRenderTextureType));
    if (!class_dict) return false;
    PyObject* stored = nullptr;
    if (PyDict_GetItemStringRef(class_dict.get(), name, &stored) <= 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_KeyError, name);
        return false;
    }
    Ref stored_ref = Ref::steal(stored);
    Ref wrapped = Ref::steal(PyObject_CallOneArg(state.staticmethod.object(), stored));
    return wrapped && kl::set_type_attribute(&KlRenderTextureType, name, wrapped.get());
}

}  // namespace

bool make_function_codes(FunctionCodes& codes) {
    for (std::size_t i = 0; i < function_count; ++i) {
        codes[i] = make(functions[i], nullptr, nullptr, nullptr);
        if (!codes[i]) return false;
    }
    return true;
}

bool build_methods(const FunctionCodes& codes) {
    Ref kept = Ref::steal(PyList_New(0));
    if (!kept) return false;
    state.defaults.set(std::move(kept));
    for (std::size_t i = 0; i < function_count; ++i) {
        const Row& row = functions[i];
        if (row.kind != Kind::method && row.kind != Kind::static_method) continue;
        Ref defaults;
        if (!resolve_defaults(row.signature, defaults)) return false;
        Ref annotations = row.texture_annotation ? texture_annotations() : Ref::steal(PyDict_New());
        if (!annotations) return false;
        Ref function = make(row, codes[i].get(), defaults.get(), annotations.get());
        if (!function || !kl::set_type_attribute(&KlRenderTextureType, row.signature.name, function.get()))
            return false;
        if (row.kind == Kind::static_method && !wrap_static_method(row.signature.name)) return false;
    }
    return true;
}

kl::Ref make_function(Function function, const FunctionCodes& codes) {
    const auto index = static_cast<std::size_t>(function);
    Ref annotations = Ref::steal(PyDict_New());
    if (!annotations) return {};
    return make(functions[index], codes[index].get(), nullptr, annotations.get());
}

}  // namespace klrt
