// md.rl's raylib calls: a function of the binding, guarded. raylib's drawing
// state exists only while its window is open, and belongs to the window's
// thread; a call after the window closed would write through freed memory. So
// each call is refused (RuntimeError) unless the window is open on the calling
// thread, and while it runs the window cannot be closed (the binding converts
// the arguments first, which may run Python code). Calls that act on the GPU
// at once, outside raylib's batch, draw the batch first, so that they land
// after what was drawn before them.
#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {
namespace {

struct GuardedObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    Ref function;
    Ref name;
    const char* utf8_name;  // borrowed from `name`
    bool flush;
};

GuardedObject* guarded_of(PyObject* object) { return reinterpret_cast<GuardedObject*>(object); }

PyObject* guarded_call(PyObject* callable, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    GuardedObject* guarded = guarded_of(callable);
    ContextObject* context = context_of(the_context());
    if (!enter(context, guarded->utf8_name) || !ready(context, guarded->utf8_name)) return nullptr;
    if (guarded->flush) context->binding.raylib.rlDrawRenderBatchActive();
    Ref function = Ref::newref(guarded->function.get());
    ++context->busy;
    PyObject* result = PyObject_Vectorcall(function.get(), args, nargsf, kwnames);
    --context->busy;
    return result;
}

void guarded_dealloc(PyObject* object) {
    PyObject_GC_UnTrack(object);
    guarded_of(object)->function.~Ref();
    guarded_of(object)->name.~Ref();
    Py_TYPE(object)->tp_free(object);
}

int guarded_traverse(PyObject* object, visitproc visit, void* arg) {
    Py_VISIT(guarded_of(object)->function.get());
    return 0;
}

PyObject* guarded_repr(PyObject* object) {
    return PyUnicode_FromFormat("<md.rl function %U>", guarded_of(object)->name.get());
}

PyObject* get_name(PyObject* object, void*) { return Py_NewRef(guarded_of(object)->name.get()); }

PyObject* get_wrapped(PyObject* object, void*) { return Py_NewRef(guarded_of(object)->function.get()); }

PyObject* get_doc(PyObject* object, void*) {
    return PyObject_GetAttrString(guarded_of(object)->function.get(), "__doc__");
}

PyGetSetDef guarded_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},       {"__qualname__", get_name, nullptr, nullptr, nullptr},
    {"__wrapped__", get_wrapped, nullptr, nullptr, nullptr}, {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject guarded_function_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.raylib.kelo_raylib.GuardedFunction",
    .tp_basicsize = sizeof(GuardedObject),
    .tp_dealloc = guarded_dealloc,
    .tp_vectorcall_offset = offsetof(GuardedObject, vectorcall),
    .tp_repr = guarded_repr,
    .tp_call = PyVectorcall_Call,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL,
    .tp_doc =
        "A raylib function of the binding as md.rl calls it: refused unless the window is open on the "
        "calling thread.",
    .tp_traverse = guarded_traverse,
    .tp_getset = guarded_getset,
};

PyObject* method_guard(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("guard", nargs, 3)) return nullptr;
    if (!PyUnicode_Check(args[0])) {
        PyErr_Format(PyExc_TypeError, "guard: name must be a str, not %.200s", Py_TYPE(args[0])->tp_name);
        return nullptr;
    }
    const char* utf8_name = PyUnicode_AsUTF8(args[0]);
    const int flush = PyObject_IsTrue(args[2]);
    if (utf8_name == nullptr || flush < 0) return nullptr;
    GuardedObject* guarded = PyObject_GC_New(GuardedObject, &guarded_function_type);
    if (guarded == nullptr) return nullptr;
    guarded->vectorcall = guarded_call;
    new (&guarded->function) Ref(Ref::newref(args[1]));
    new (&guarded->name) Ref(Ref::newref(args[0]));
    guarded->utf8_name = utf8_name;
    guarded->flush = flush != 0;
    PyObject_GC_Track(guarded);
    return reinterpret_cast<PyObject*>(guarded);
}

}  // namespace kelo_raylib::native
