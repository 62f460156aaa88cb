// kelo_ui.fast.probe.kl_probe: the toolkit's records and tables as another
// native module sees them, for tests and benchmarks, and the benchmark
// floors (native calls that do nothing).
#include "kelo_ui/fast/probe/kl_probe.h"

#include <cstdint>
#include <cstring>
#include <tuple>
#include <utility>

#include "kelo_ui/fast/klrect/klrect.h"
#include "kelo_ui/fast/klshader/klshader.h"
#include "kelo_ui/fast/klvector2/klvector2.h"
#include "kelo_ui/fast/raylib/kelo_raylib.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"
#include "kelo_ui/fast/runtime/module_def.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace {

using kl::Ref;

// raylib's own structs, as a program calling raylib declares them: the floor
// calls raylib itself, as another native module would.
namespace rl {
struct Texture {
    unsigned int id;
    int width, height, mipmaps, format;
};
struct Rectangle {
    float x, y, width, height;
};
struct Vector2 {
    float x, y;
};
struct Color {
    unsigned char r, g, b, a;
};
}  // namespace rl

PyObject* record_sizes(PyObject*, PyObject*) {
    return Py_BuildValue("{s:n,s:n,s:n}", "KlVector2", static_cast<Py_ssize_t>(sizeof(KlVector2Object)), "KlRect",
                         static_cast<Py_ssize_t>(sizeof(KlRectObject)), "KlShader",
                         static_cast<Py_ssize_t>(sizeof(KlShaderObject)));
}

// A sibling type, imported at call time.
Ref sibling_type(const char* module_name, const char* type_name) {
    Ref module = Ref::steal(PyImport_ImportModule(module_name));
    if (!module) return Ref();
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), type_name));
    if (type && !PyType_Check(type.get())) {
        PyErr_Format(PyExc_TypeError, "%s.%s is not a type object", module_name, type_name);
        return Ref();
    }
    return type;
}

// The table a sibling type publishes, fetched the way an importer does: the
// unnamed capsule "__pyx_vtable__" of the type's own dictionary.
void* sibling_table(PyObject* type) {
    Ref dict = Ref::steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(type)));
    if (!dict) return nullptr;
    PyObject* raw = nullptr;
    const int found = PyDict_GetItemStringRef(dict.get(), "__pyx_vtable__", &raw);
    Ref capsule = Ref::steal(raw);
    if (found < 0) return nullptr;
    if (found == 0) {
        PyErr_SetString(PyExc_KeyError, "__pyx_vtable__");
        return nullptr;
    }
    void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
    if (!table && !PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
    return table;
}

void* sibling_table(const char* module_name, const char* type_name) {
    Ref type = sibling_type(module_name, type_name);
    return type ? sibling_table(type.get()) : nullptr;
}

bool doubles(PyObject* const* args, Py_ssize_t count, double* out) {
    for (Py_ssize_t i = 0; i < count; ++i) {
        out[i] = PyFloat_AsDouble(args[i]);
        if (out[i] == -1.0 && PyErr_Occurred()) return false;
    }
    return true;
}

// vector2_new(x, y): KlVector2's slot 0.
PyObject* vector2_new(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    double v[2];
    if (!kl::check_positional_count("vector2_new", nargs, 2) || !doubles(args, 2, v)) return nullptr;
    auto* table = static_cast<KlVector2VTable*>(sibling_table("kelo_ui.fast.klvector2.klvector2", "KlVector2"));
    return table ? table->new_(v[0], v[1]) : nullptr;
}

// rect_new(x, y, w, h): KlRect's slot 0, with single-precision arguments.
PyObject* rect_new(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    double v[4];
    if (!kl::check_positional_count("rect_new", nargs, 4) || !doubles(args, 4, v)) return nullptr;
    auto* table = static_cast<KlRectVTable*>(sibling_table("kelo_ui.fast.klrect.klrect", "KlRect"));
    if (!table) return nullptr;
    return table->new_(kl::to_single(v[0]), kl::to_single(v[1]), kl::to_single(v[2]), kl::to_single(v[3]));
}

// shader_get_id(shader): KlShader's slot 0 on a KlShader (or subclass).
PyObject* shader_get_id(PyObject*, PyObject* shader) {
    Ref type = sibling_type("kelo_ui.fast.klshader.klshader", "KlShader");
    if (!type) return nullptr;
    if (!PyObject_TypeCheck(shader, reinterpret_cast<PyTypeObject*>(type.get()))) {
        PyErr_Format(PyExc_TypeError, "shader_get_id() expects a KlShader, not %.200s", Py_TYPE(shader)->tp_name);
        return nullptr;
    }
    auto* table = static_cast<KlShaderVTable*>(sibling_table(type.get()));
    if (!table) return nullptr;
    return PyLong_FromUnsignedLong(table->get_id(reinterpret_cast<KlShaderObject*>(shader)));
}

// The arguments of an exported drawing function, given from Python: objects
// as they are, ints as the Python-visible drawing functions read them.
bool argument(PyObject* given, PyObject*& out) {
    out = given;
    return true;
}
bool argument(PyObject* given, int& out) { return kl::int_argument(given, out); }

// Calls `Function`, the export `name` found through its capsule (which must
// carry the signature of the header), with `given` converted; with `pending`
// already raised, as a native caller that missed a test would call it.
template <typename Function>
struct ExportCall;

template <typename... Args>
struct ExportCall<void (*)(Args...)> {
    static bool call(const char* name, const char* signature, PyObject* const* given, Py_ssize_t n, PyObject* pending) {
        return call(name, signature, given, n, pending, std::index_sequence_for<Args...>());
    }

    template <std::size_t... I>
    static bool call(const char* name, const char* signature, PyObject* const* given, Py_ssize_t n, PyObject* pending,
                     std::index_sequence<I...>) {
        if (!kl::check_positional_count(name, n, sizeof...(Args))) return false;
        std::tuple<Args...> values;
        if (!(argument(given[I], std::get<I>(values)) && ...)) return false;
        Ref module = Ref::steal(PyImport_ImportModule(kelo_raylib::module_name));
        Ref table = module ? Ref::steal(PyObject_GetAttrString(module.get(), "__pyx_capi__")) : Ref();
        Ref capsule = table ? Ref::steal(PyMapping_GetItemString(table.get(), name)) : Ref();
        auto entry =
            capsule ? reinterpret_cast<void (*)(Args...)>(PyCapsule_GetPointer(capsule.get(), signature)) : nullptr;
        if (!entry) return false;
        if (pending) PyErr_SetRaisedException(Py_NewRef(pending));
        std::apply(entry, values);
        return !PyErr_Occurred();
    }
};

// One of kelo_raylib's eight drawing functions, by name.
bool call_export(PyObject* name, PyObject* const* given, Py_ssize_t n, PyObject* pending) {
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : nullptr;
    if (!text) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "the function name must be a str");
        return false;
    }
#define KL_CALL(function, result, parameters, signature, python, doc) \
    if (std::strcmp(text, #function) == 0)                            \
        return ExportCall<kelo_raylib::function_type::function>::call(#function, signature, given, n, pending);
    KELO_RAYLIB_DRAWING_FUNCTIONS(KL_CALL)
#undef KL_CALL
    // The lean blits return a value and take doubles: not callable here.
    PyErr_Format(PyExc_ValueError, "kelo_raylib exports no function %s of the eight", text);
    return false;
}

// raylib_call(name, *args): returns None, or raises what the call left pending.
PyObject* raylib_call(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError, "raylib_call() needs a function name");
        return nullptr;
    }
    if (!call_export(args[0], args + 1, nargs - 1, nullptr)) return nullptr;
    Py_RETURN_NONE;
}

// raylib_call_over_pending(error, name, *args): makes the call with `error`
// already pending, as a native caller that missed a test would; raises
// whatever is pending afterwards.
PyObject* raylib_call_over_pending(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 2 || !PyExceptionInstance_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "raylib_call_over_pending() needs an exception instance and a name");
        return nullptr;
    }
    call_export(args[1], args + 2, nargs - 2, args[0]);
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "the pending exception was lost");
    return nullptr;
}

// --- benchmark floors ---------------------------------------------------------

PyObject* noop(PyObject*, PyObject* const*, Py_ssize_t) { Py_RETURN_NONE; }

// draw_texture_rec_floor(address, texture, count): raylib's DrawTextureRec,
// at `address` (the binding's function), called `count` times from C with
// prebuilt structs: the whole `texture` (its bytes) flipped at (10, 20),
// untinted. The floor of any blit that goes through it.
PyObject* draw_texture_rec_floor(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("draw_texture_rec_floor", nargs, 3)) return nullptr;
    const auto address = reinterpret_cast<std::uintptr_t>(PyLong_AsVoidPtr(args[0]));
    if (address == 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "draw_texture_rec_floor: no function address");
        return nullptr;
    }
    Py_buffer bytes;
    if (PyObject_GetBuffer(args[1], &bytes, PyBUF_SIMPLE) < 0) return nullptr;
    rl::Texture texture{};
    const bool sized = bytes.len == static_cast<Py_ssize_t>(sizeof texture);
    if (sized) std::memcpy(&texture, bytes.buf, sizeof texture);
    PyBuffer_Release(&bytes);
    const Py_ssize_t count = PyLong_AsSsize_t(args[2]);
    if (!sized || count < 0) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_ValueError, "draw_texture_rec_floor: a Texture's bytes and a count");
        return nullptr;
    }
    using DrawTextureRec = void (*)(rl::Texture, rl::Rectangle, rl::Vector2, rl::Color);
    const auto draw = reinterpret_cast<DrawTextureRec>(address);
    const rl::Rectangle source{0.0f, 0.0f, static_cast<float>(texture.width), -static_cast<float>(texture.height)};
    for (Py_ssize_t i = 0; i < count; ++i)
        draw(texture, source, rl::Vector2{10.0f, 20.0f}, rl::Color{255, 255, 255, 255});
    Py_RETURN_NONE;
}

struct FloorObject {
    PyObject_HEAD
    double value;
};

// Floor(value=0.0)
PyObject* floor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* const keywords[] = {"value", nullptr};
    double value = 0.0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|d:Floor", keywords, &value)) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self) reinterpret_cast<FloorObject*>(self)->value = value;
    return self;
}

// The call shape of a zero-argument method returning a float.
PyObject* floor_get_value(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (nargs != 0) {
        PyErr_SetString(PyExc_TypeError, "get_value() takes no arguments");
        return nullptr;
    }
    return PyFloat_FromDouble(reinterpret_cast<FloorObject*>(self)->value);
}

PyObject* floor_noop(PyObject*, PyObject* const*, Py_ssize_t) { Py_RETURN_NONE; }

#define KL_FASTCALL(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function))

PyMethodDef floor_methods[] = {
    {"get_value", KL_FASTCALL(floor_get_value), METH_FASTCALL, nullptr},
    {"noop", KL_FASTCALL(floor_noop), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// A heap type: the probe is a test helper, nothing reads its record.
PyType_Slot floor_slots[] = {
    {Py_tp_methods, floor_methods},
    {Py_tp_new, reinterpret_cast<void*>(floor_new)},
    {0, nullptr},
};
PyType_Spec floor_spec = {"kelo_ui.fast.probe.kl_probe.Floor", sizeof(FloorObject), 0, Py_TPFLAGS_DEFAULT, floor_slots};

PyMethodDef probe_functions[] = {
    {"record_sizes", record_sizes, METH_NOARGS, nullptr},
    {"vector2_new", KL_FASTCALL(vector2_new), METH_FASTCALL, nullptr},
    {"rect_new", KL_FASTCALL(rect_new), METH_FASTCALL, nullptr},
    {"shader_get_id", shader_get_id, METH_O, nullptr},
    {"raylib_call", KL_FASTCALL(raylib_call), METH_FASTCALL, nullptr},
    {"raylib_call_over_pending", KL_FASTCALL(raylib_call_over_pending), METH_FASTCALL, nullptr},
    {"noop", KL_FASTCALL(noop), METH_FASTCALL, nullptr},
    {"draw_texture_rec_floor", KL_FASTCALL(draw_texture_rec_floor), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

#undef KL_FASTCALL

int probe_exec(PyObject* module) {
    Ref floor = Ref::steal(PyType_FromSpec(&floor_spec));
    if (!floor || PyModule_AddObjectRef(module, "Floor", floor.get()) < 0) return -1;
    return PyModule_AddFunctions(module, kl_probe_render_tex_methods);
}

kl::ModuleDefinition probe_module({
    .name = "kelo_ui.fast.probe.kl_probe",
    .doc = "Native views of the toolkit's records and tables, for tests and benchmarks.",
    .functions = probe_functions,
    .exec = probe_exec,
});

}  // namespace

PyMODINIT_FUNC PyInit_kl_probe() { return probe_module.init(); }
