// md.rl's raylib calls: a function of the binding, guarded as the declared
// table of the binding's functions (kelo_ui/gpu/functions.py) says.
//
// raylib's drawing state exists only while its window is open, and belongs
// to the window's thread; a call after the window closed would write through
// freed memory. So each call is refused (RuntimeError) unless the window is
// open on the calling thread. Its arguments are first made inert: numbers,
// strings and sequences become plain ones, running whatever code their
// conversion needs (an __index__, a __float__), so that the binding's own
// conversion runs none; then the window is asked again, since that code may
// have closed it or forked the process. While the call runs the window
// cannot be closed.
//
// By its kind in the table, a call that draws needs somewhere to draw: a
// target's scope or the window's frame. A call that acts on the GPU at once,
// outside raylib's batch, draws the batch first, so that it lands after what
// was drawn before it; one that reads GPU memory back waits for the driver
// to finish too. A refused one raises, saying what to use instead.
//
// A texture argument that is dead is refused, saying why; one that is an
// atlas cell is handled as the table's cell policy says (cell_calls.cpp),
// and one that copies a cell's struct (a page's GPU id with a cell's size)
// is refused: raylib never sees a struct whose size is not its texture's.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "kelo_ui/fast/raylib/private/context.h"
#include "kelo_ui/fast/raylib/private/context_api.h"
#include "kelo_ui/fast/raylib/private/gl_driver.h"
#include "kelo_ui/fast/runtime/fastcall.h"

namespace kelo_raylib::native {
namespace {

enum class CallKind : unsigned char { window, draws, at_once, draws_at_once, reads_back, resizes, refused };

struct GuardedObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    Ref function;
    Ref name;
    const char* utf8_name;  // borrowed from `name`
    Ref reason;             // refused: why, and what to use instead; a cell refused: why
    const char* utf8_reason;
    CallKind kind;
    CellCall cells;
    std::uint32_t textures;  // bit i: positional parameter i takes a texture or render texture
};

GuardedObject* guarded_of(PyObject* object) { return reinterpret_cast<GuardedObject*>(object); }

// Arguments as the binding gets them: nested this deep at most.
constexpr int deepest_argument = 8;
constexpr Py_ssize_t most_arguments = 16;

// `object` as a value whose conversion by the binding (pyray's wrapper, then
// cffi) runs no code: plain numbers, strings and bytes, cdata, buffers, and
// tuples, lists and dicts of them. Whatever else converts to a number does
// so here (its __index__, else its __float__); the rest is left as it is,
// which the binding refuses without running its code.
Ref inert(PyObject* object, int depth) {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyLong_Type || type == &PyFloat_Type || type == &PyBool_Type || object == Py_None ||
        type == &PyUnicode_Type || type == &PyBytes_Type || type == &PyByteArray_Type || type == &PyMemoryView_Type)
        return Ref::newref(object);
    const ContextObject* self = context_of(the_context());
    if (self->bound && is_cdata(self->binding, object)) return Ref::newref(object);
    if (PyLong_Check(object)) return Ref::steal(PyNumber_Index(object));  // an exact copy, running nothing
    if (PyFloat_Check(object)) return Ref::steal(PyFloat_FromDouble(PyFloat_AS_DOUBLE(object)));
    if (PyUnicode_Check(object)) return Ref::steal(PyUnicode_FromObject(object));
    if (PyBytes_Check(object))
        return Ref::steal(PyBytes_FromStringAndSize(PyBytes_AS_STRING(object), PyBytes_GET_SIZE(object)));
    if (PyTuple_Check(object) || PyList_Check(object) || PyDict_Check(object)) {
        if (depth >= deepest_argument) {
            PyErr_SetString(PyExc_ValueError, "md.rl: an argument is nested too deeply");
            return Ref();
        }
        if (PyDict_Check(object)) {
            Ref items = Ref::steal(PyDict_Items(object));  // a copy: the conversions may change the dict
            Ref made = items ? Ref::steal(PyDict_New()) : Ref();
            if (!made) return Ref();
            for (Py_ssize_t at = 0; at < PyList_GET_SIZE(items.get()); ++at) {
                PyObject* item = PyList_GET_ITEM(items.get(), at);
                Ref key = inert(PyTuple_GET_ITEM(item, 0), depth + 1);
                Ref value = key ? inert(PyTuple_GET_ITEM(item, 1), depth + 1) : Ref();
                if (!value || PyDict_SetItem(made.get(), key.get(), value.get()) < 0) return Ref();
            }
            return made;
        }
        Ref items = Ref::steal(PySequence_List(object));  // a copy, read without running code
        if (!items) return Ref();
        for (Py_ssize_t at = 0; at < PyList_GET_SIZE(items.get()); ++at) {
            Ref item = inert(PyList_GET_ITEM(items.get(), at), depth + 1);
            if (!item) return Ref();
            PyList_SetItem(items.get(), at, item.release());
        }
        return PyTuple_Check(object) ? Ref::steal(PyList_AsTuple(items.get())) : std::move(items);
    }
    PyNumberMethods* number = type->tp_as_number;
    if (number != nullptr && number->nb_index != nullptr) return Ref::steal(PyNumber_Index(object));
    if (number != nullptr && number->nb_float != nullptr) return Ref::steal(PyNumber_Float(object));
    return Ref::newref(object);
}

// A texture argument of a toolkit's object that died, or a copy of a cell's
// struct: refused (false, an exception set).
bool check_texture(ContextObject* self, const char* function, Py_ssize_t at, PyObject* object) {
    const std::uintptr_t address = address_of(object);
    if (const char* why = why_dead(self, address)) {
        PyErr_Format(PyExc_RuntimeError, "%s: argument %zd is dead: %s", function, at, why);
        return false;
    }
    if (copies_a_cell(self, object)) {
        PyErr_Format(PyExc_ValueError,
                     "%s: argument %zd is a copy of an atlas cell's texture (its page's GPU object, the cell's "
                     "size); give the cell's own texture",
                     function, at);
        return false;
    }
    return true;
}

PyObject* guarded_call(PyObject* callable, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    GuardedObject* guarded = guarded_of(callable);
    const char* function = guarded->utf8_name;
    if (guarded->kind == CallKind::refused) {
        PyErr_Format(PyExc_RuntimeError, "%s: %s", function, guarded->utf8_reason);
        return nullptr;
    }
    ContextObject* self = context_of(the_context());
    if (!enter(self, function)) return nullptr;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const Py_ssize_t count = nargs + (kwnames ? PyTuple_GET_SIZE(kwnames) : 0);
    if (count > most_arguments) {
        PyErr_Format(PyExc_TypeError, "%s: %zd arguments are more than any raylib function takes", function, count);
        return nullptr;
    }
    Ref held[most_arguments];
    PyObject* converted[most_arguments];
    for (Py_ssize_t at = 0; at < count; ++at) {
        held[at] = inert(args[at], 0);
        if (!held[at]) return nullptr;
        converted[at] = held[at].get();
    }
    // The conversions may have closed the window, or forked.
    if (!ready(self, function)) return nullptr;
    const CallKind kind = guarded->kind;
    const bool draws = kind == CallKind::draws || kind == CallKind::draws_at_once;
    const bool at_once = kind == CallKind::at_once || kind == CallKind::draws_at_once;
    if (draws && !self->in_frame && self->scopes.current() == nullptr) {
        PyErr_Format(PyExc_RuntimeError,
                     "%s: there is nothing to draw into: draw inside a target's scope (with target:) or the "
                     "window's frame (with window.frame():)",
                     function);
        return nullptr;
    }
    if (kind == CallKind::resizes && self->scopes.current() != nullptr) {
        // A new size resets raylib's viewport and projection to the window's.
        PyErr_Format(PyExc_RuntimeError,
                     "%s: a render target's scope is open; change the window outside every target's scope", function);
        return nullptr;
    }
    for (Py_ssize_t at = 0; at < nargs && at < 32; ++at) {
        if (!(guarded->textures & (std::uint32_t{1} << at)) || !is_cdata(self->binding, converted[at])) continue;
        if (!check_texture(self, function, at, converted[at])) return nullptr;
        if (at_once) {
            // It writes the texture (or how it is sampled): whoever shows it is told. A
            // scene's own picture is its compose()'s alone.
            const std::uintptr_t key = address_of(converted[at]);
            if (reserved(self, key) || reserved(self, key - offsetof(rl::RenderTexture, texture)))
                return refuse_reserved(function), nullptr;
            tell(self, key);
            tell(self, key - offsetof(rl::RenderTexture, texture));
        }
        if (const Cell* cell = cell_of(self, converted[at])) {
            if (guarded->cells == CellCall::refuse) {
                PyErr_Format(PyExc_ValueError, "%s: argument %zd is an atlas cell: %s", function, at,
                             guarded->utf8_reason);
                return nullptr;
            }
            Ref function_object = Ref::newref(guarded->function.get());
            ++self->busy;
            PyObject* result = call_for_cell(self, guarded->cells, *cell, at, function_object.get(), converted, nargs,
                                             function, at_once, kind == CallKind::reads_back);
            --self->busy;
            return result;
        }
    }
    if ((guarded->cells == CellCall::update_texture || guarded->cells == CellCall::update_texture_rec) && nargs > 0 &&
        is_cdata(self->binding, converted[0])) {
        // Any texture's update is checked as a cell's is: raylib reads as many bytes as the rectangle takes.
        ++self->busy;
        PyObject* result = update_texture(self, guarded->cells, converted[0], converted, nargs, function);
        --self->busy;
        return result;
    }
    if (at_once || kind == CallKind::reads_back) self->binding.raylib.rlDrawRenderBatchActive();
    if (kind == CallKind::reads_back) finish_drawing();
    Ref function_object = Ref::newref(guarded->function.get());
    ++self->busy;
    PyObject* result = PyObject_Vectorcall(function_object.get(), converted, nargsf, kwnames);
    --self->busy;
    return result;
}

void guarded_dealloc(PyObject* object) {
    PyObject_GC_UnTrack(object);
    GuardedObject* guarded = guarded_of(object);
    guarded->function.~Ref();
    guarded->name.~Ref();
    guarded->reason.~Ref();
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

// The table's words for a kind of call.
bool call_kind_of(std::string_view word, CallKind& out) {
    static constexpr std::pair<std::string_view, CallKind> kinds[] = {
        {"window", CallKind::window},         {"draws", CallKind::draws},
        {"at_once", CallKind::at_once},       {"draws_at_once", CallKind::draws_at_once},
        {"reads_back", CallKind::reads_back}, {"resizes", CallKind::resizes},
        {"refused", CallKind::refused},
    };
    for (const auto& [name, kind] : kinds) {
        if (name == word) {
            out = kind;
            return true;
        }
    }
    return false;
}

std::string_view text_of(PyObject* object) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    return text ? std::string_view(text, static_cast<std::size_t>(size)) : std::string_view();
}

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
        "calling thread, and as the declared table of the binding's functions says.",
    .tp_traverse = guarded_traverse,
    .tp_getset = guarded_getset,
};

// guard(name, function, kind, cells, textures, reason)
PyObject* method_guard(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    constexpr const char* function = "guard";
    if (!kl::check_positional_count(function, nargs, 6)) return nullptr;
    PyObject* name = args[0];
    PyObject* kind_word = args[2];
    PyObject* cells_word = args[3];
    PyObject* reason = args[5];
    if (!PyUnicode_Check(name) || !PyUnicode_Check(kind_word) ||
        !(cells_word == Py_None || PyUnicode_Check(cells_word)) || !(reason == Py_None || PyUnicode_Check(reason))) {
        PyErr_SetString(PyExc_TypeError, "guard: name and kind are str, cells and reason str or None");
        return nullptr;
    }
    CallKind kind;
    if (!call_kind_of(text_of(kind_word), kind)) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_ValueError, "guard: %R is not a kind of call md.rl guards", kind_word);
        return nullptr;
    }
    CellCall cells = CellCall::none;
    if (cells_word != Py_None && !cell_call_of(text_of(name), text_of(cells_word), cells)) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_ValueError, "guard: %U has no way to take an atlas cell as %R", name, cells_word);
        return nullptr;
    }
    const unsigned long textures = PyLong_AsUnsignedLong(args[4]);
    if (textures == static_cast<unsigned long>(-1) && PyErr_Occurred()) return nullptr;
    if ((kind == CallKind::refused || cells == CellCall::refuse) && reason == Py_None) {
        PyErr_Format(PyExc_ValueError, "guard: %U is refused without a reason", name);
        return nullptr;
    }
    const char* utf8_name = PyUnicode_AsUTF8(name);
    const char* utf8_reason = reason == Py_None ? "" : PyUnicode_AsUTF8(reason);
    if (utf8_name == nullptr || utf8_reason == nullptr) return nullptr;
    GuardedObject* guarded = PyObject_GC_New(GuardedObject, &guarded_function_type);
    if (guarded == nullptr) return nullptr;
    guarded->vectorcall = guarded_call;
    new (&guarded->function) Ref(Ref::newref(args[1]));
    new (&guarded->name) Ref(Ref::newref(name));
    new (&guarded->reason) Ref(Ref::newref(reason));
    guarded->utf8_name = utf8_name;
    guarded->utf8_reason = utf8_reason;
    guarded->kind = kind;
    guarded->cells = cells;
    guarded->textures = static_cast<std::uint32_t>(textures);
    PyObject_GC_Track(guarded);
    return reinterpret_cast<PyObject*>(guarded);
}

}  // namespace kelo_raylib::native
