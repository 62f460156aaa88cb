// KlRect: a rectangle of single-precision floats. Other native modules include
// this header to read the record and to call the native method table,
// published in the type's dictionary as the unnamed capsule "__pyx_vtable__".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

struct KlRectObject;

struct KlRectVTable {
    // Slot 0: a new rectangle; a new reference, or null with an exception set.
    PyObject* (*new_)(float x, float y, float w, float h);
};

struct KlRectObject {
    PyObject_HEAD
    KlRectVTable* vtab;
    float x;
    float y;
    float w;
    float h;
};

static_assert(sizeof(void*) != 8 || sizeof(KlRectObject) == 40, "KlRect record layout");
