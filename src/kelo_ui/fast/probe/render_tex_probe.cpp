// Calls into KlRenderTexture exactly as another native module of the toolkit
// makes them: through the record and the native method table published in
// the class's dictionary.
#include <cstdint>
#include <cstring>

#include "kelo_ui/fast/klrendertex/kl_render_tex.h"
#include "kelo_ui/fast/probe/kl_probe.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/fastcall.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace {

using kl::Ref;

// The class and its published table, fetched afresh (cheap enough for tests).
bool render_texture_class(Ref& type, KlRenderTextureVTable*& table) {
    Ref module = Ref::steal(PyImport_ImportModule("kelo_ui.fast.klrendertex.kl_render_tex"));
    if (!module) return false;
    type = Ref::steal(PyObject_GetAttrString(module.get(), "KlRenderTexture"));
    if (!type) return false;
    Ref dict = Ref::steal(PyType_GetDict(type.as<PyTypeObject>()));
    if (!dict) return false;
    PyObject* capsule = nullptr;
    if (PyDict_GetItemStringRef(dict.get(), "__pyx_vtable__", &capsule) <= 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_KeyError, "__pyx_vtable__");
        return false;
    }
    Ref held = Ref::steal(capsule);
    table = static_cast<KlRenderTextureVTable*>(PyCapsule_GetPointer(capsule, nullptr));
    return table != nullptr;
}

Ref vector2_class() {
    Ref module = Ref::steal(PyImport_ImportModule("kelo_ui.fast.klvector2.klvector2"));
    if (!module) return {};
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), "KlVector2"));
    if (type && !PyType_Check(type.get())) {
        PyErr_SetString(PyExc_TypeError, "kelo_ui.fast.klvector2.klvector2.KlVector2 is not a type object");
        return {};
    }
    return type;
}

KlRenderTextureObject* as_render_texture(PyObject* object, PyObject* type) {
    if (!PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(type))) {
        PyErr_SetString(PyExc_TypeError, "expected a KlRenderTexture");
        return nullptr;
    }
    return reinterpret_cast<KlRenderTextureObject*>(object);
}

// rt_slot(name, *args): call the named slot of the published table. Slots
// taking a record get it as the first argument; ints are passed as C ints.
PyObject* rt_slot(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 2 || !PyUnicode_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "rt_slot(name, *args)");
        return nullptr;
    }
    Ref type;
    KlRenderTextureVTable* table = nullptr;
    if (!render_texture_class(type, table)) return nullptr;
    const char* name = PyUnicode_AsUTF8(args[0]);
    if (name == nullptr) return nullptr;
    auto need = [&](Py_ssize_t count) {
        if (nargs == count + 1) return true;
        PyErr_Format(PyExc_TypeError, "slot %s takes %zd arguments", name, count);
        return false;
    };
    auto as_int = [](PyObject* object, int& out) {
        const long value = PyLong_AsLong(object);
        if (value == -1 && PyErr_Occurred()) return false;
        out = static_cast<int>(value);
        return true;
    };

    if (std::strcmp(name, "new") == 0) {
        if (!need(1)) return nullptr;
        // The slot reads its argument as a vector record without a test, as
        // its contract allows: the caller makes sure it is one.
        Ref vector_type = vector2_class();
        if (!vector_type) return nullptr;
        if (!PyObject_TypeCheck(args[1], vector_type.as<PyTypeObject>())) {
            PyErr_Format(PyExc_TypeError, "rt_slot('new', size): size must be a KlVector2, not %.200s",
                         Py_TYPE(args[1])->tp_name);
            return nullptr;
        }
        return reinterpret_cast<PyObject*>(table->new_(reinterpret_cast<KlVector2Object*>(args[1])));
    }
    KlRenderTextureObject* self = as_render_texture(args[1], type.get());
    if (self == nullptr) return nullptr;
    int flag = 0;
    if (std::strcmp(name, "c_fast_blit") == 0) {
        if (!need(5) || !as_int(args[4], flag)) return nullptr;
        KlRenderTextureObject* source = args[2] == Py_None ? reinterpret_cast<KlRenderTextureObject*>(Py_None)
                                                           : as_render_texture(args[2], type.get());
        if (source == nullptr) return nullptr;
        table->c_fast_blit(self, source, args[3], flag, args[5]);
        return kl::none_unless_error();
    }
    if (std::strcmp(name, "c_fast_blit_texture") == 0) {
        if (!need(5) || !as_int(args[4], flag)) return nullptr;
        table->c_fast_blit_texture(self, args[2], args[3], flag, args[5]);
        return kl::none_unless_error();
    }
    if (std::strcmp(name, "c_fast_clear") == 0 || std::strcmp(name, "c_clear") == 0) {
        if (!need(2)) return nullptr;
        (name[2] == 'f' ? table->c_fast_clear : table->c_clear)(self, args[2]);
        return kl::none_unless_error();
    }
    const struct {
        const char* name;
        void (*KlRenderTextureVTable::*slot)(KlRenderTextureObject*, PyObject*, int);
    } clears[] = {
        {"clear", &KlRenderTextureVTable::clear},
        {"fast_clear", &KlRenderTextureVTable::fast_clear},
        {"fill", &KlRenderTextureVTable::fill},
    };
    for (const auto& entry : clears) {
        if (std::strcmp(name, entry.name) == 0) {
            if (!need(3) || !as_int(args[3], flag)) return nullptr;
            (table->*entry.slot)(self, args[2], flag);
            return kl::none_unless_error();
        }
    }
    if (!need(2) || !as_int(args[2], flag)) return nullptr;
    if (std::strcmp(name, "kill") == 0) {
        table->kill(self, flag);
        return kl::none_unless_error();
    }
    if (std::strcmp(name, "get_rect") == 0) return table->get_rect(self, flag);
    if (std::strcmp(name, "get_width") == 0 || std::strcmp(name, "get_height") == 0) {
        // The caller tests for a pending exception whatever the value.
        const double value = (name[4] == 'w' ? table->get_width : table->get_height)(self, flag);
        if (PyErr_Occurred()) return nullptr;
        return PyFloat_FromDouble(value);
    }
    PyErr_Format(PyExc_ValueError, "no slot named %s", name);
    return nullptr;
}

// A native subclass's table: the class's own, with the drawing slots
// (c_fast_clear, c_fast_blit, c_fast_blit_texture) replaced by ones that
// record their arguments. Installed on one object by
// use_recording_table(rt, log).
KlRenderTextureVTable recording_table;
kl::Pinned<> recording_log;

void record_call(Ref entry) {
    if (entry) PyList_Append(recording_log.object(), entry.get());
}

void recording_fast_clear(KlRenderTextureObject*, PyObject* color) {
    record_call(Ref::steal(Py_BuildValue("(sO)", "c_fast_clear", color)));
}

void recording_fast_blit(KlRenderTextureObject*, KlRenderTextureObject* source, PyObject* dest, int flip,
                         PyObject* color) {
    record_call(Ref::steal(Py_BuildValue("(sOOiO)", "c_fast_blit", source, dest, flip, color)));
}

void recording_fast_blit_texture(KlRenderTextureObject*, PyObject* texture, PyObject* dest, int flip, PyObject* color) {
    record_call(Ref::steal(Py_BuildValue("(sOOiO)", "c_fast_blit_texture", texture, dest, flip, color)));
}

PyObject* use_recording_table(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyList_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "use_recording_table(rt, log: list)");
        return nullptr;
    }
    Ref type;
    KlRenderTextureVTable* table = nullptr;
    if (!render_texture_class(type, table)) return nullptr;
    KlRenderTextureObject* self = as_render_texture(args[0], type.get());
    if (self == nullptr) return nullptr;
    recording_table = *table;
    recording_table.c_fast_clear = recording_fast_clear;
    recording_table.c_fast_blit = recording_fast_blit;
    recording_table.c_fast_blit_texture = recording_fast_blit_texture;
    recording_log.set(Ref::newref(args[1]));
    self->vtab = &recording_table;
    Py_RETURN_NONE;
}

// The boundary conversions that the module's methods apply to integer and
// truth-value parameters.
PyObject* as_int32(PyObject*, PyObject* object) {
    int value = 0;
    if (!kl::as_int32(object, value)) return nullptr;
    return PyLong_FromLong(value);
}

PyObject* as_int64(PyObject*, PyObject* object) {
    std::int64_t value = 0;
    if (!kl::as_int64(object, value)) return nullptr;
    return PyLong_FromLongLong(value);
}

PyObject* truth(PyObject*, PyObject* object) {
    const int value = PyObject_IsTrue(object);
    if (value < 0) return nullptr;
    return PyBool_FromLong(value);
}

}  // namespace

// collector_clear(function): what the cyclic collector does to a function
// object of kl_render_tex when it breaks a reference cycle through it; the
// object must stay safe to use afterwards. Other objects are refused.
PyObject* collector_clear(PyObject*, PyObject* object) {
    Ref type;
    KlRenderTextureVTable* table = nullptr;
    if (!render_texture_class(type, table)) return nullptr;
    // The function type is kl_render_tex's own: found through a method.
    Ref kill = Ref::steal(PyObject_GetAttrString(type.get(), "kill"));
    if (!kill) return nullptr;
    PyTypeObject* function_type = Py_TYPE(kill.get());
    if (!Py_IS_TYPE(object, function_type)) {
        PyErr_Format(PyExc_TypeError, "collector_clear() takes a %s, not %.200s", function_type->tp_name,
                     Py_TYPE(object)->tp_name);
        return nullptr;
    }
    if (function_type->tp_clear(object) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyMethodDef kl_probe_render_tex_methods[] = {
    {"collector_clear", collector_clear, METH_O, nullptr},
    {"as_int32", as_int32, METH_O, nullptr},
    {"as_int64", as_int64, METH_O, nullptr},
    {"truth", truth, METH_O, nullptr},
    {"rt_slot", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(rt_slot)), METH_FASTCALL, nullptr},
    {"use_recording_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(use_recording_table)),
     METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};
