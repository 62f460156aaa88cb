// The one-time binding check of the window context: when it is first bound,
// the binding's own description of every struct (size, field names, field
// types, offsets) and of every function's type must match raylib_declarations.h,
// and cffi's C-level conversion must pass a trial; otherwise the binding is
// refused with BindingMismatch and nothing is called. What the check finds is
// kept in a Binding: raylib's function addresses and what the per-call
// conversions need of cffi.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <cstdint>

#include "kelo_ui/fast/raylib/private/raylib_declarations.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kelo_raylib::native {

using kl::Ref;

// cffi's C API: the table published by `_cffi_backend` as the capsule
// `_C_API` named "cffi". Entry 17 is `_cffi_to_c(dest, ctype, object)`:
// converts `object` to the C value of `ctype` at `dest`; 0, or -1 with an
// exception set. For a struct ctype it copies a cdata of exactly that ctype.
struct CTypeDescr;
using ToC = int (*)(char* dest, CTypeDescr* ctype, PyObject* object);
inline constexpr std::size_t cffi_to_c_index = 17;

struct Binding {
    Functions raylib{};
    ToC to_c = nullptr;
    Ref cdata_type;              // _cffi_backend._CDataBase: every cdata is one
    Ref typeof_cdata;            // _cffi_backend.typeof
    Ref ctypes[struct_count];    // the binding's CType of each struct
    Ref kl_render_texture_type;  // KlRenderTexture, drawn by fast_blit_pro
    Ref texture_name;            // "texture", interned
    Ref cast;                    // the binding's ffi.cast, which makes views of the context's structs
    Ref texture_pointer;         // the binding's CType "Texture *"
    Ref render_texture_pointer;  // and "RenderTexture *"
    Ref new_;                    // the binding's ffi.new, which makes a struct of the values a call was given
    Ref float_pointer;           // the binding's CType "float *"
    Ref void_pointer;            // and "void *"
    Ref sizeof_;                 // the binding's ffi.sizeof

    CTypeDescr* ctype(StructIndex index) const { return reinterpret_cast<CTypeDescr*>(ctypes[index].get()); }
};

inline bool is_cdata(const Binding& binding, PyObject* object) {
    return PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(binding.cdata_type.get()));
}

// The head of cffi's cdata object: the interpreter's header, then its CType
// and where its bytes are. The one-time check tries this on a cdata of its
// own before any backend relies on it.
struct CDataHead {
    PyObject_HEAD
    CTypeDescr* c_type;
    char* c_data;
};

// Where a cdata's bytes are: what the window context keys a struct by.
inline std::uintptr_t address_of(PyObject* cdata) {
    return reinterpret_cast<std::uintptr_t>(reinterpret_cast<CDataHead*>(cdata)->c_data);
}

// A cdata of exactly the binding's struct `index`: a type test that copies
// nothing and runs no code.
inline bool is_struct(const Binding& binding, PyObject* object, StructIndex index) {
    return is_cdata(binding, object) && reinterpret_cast<CDataHead*>(object)->c_type == binding.ctype(index);
}

extern kl::Pinned<> binding_mismatch;  // the exception class BindingMismatch

// Fills `binding` from the binding's `ffi` and `lib`; false with
// BindingMismatch (or another error) set when the binding is refused.
bool make_binding(PyObject* ffi, PyObject* lib, Binding& binding);

}  // namespace kelo_raylib::native
