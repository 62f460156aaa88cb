// KlVector2: a 2-D vector of doubles. Other native modules include this
// header to read the record directly and to call the native method table,
// published in the type's dictionary as the unnamed capsule "__pyx_vtable__".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

struct KlVector2Object;

struct KlVector2VTable {
    // Slot 0: a new vector holding (x, y); a new reference, or null with an
    // exception set.
    PyObject* (*new_)(double x, double y);
};

struct KlVector2Object {
    PyObject_HEAD
    KlVector2VTable* vtab;
    double x;
    double y;
};

static_assert(sizeof(void*) != 8 || sizeof(KlVector2Object) == 40, "KlVector2 record layout");
