// The skeleton of the toolkit's small value types (KlVector2, KlRect,
// KlShader), written once: records of plain numbers after the method table
// pointer, holding no references, built from keyword-or-positional numbers,
// shown, compared and pickled by value, and published with their table in a
// module of their own.
//
// A type is described by a traits struct: its record and table, what it is called
// and says of itself (kl::ValueDescription), its fields, and its table:
//
//     struct Vector2 {
//         using Record = KlVector2Object;
//         static constexpr kl::ValueDescription about{"KlVector2", "kelo_ui.fast.klvector2.klvector2",
//                                                     "The toolkit's 2-D vector type.", "KlVector2(x=0.0, ...)"};
//         static constexpr kl::ValueField fields[] = {
//             {"x", "horizontal component", offsetof(Record, x), kl::ValueField::real}, ...};
//         static KlVector2VTable table;  // filled by the module
//     };
//
// and the module's PyInit_ returns `kl::ValueType<Traits>::init()`.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <iterator>
#include <string>

#include "kelo_ui/fast/runtime/args.h"
#include "kelo_ui/fast/runtime/convert.h"
#include "kelo_ui/fast/runtime/module_def.h"
#include "kelo_ui/fast/runtime/native_type.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

// A field of a value record.
struct ValueField {
    enum Kind {
        real,    // a double: any number float() accepts
        single,  // a float: the same, rounded to single precision
        id,      // an unsigned int: an integer (or __index__) from 0 to UINT_MAX
    };
    const char* name;
    const char* doc;
    std::size_t offset;
    Kind kind;
};

// What a value type is called and says of itself, and how it shows and
// compares.
struct ValueDescription {
    const char* name;    // "KlVector2"
    const char* module;  // its module, whose name with the type's is its full name
    const char* module_doc;
    const char* doc;            // the type's own, with its signature
    bool keyword_repr = false;  // "KlShader(id=5)" rather than "KlVector2(1.0, 2.0)"
    bool compares = true;       // == and != compare the fields
};

// The shared behaviour, given the fields (value_type.cpp).
namespace value {

void dealloc(PyObject* self);
// A Python value of a field, and the field set from one; false with an
// exception set when it is refused (`owner` names the type in messages).
PyObject* get(PyObject* self, const ValueField& field);
// `argument`: the value is a constructor's argument (messages say so).
bool set(PyObject* self, const ValueField& field, PyObject* value, const char* owner, bool argument);
// The value a field would be set to, as a double (an id fits one exactly).
bool convert(const ValueField& field, PyObject* value, const char* owner, bool argument, double& out);
// The fields as a tuple of their Python values.
PyObject* fields(PyObject* self, const ValueField* fields, std::size_t count);
PyObject* repr(PyObject* self, const ValueField* fields, std::size_t count, bool keywords);
// (type(self), fields), plus the instance dictionary of a subclass that holds anything.
PyObject* reduce(PyObject* self, const ValueField* fields, std::size_t count);
bool equal(PyObject* self, PyObject* other, const ValueField* fields, std::size_t count);

}  // namespace value

template <typename Traits>
class ValueType {
public:
    using Record = typename Traits::Record;
    static constexpr std::size_t field_count = std::size(Traits::fields);
    static_assert(field_count <= 4, "a value record has at most four fields");

    // The type object, defined once the class is complete.
    static PyTypeObject type;

    // A new record of exactly this type holding `values`, in field order.
    static PyObject* make(const double (&values)[field_count]) {
        PyObject* self = allocate(&type, nullptr, nullptr);
        if (self == nullptr) return nullptr;
        for (std::size_t i = 0; i < field_count; ++i) store(self, Traits::fields[i], values[i]);
        return self;
    }

    // The module's PyInit_ result.
    static PyObject* init() { return definition.init(); }

private:
    // Every instance, of this type or a subclass, carries the table pointer.
    static PyObject* allocate(PyTypeObject* subtype, PyObject*, PyObject*) {
        PyObject* self = subtype->tp_alloc(subtype, 0);
        if (self != nullptr) reinterpret_cast<Record*>(self)->vtab = &Traits::table;
        return self;
    }

    static void store(PyObject* self, const ValueField& field, double value) {
        char* at = reinterpret_cast<char*>(self) + field.offset;
        switch (field.kind) {
            case ValueField::real:
                *reinterpret_cast<double*>(at) = value;
                break;
            case ValueField::single:
                *reinterpret_cast<float*>(at) = to_single(value);
                break;
            case ValueField::id:
                *reinterpret_cast<unsigned int*>(at) = static_cast<unsigned int>(value);
                break;
        }
    }

    static inline const std::string qualified_name = std::string(Traits::about.module) + "." + Traits::about.name;

    // Filled from the fields when the module is executed, before the type is readied.
    static inline Parameters<field_count> parameters{};
    static inline PyGetSetDef getset[field_count + 1]{};

    // Each field: by position or by name, converted as its setter converts;
    // one not given is zero.
    static int init_record(PyObject* self, PyObject* args, PyObject* kwargs) {
        static const Signature signature = make_signature(Traits::about.name, parameters);
        PyObject* given[field_count];
        if (!bind_call_arguments(signature, args, kwargs, given)) return -1;
        // All converted before any is stored: a refused one changes nothing.
        double values[field_count] = {};
        for (std::size_t i = 0; i < field_count; ++i) {
            if (given[i] != nullptr &&
                !value::convert(Traits::fields[i], given[i], Traits::about.name, true, values[i]))
                return -1;
        }
        for (std::size_t i = 0; i < field_count; ++i) store(self, Traits::fields[i], values[i]);
        return 0;
    }

    static PyObject* get_field(PyObject* self, void* closure) {
        return value::get(self, *static_cast<const ValueField*>(closure));
    }
    static int set_field(PyObject* self, PyObject* value, void* closure) {
        if (value == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s attributes cannot be deleted", Traits::about.name);
            return -1;
        }
        return value::set(self, *static_cast<const ValueField*>(closure), value, Traits::about.name, false) ? 0 : -1;
    }

    static PyObject* repr(PyObject* self) {
        return value::repr(self, Traits::fields, field_count, Traits::about.keyword_repr);
    }
    static PyObject* reduce(PyObject* self, PyObject*) { return value::reduce(self, Traits::fields, field_count); }
    static PyObject* compare(PyObject* self, PyObject* other, int op) {
        if (!Traits::about.compares || (op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, &type))
            Py_RETURN_NOTIMPLEMENTED;
        return PyBool_FromLong(value::equal(self, other, Traits::fields, field_count) == (op == Py_EQ));
    }

    static inline PyMethodDef methods[] = {
        {"__reduce__", reduce, METH_NOARGS, nullptr},
        {nullptr, nullptr, 0, nullptr},
    };

    static int exec(PyObject* module) {
        for (std::size_t i = 0; i < field_count; ++i) {
            parameters.list[i] = {Traits::fields[i].name, Parameter::absent};
            getset[i] = {Traits::fields[i].name, get_field, set_field, Traits::fields[i].doc,
                         const_cast<ValueField*>(&Traits::fields[i])};
        }
        type.tp_name = qualified_name.c_str();
        return publish_native_type(module, &type, &Traits::table, Traits::about.name) ? 0 : -1;
    }

    static inline ModuleDefinition definition{
        {.name = Traits::about.module, .doc = Traits::about.module_doc, .exec = exec}};

    static PyTypeObject make_type() {
        static const PyVarObject head = {PyObject_HEAD_INIT(nullptr) 0};
        PyTypeObject made{};
        made.ob_base = head;
        made.tp_basicsize = sizeof(Record);
        made.tp_dealloc = value::dealloc;
        made.tp_repr = repr;
        made.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
        made.tp_doc = Traits::about.doc;
        // A type that does not compare keeps object's hash.
        made.tp_richcompare = Traits::about.compares ? compare : nullptr;
        made.tp_methods = methods;
        made.tp_getset = getset;
        made.tp_init = init_record;
        made.tp_new = allocate;
        return made;
    }
};

template <typename Traits>
PyTypeObject ValueType<Traits>::type = ValueType<Traits>::make_type();

}  // namespace kl
