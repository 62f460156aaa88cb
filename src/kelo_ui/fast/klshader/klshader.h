// KlShader: a shader program id and its uniform locations. The native method
// table is published in the type's dictionary as the unnamed capsule
// "__pyx_vtable__".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

struct KlShaderObject;

struct KlShaderVTable {
    // Slot 0: the shader's program id.
    unsigned int (*get_id)(KlShaderObject* self);
};

struct KlShaderObject {
    PyObject_HEAD
    KlShaderVTable* vtab;
    unsigned int id;
    int* locs;
};

static_assert(sizeof(void*) != 8 || sizeof(KlShaderObject) == 40, "KlShader record layout");
