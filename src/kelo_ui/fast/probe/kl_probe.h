// kl_probe: a native test and benchmark helper that sees the toolkit's records
// and tables exactly as another native module of the toolkit does.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Functions that reach KlRenderTexture through its public header; added to the
// module by its execution slot.
extern PyMethodDef kl_probe_render_tex_methods[];
