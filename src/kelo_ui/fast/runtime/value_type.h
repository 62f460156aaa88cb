// The pieces shared by the toolkit's small value types (KlVector2, KlRect,
// KlShader): records of plain numbers after the method table pointer, holding
// no references, shown and pickled by value.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {

// tp_dealloc of a record that holds no references.
void dealloc_value(PyObject* self);

// "<type name><repr of fields>", the name being the object's own type's, as
// in "KlVector2(1.0, 2.0)". `fields` may be null (an error is then pending).
PyObject* repr_value(PyObject* self, Ref fields);

// __reduce__ of a value: (type(self), args), plus the instance dictionary of a
// subclass when it holds anything. `args` may be null (an error is pending).
PyObject* reduce_value(PyObject* self, Ref args);

// A number as float() reads it. Refused with TypeError
// "<owner><what> must be a number, not <type>".
bool to_number(PyObject* value, const char* owner, const char* what, double& out);

// A numeric field of a record, read as a Python float and written through
// to_number: the closure of its getset entry.
struct NumberField {
    std::size_t offset;
    const char* owner;  // the type's name in messages ("KlVector2 coordinates must be ...")
};

template <typename Number>
PyObject* get_number(PyObject* self, void* closure);
template <typename Number>
int set_number(PyObject* self, PyObject* value, void* closure);

// The getset entry of a double or float field.
template <typename Number>
PyGetSetDef number_field(const char* name, const char* doc, const NumberField& field) {
    return {name, get_number<Number>, set_number<Number>, doc, const_cast<NumberField*>(&field)};
}

}  // namespace kl
