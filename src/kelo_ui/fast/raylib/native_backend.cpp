// kelo_raylib's native drawing backend (see native_backend.h).
//
// raylib's structs are declared here as plain standard-layout structs, and
// its functions as pointers taking them by value: the x86-64 calling
// convention passes such structs exactly as the C compiler does for the same
// definitions. Nothing about the binding is taken on trust. When a backend is
// made, the binding's own description of every struct (size, field names,
// field types, offsets) and of every function's type must match these
// declarations, and cffi's C-level conversion must pass a trial; otherwise
// the backend is refused with BindingMismatch and nothing is called.
//
// Objects of the binding (textures, render textures) are copied into the C
// structs by cffi's own conversion, `_cffi_to_c` from the `_cffi_backend`
// module's C API, which accepts only a cdata of exactly that struct type.
// Vectors, rectangles and colours are converted here from any sequence of
// numbers (or a cdata of that struct).
#include "kelo_ui/fast/raylib/native_backend.h"

#include <cfloat>
#include <cstdarg>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "kelo_ui/fast/runtime/dest.h"
#include "kelo_ui/fast/runtime/fastcall.h"
#include "kelo_ui/fast/runtime/ref.h"

namespace kelo_raylib::native {
namespace {

using kl::Ref;

// ------------------------------------------------------------ raylib's C side

namespace rl {
struct Texture {
    unsigned int id;
    int width;
    int height;
    int mipmaps;
    int format;
};
struct RenderTexture {
    unsigned int id;
    Texture texture;
    Texture depth;
};
struct Rectangle {
    float x;
    float y;
    float width;
    float height;
};
struct Vector2 {
    float x;
    float y;
};
struct Color {
    unsigned char r;
    unsigned char g;
    unsigned char b;
    unsigned char a;
};
static_assert(std::is_standard_layout_v<Texture> && std::is_standard_layout_v<RenderTexture> &&
              std::is_standard_layout_v<Rectangle> && std::is_standard_layout_v<Vector2> &&
              std::is_standard_layout_v<Color>);
}  // namespace rl

constexpr rl::Color white{255, 255, 255, 255};
constexpr rl::Color blank{0, 0, 0, 0};

struct Functions {
    void (*BeginTextureMode)(rl::RenderTexture);
    void (*EndTextureMode)();
    void (*BeginBlendMode)(int);
    void (*EndBlendMode)();
    void (*ClearBackground)(rl::Color);
    void (*DrawTextureRec)(rl::Texture, rl::Rectangle, rl::Vector2, rl::Color);
    void (*DrawTexturePro)(rl::Texture, rl::Rectangle, rl::Rectangle, rl::Vector2, float, rl::Color);
    bool (*IsWindowReady)();
};

template <auto member>
void store_address(Functions& functions, std::uintptr_t address) {
    using Pointer = std::remove_reference_t<decltype(functions.*member)>;
    functions.*member = reinterpret_cast<Pointer>(address);
}

struct DeclaredFunction {
    const char* name;
    const char* ctype;  // the binding's cname of the function pointer
    void (*store)(Functions&, std::uintptr_t);
};

constexpr DeclaredFunction declared_functions[] = {
    {"BeginTextureMode", "void(*)(struct RenderTexture)", store_address<&Functions::BeginTextureMode>},
    {"EndTextureMode", "void(*)()", store_address<&Functions::EndTextureMode>},
    {"BeginBlendMode", "void(*)(int)", store_address<&Functions::BeginBlendMode>},
    {"EndBlendMode", "void(*)()", store_address<&Functions::EndBlendMode>},
    {"ClearBackground", "void(*)(struct Color)", store_address<&Functions::ClearBackground>},
    {"DrawTextureRec", "void(*)(struct Texture, struct Rectangle, struct Vector2, struct Color)",
     store_address<&Functions::DrawTextureRec>},
    {"DrawTexturePro",
     "void(*)(struct Texture, struct Rectangle, struct Rectangle, struct Vector2, float, struct Color)",
     store_address<&Functions::DrawTexturePro>},
    {"IsWindowReady", "_Bool(*)()", store_address<&Functions::IsWindowReady>},
};

struct DeclaredField {
    const char* name;
    const char* ctype;
    std::size_t offset;
};

struct DeclaredStruct {
    const char* name;   // the binding's type name
    const char* cname;  // its C name
    std::size_t size;
    const DeclaredField* fields;
    std::size_t field_count;
};

#define KL_FIELD(type, field, ctype) DeclaredField{#field, ctype, offsetof(rl::type, field)}
constexpr DeclaredField texture_fields[] = {
    KL_FIELD(Texture, id, "unsigned int"), KL_FIELD(Texture, width, "int"),  KL_FIELD(Texture, height, "int"),
    KL_FIELD(Texture, mipmaps, "int"),     KL_FIELD(Texture, format, "int"),
};
constexpr DeclaredField render_texture_fields[] = {
    KL_FIELD(RenderTexture, id, "unsigned int"),
    KL_FIELD(RenderTexture, texture, "struct Texture"),
    KL_FIELD(RenderTexture, depth, "struct Texture"),
};
constexpr DeclaredField rectangle_fields[] = {
    KL_FIELD(Rectangle, x, "float"),
    KL_FIELD(Rectangle, y, "float"),
    KL_FIELD(Rectangle, width, "float"),
    KL_FIELD(Rectangle, height, "float"),
};
constexpr DeclaredField vector2_fields[] = {KL_FIELD(Vector2, x, "float"), KL_FIELD(Vector2, y, "float")};
constexpr DeclaredField color_fields[] = {
    KL_FIELD(Color, r, "unsigned char"),
    KL_FIELD(Color, g, "unsigned char"),
    KL_FIELD(Color, b, "unsigned char"),
    KL_FIELD(Color, a, "unsigned char"),
};
#undef KL_FIELD

enum StructIndex : std::size_t {
    texture_struct,
    render_texture_struct,
    rectangle_struct,
    vector2_struct,
    color_struct,
    struct_count
};

#define KL_STRUCT(type, fields) \
    DeclaredStruct { #type, "struct " #type, sizeof(rl::type), fields, std::size(fields) }
constexpr DeclaredStruct declared_structs[struct_count] = {
    KL_STRUCT(Texture, texture_fields),     KL_STRUCT(RenderTexture, render_texture_fields),
    KL_STRUCT(Rectangle, rectangle_fields), KL_STRUCT(Vector2, vector2_fields),
    KL_STRUCT(Color, color_fields),
};
#undef KL_STRUCT

// ------------------------------------------------------------ the binding

// cffi's C API: the table published by `_cffi_backend` as the capsule
// `_C_API` named "cffi". Entry 17 is `_cffi_to_c(dest, ctype, object)`:
// converts `object` to the C value of `ctype` at `dest`; 0, or -1 with an
// exception set. For a struct ctype it copies a cdata of exactly that ctype.
struct CTypeDescr;
using ToC = int (*)(char* dest, CTypeDescr* ctype, PyObject* object);
constexpr std::size_t cffi_to_c_index = 17;

struct Binding {
    Functions raylib{};
    ToC to_c = nullptr;
    Ref cdata_type;               // _cffi_backend._CDataBase: every cdata is one
    Ref typeof_cdata;             // _cffi_backend.typeof
    Ref ctypes[struct_count];     // the binding's CType of each struct
    Ref kl_render_texture_type;   // KlRenderTexture, drawn by fast_blit_pro
    Ref texture_name;             // "texture", interned

    CTypeDescr* ctype(StructIndex index) const { return reinterpret_cast<CTypeDescr*>(ctypes[index].get()); }
};

bool is_cdata(const Binding& binding, PyObject* object) {
    return PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(binding.cdata_type.get()));
}

// What of `_cffi_backend` is used only while a backend is made.
struct Cffi {
    Ref ctype_type;    // CType
    Ref sizeof_ctype;  // sizeof: a CType's own size
};

kl::Pinned<> binding_mismatch;  // the exception class

// Replaces the pending error, raised while asking the binding, by a
// BindingMismatch that says what was asked, with the error as its cause.
// Errors that are not about the binding (memory, interrupts) stay as they are.
void mismatch_from_pending(const char* format, ...) {
    if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) return;
    Ref cause = Ref::steal(PyErr_GetRaisedException());
    va_list values;
    va_start(values, format);
    Ref message = Ref::steal(PyUnicode_FromFormatV(format, values));
    va_end(values);
    if (!message) return;
    PyErr_Format(binding_mismatch.object(), "%U (%S)", message.get(), cause.get());
    Ref raised = Ref::steal(PyErr_GetRaisedException());
    if (!raised) return;
    PyException_SetCause(raised.get(), cause.release());
    PyErr_SetRaisedException(raised.release());
}

template <typename... Values>
bool mismatch(const char* format, Values... values) {
    PyErr_Format(binding_mismatch.object(), format, values...);
    return false;
}

bool str_equals(PyObject* object, const char* expected) {
    return PyUnicode_Check(object) && PyUnicode_EqualToUTF8(object, expected);
}

std::string without_struct_tags(std::string_view name) {
    constexpr std::string_view tag = "struct ";
    std::string plain;
    for (std::size_t at = 0; at < name.size();) {
        if (name.substr(at, tag.size()) == tag) {
            at += tag.size();
        } else {
            plain += name[at++];
        }
    }
    return plain;
}

// A C type name as the binding gives it, against the one assumed here. cffi
// calls a struct "struct Texture" in a compiled binding and "Texture" in one
// declared in-line; either names the struct whose layout is checked here.
bool same_ctype(PyObject* cname, const char* expected) {
    if (!PyUnicode_Check(cname)) return false;
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(cname, &length);
    if (!text) {
        PyErr_Clear();  // not UTF-8: not the name expected
        return false;
    }
    return without_struct_tags({text, static_cast<std::size_t>(length)}) == without_struct_tags(expected);
}

// A size or an offset the binding reported, as `out`; false with an
// exception set when it is not a non-negative int.
bool read_size(PyObject* number, Py_ssize_t& out) {
    out = PyLong_Check(number) ? PyLong_AsSsize_t(number) : -1;
    if (out >= 0) return true;
    if (PyErr_Occurred()) {
        mismatch_from_pending("the raylib binding reported %R where a size was expected", number);
        return false;
    }
    return mismatch("the raylib binding reported %R where a size was expected", number);
}

// `ffi.<method>(...)`: a question to the binding, answered by a new reference.
template <typename... Args>
Ref ask(PyObject* ffi, const char* method, const char* format, Args... args) {
    return Ref::steal(PyObject_CallMethod(ffi, method, format, args...));
}

bool check_field(PyObject* ffi, const DeclaredStruct& declared, std::size_t index, PyObject* item) {
    const DeclaredField& field = declared.fields[index];
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2 || !str_equals(PyTuple_GET_ITEM(item, 0), field.name)) {
        return mismatch("field %zu of %s in the raylib binding is %R; the native backend assumes '%s'", index,
                        declared.cname, item, field.name);
    }
    Ref field_type = Ref::steal(PyObject_GetAttrString(PyTuple_GET_ITEM(item, 1), "type"));
    Ref cname = field_type ? Ref::steal(PyObject_GetAttrString(field_type.get(), "cname")) : Ref();
    if (!cname) {
        mismatch_from_pending("the type of %s.%s in the raylib binding is unknown", declared.cname, field.name);
        return false;
    }
    if (!same_ctype(cname.get(), field.ctype)) {
        return mismatch("%s.%s is %R in the raylib binding; the native backend assumes '%s'", declared.cname, field.name,
                        cname.get(), field.ctype);
    }
    // Where the binding says the field is, and where the CType (whose layout
    // cffi's conversion follows) has it.
    Ref said = ask(ffi, "offsetof", "(ss)", declared.name, field.name);
    if (!said) {
        mismatch_from_pending("the raylib binding has no offset for %s.%s", declared.cname, field.name);
        return false;
    }
    Ref own = Ref::steal(PyObject_GetAttrString(PyTuple_GET_ITEM(item, 1), "offset"));
    if (!own) {
        mismatch_from_pending("the raylib binding's CType of %s has no offset for %s", declared.cname, field.name);
        return false;
    }
    for (PyObject* offset : {said.get(), own.get()}) {
        Py_ssize_t at = 0;
        if (!read_size(offset, at)) return false;
        if (static_cast<std::size_t>(at) != field.offset) {
            return mismatch("%s.%s is at offset %zd in the raylib binding; the native backend assumes %zu",
                            declared.cname, field.name, at, field.offset);
        }
    }
    return true;
}

// The binding's CType of one struct, once its layout is found to be the one
// declared above.
Ref checked_struct(PyObject* ffi, const DeclaredStruct& declared, const Cffi& cffi) {
    Ref ctype = ask(ffi, "typeof", "(s)", declared.name);
    if (!ctype) {
        mismatch_from_pending("the raylib binding has no type %s", declared.name);
        return Ref();
    }
    if (!PyObject_TypeCheck(ctype.get(), reinterpret_cast<PyTypeObject*>(cffi.ctype_type.get()))) {
        mismatch("the raylib binding's ffi.typeof('%s') is %R, not a cffi CType", declared.name, ctype.get());
        return Ref();
    }
    Ref cname = Ref::steal(PyObject_GetAttrString(ctype.get(), "cname"));
    if (!cname) return Ref();
    if (!same_ctype(cname.get(), declared.cname)) {
        mismatch("%s is %R in the raylib binding; the native backend assumes '%s'", declared.name, cname.get(),
                 declared.cname);
        return Ref();
    }
    Ref size = ask(ffi, "sizeof", "(O)", ctype.get());
    if (!size) {
        mismatch_from_pending("the raylib binding has no size for %s", declared.cname);
        return Ref();
    }
    Py_ssize_t bytes = 0;
    if (!read_size(size.get(), bytes)) return Ref();
    if (static_cast<std::size_t>(bytes) != declared.size) {
        mismatch("%s is %zd bytes in the raylib binding; the native backend assumes %zu", declared.cname, bytes,
                 declared.size);
        return Ref();
    }
    // cffi's conversion writes as many bytes as the CType itself says, whatever
    // the ffi answered: that size is checked too, so that it never writes
    // past the struct it is given.
    Ref own_size = Ref::steal(PyObject_CallOneArg(cffi.sizeof_ctype.get(), ctype.get()));
    if (!own_size || !read_size(own_size.get(), bytes)) return Ref();
    if (static_cast<std::size_t>(bytes) != declared.size) {
        mismatch("the raylib binding's CType of %s is %zd bytes; the native backend assumes %zu", declared.cname, bytes,
                 declared.size);
        return Ref();
    }
    Ref fields = Ref::steal(PyObject_GetAttrString(ctype.get(), "fields"));
    Ref items = fields ? Ref::steal(PySequence_Fast(fields.get(), "the fields of a struct")) : Ref();
    if (!items) {
        mismatch_from_pending("the raylib binding does not list the fields of %s", declared.cname);
        return Ref();
    }
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
    if (static_cast<std::size_t>(count) != declared.field_count) {
        mismatch("%s has %zd fields in the raylib binding; the native backend assumes %zu", declared.cname, count,
                 declared.field_count);
        return Ref();
    }
    for (std::size_t i = 0; i < declared.field_count; ++i) {
        // Held: asking the binding about a field may run its code.
        Ref item = Ref::newref(PySequence_Fast_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i)));
        if (!check_field(ffi, declared, i, item.get())) return Ref();
    }
    return ctype;
}

// The address of one of raylib's functions. Only the lookup is asked of the
// binding's `ffi`: the answer must be a cdata, whose type cffi itself reports
// and whose value cffi's own conversion reads, so nothing but a function
// pointer of the declared type is ever called.
bool find_function(PyObject* ffi, PyObject* lib, const DeclaredFunction& declared, Binding& binding,
                   const Cffi& cffi) {
    Ref pointer = ask(ffi, "addressof", "(Os)", lib, declared.name);
    if (!pointer) {
        mismatch_from_pending("the raylib binding has no function %s", declared.name);
        return false;
    }
    if (!is_cdata(binding, pointer.get())) {
        return mismatch("the raylib binding's ffi.addressof(lib, '%s') is %R, not a cffi cdata", declared.name,
                        pointer.get());
    }
    Ref ctype = Ref::steal(PyObject_CallOneArg(binding.typeof_cdata.get(), pointer.get()));
    Ref cname = ctype ? Ref::steal(PyObject_GetAttrString(ctype.get(), "cname")) : Ref();
    if (!cname) return false;
    if (!same_ctype(cname.get(), declared.ctype)) {
        return mismatch("%s is %R in the raylib binding; the native backend calls '%s'", declared.name, cname.get(),
                        declared.ctype);
    }
    Ref size = Ref::steal(PyObject_CallOneArg(cffi.sizeof_ctype.get(), ctype.get()));
    Py_ssize_t bytes = 0;
    if (!size || !read_size(size.get(), bytes)) return false;
    void* address = nullptr;
    if (static_cast<std::size_t>(bytes) != sizeof(address)) {
        return mismatch("%s is a pointer of %zd bytes in the raylib binding", declared.name, bytes);
    }
    if (binding.to_c(reinterpret_cast<char*>(&address), reinterpret_cast<CTypeDescr*>(ctype.get()), pointer.get()) < 0)
        return false;
    if (address == nullptr) return mismatch("the raylib binding gives %s no address", declared.name);
    declared.store(binding.raylib, reinterpret_cast<std::uintptr_t>(address));
    return true;
}

// One conversion through `to_c`, made once: a Color cdata must come out as
// its bytes, and must be refused as a Texture. Shows that the table entry is
// the conversion this backend relies on, type test included.
bool trial_conversion(PyObject* ffi, const Binding& binding) {
    Ref sample = ask(ffi, "new", "(s(iiii))", "Color *", 1, 2, 3, 4);
    Ref first = sample ? Ref::steal(PyLong_FromLong(0)) : Ref();
    Ref color = first ? Ref::steal(PyObject_GetItem(sample.get(), first.get())) : Ref();
    if (!color) {
        mismatch_from_pending("the raylib binding could not make a Color");
        return false;
    }
    rl::Color converted{};
    if (binding.to_c(reinterpret_cast<char*>(&converted), binding.ctype(color_struct), color.get()) < 0) {
        mismatch_from_pending("cffi's C-level conversion refused a Color");
        return false;
    }
    if (converted.r != 1 || converted.g != 2 || converted.b != 3 || converted.a != 4) {
        return mismatch("cffi's C-level conversion does not copy a Color as the native backend expects");
    }
    rl::Texture texture{};
    if (binding.to_c(reinterpret_cast<char*>(&texture), binding.ctype(texture_struct), color.get()) == 0) {
        return mismatch("cffi's C-level conversion takes a Color for a Texture");
    }
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    return true;
}

// cffi's C API and the types it checks cdata against.
bool find_cffi(Binding& binding, Cffi& cffi) {
    Ref module = Ref::steal(PyImport_ImportModule("_cffi_backend"));
    if (!module) {
        mismatch_from_pending("cffi's _cffi_backend cannot be imported");
        return false;
    }
    Ref capsule = Ref::steal(PyObject_GetAttrString(module.get(), "_C_API"));
    if (!capsule) {
        mismatch_from_pending("_cffi_backend publishes no C API");
        return false;
    }
    if (!PyCapsule_IsValid(capsule.get(), "cffi")) return mismatch("_cffi_backend._C_API is not cffi's C API capsule");
    auto table = static_cast<void* const*>(PyCapsule_GetPointer(capsule.get(), "cffi"));
    if (!table) return false;
    binding.to_c = reinterpret_cast<ToC>(table[cffi_to_c_index]);
    cffi.ctype_type = Ref::steal(PyObject_GetAttrString(module.get(), "CType"));
    cffi.sizeof_ctype = Ref::steal(PyObject_GetAttrString(module.get(), "sizeof"));
    binding.cdata_type = Ref::steal(PyObject_GetAttrString(module.get(), "_CDataBase"));
    binding.typeof_cdata = Ref::steal(PyObject_GetAttrString(module.get(), "typeof"));
    if (!cffi.ctype_type || !cffi.sizeof_ctype || !binding.cdata_type || !binding.typeof_cdata) {
        mismatch_from_pending("_cffi_backend lacks CType, sizeof, _CDataBase or typeof");
        return false;
    }
    if (!PyType_Check(cffi.ctype_type.get()) || !PyType_Check(binding.cdata_type.get()) || !binding.to_c) {
        return mismatch("_cffi_backend's CType and _CDataBase are not types");
    }
    return true;
}

bool find_kl_render_texture(Binding& binding) {
    Ref module = Ref::steal(PyImport_ImportModule("kelo_ui.fast.klrendertex.kl_render_tex"));
    Ref type = module ? Ref::steal(PyObject_GetAttrString(module.get(), "KlRenderTexture")) : Ref();
    if (!type) return false;
    if (!PyType_Check(type.get())) {
        PyErr_SetString(PyExc_TypeError, "kl_render_tex.KlRenderTexture is not a type");
        return false;
    }
    binding.kl_render_texture_type = std::move(type);
    binding.texture_name = Ref::steal(PyUnicode_InternFromString("texture"));
    return static_cast<bool>(binding.texture_name);
}

bool make_binding(PyObject* ffi, PyObject* lib, Binding& binding) {
    Cffi cffi;
    if (!find_cffi(binding, cffi)) return false;
    for (std::size_t i = 0; i < struct_count; ++i) {
        binding.ctypes[i] = checked_struct(ffi, declared_structs[i], cffi);
        if (!binding.ctypes[i]) return false;
    }
    for (const DeclaredFunction& declared : declared_functions)
        if (!find_function(ffi, lib, declared, binding, cffi)) return false;
    return trial_conversion(ffi, binding) && find_kl_render_texture(binding);
}

// ------------------------------------------------------------ conversions

// Where a value was given, for messages: "<function>: <parameter> ...".
struct Where {
    const char* function;
    const char* parameter;
};

// A cdata of the binding's struct, copied into `out` by cffi after its type
// test; anything else raises TypeError "... must be <expected>, not ...".
bool from_cdata(const Binding& binding, StructIndex index, PyObject* object, void* out, Where where,
                const char* expected) {
    if (!is_cdata(binding, object)) {
        PyErr_Format(PyExc_TypeError, "%s: %s must be %s, not %.200s", where.function, where.parameter, expected,
                     Py_TYPE(object)->tp_name);
        return false;
    }
    if (binding.to_c(static_cast<char*>(out), binding.ctype(index), object) == 0) [[likely]]
        return true;
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s: %s must be %s, not %R", where.function, where.parameter, expected,
                     object);
    }
    return false;
}

bool to_texture(const Binding& binding, PyObject* object, rl::Texture& out, Where where) {
    return from_cdata(binding, texture_struct, object, &out, where, "a raylib Texture");
}

// Calls item(value, i) for each of the `count` items of a sequence.
template <typename Item>
bool for_items(PyObject* object, Py_ssize_t count, Where where, const char* items, Item item) {
    if (PyTuple_CheckExact(object)) [[likely]] {
        if (PyTuple_GET_SIZE(object) == count) [[likely]] {
            for (Py_ssize_t i = 0; i < count; ++i)
                if (!item(PyTuple_GET_ITEM(object, i), i)) return false;
            return true;
        }
    } else if (!PySequence_Check(object)) {
        PyErr_Format(PyExc_TypeError, "%s: %s must be a sequence %s, not %.200s", where.function, where.parameter,
                     items, Py_TYPE(object)->tp_name);
        return false;
    }
    const Py_ssize_t size = PySequence_Size(object);
    if (size < 0) return false;
    if (size != count) {
        PyErr_Format(PyExc_ValueError, "%s: %s must have %zd items %s, not %zd", where.function, where.parameter,
                     count, items, size);
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        Ref value = Ref::steal(PySequence_GetItem(object, i));
        if (!value || !item(value.get(), i)) return false;
    }
    return true;
}

// A coordinate: any real number (float(), as cffi reads a float field); a
// finite value beyond a float's range raises OverflowError instead of
// turning into infinity.
bool float_item(PyObject* value, float& out, Where where, Py_ssize_t i) {
    double number;
    if (PyFloat_CheckExact(value)) {
        number = PyFloat_AS_DOUBLE(value);
    } else {
        // An exact int is read without the float object that float() makes.
        number = PyLong_CheckExact(value) ? PyLong_AsDouble(value) : PyFloat_AsDouble(value);
        if (number == -1.0 && PyErr_Occurred()) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "%s: %s[%zd] must be a number, not %.200s", where.function,
                             where.parameter, i, Py_TYPE(value)->tp_name);
            } else if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_OverflowError, "%s: %s[%zd] is too large for a 32-bit float", where.function,
                             where.parameter, i);
            }
            return false;
        }
    }
    if (std::isfinite(number) && std::fabs(number) > static_cast<double>(FLT_MAX)) {
        PyErr_Format(PyExc_OverflowError, "%s: %s[%zd] is too large for a 32-bit float", where.function,
                     where.parameter, i);
        return false;
    }
    out = static_cast<float>(number);
    return true;
}

// A colour channel: an integer (int, bool, or anything with __index__) of
// 0..255. Floats are refused and other values raise OverflowError, as cffi
// does for an unsigned char; nothing wraps.
bool channel_item(PyObject* value, unsigned char& out, Where where, Py_ssize_t i) {
    Ref index;
    PyObject* number = value;
    if (!PyLong_Check(value)) {
        index = Ref::steal(PyNumber_Index(value));
        if (!index) {
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "%s: %s[%zd] must be an integer of 0..255, not %.200s",
                             where.function, where.parameter, i, Py_TYPE(value)->tp_name);
            }
            return false;
        }
        number = index.get();
    }
    int overflow = 0;
    const long channel = PyLong_AsLongAndOverflow(number, &overflow);
    if (channel == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || channel < 0 || channel > 255) {
        PyErr_Format(PyExc_OverflowError, "%s: %s[%zd] is outside 0..255", where.function, where.parameter, i);
        return false;
    }
    out = static_cast<unsigned char>(channel);
    return true;
}

template <std::size_t count>
bool to_floats(const Binding& binding, StructIndex index, PyObject* object, float (&out)[count], Where where,
               const char* items, const char* expected) {
    if (!PyTuple_CheckExact(object) && is_cdata(binding, object)) {
        static_assert(sizeof(rl::Vector2) == 2 * sizeof(float) && sizeof(rl::Rectangle) == 4 * sizeof(float));
        return from_cdata(binding, index, object, out, where, expected);
    }
    return for_items(object, count, where, items,
                     [&](PyObject* value, Py_ssize_t i) { return float_item(value, out[i], where, i); });
}

bool to_vector2(const Binding& binding, PyObject* object, rl::Vector2& out, Where where) {
    float xy[2];
    if (!to_floats(binding, vector2_struct, object, xy, where, "(x, y)", "a sequence (x, y) or a raylib Vector2"))
        return false;
    out = {xy[0], xy[1]};
    return true;
}

bool to_rectangle(const Binding& binding, PyObject* object, rl::Rectangle& out, Where where) {
    float xywh[4];
    if (!to_floats(binding, rectangle_struct, object, xywh, where, "(x, y, width, height)",
                   "a sequence (x, y, width, height) or a raylib Rectangle"))
        return false;
    out = {xywh[0], xywh[1], xywh[2], xywh[3]};
    return true;
}

// None stands for `if_none`: white as a tint, blank as a clear colour.
bool to_color(const Binding& binding, PyObject* object, rl::Color& out, rl::Color if_none, Where where) {
    if (object == Py_None) {
        out = if_none;
        return true;
    }
    if (!PyTuple_CheckExact(object) && is_cdata(binding, object))
        return from_cdata(binding, color_struct, object, &out, where, "a sequence (r, g, b, a) or a raylib Color");
    unsigned char rgba[4];
    if (!for_items(object, 4, where, "(r, g, b, a)",
                   [&](PyObject* value, Py_ssize_t i) { return channel_item(value, rgba[i], where, i); }))
        return false;
    out = {rgba[0], rgba[1], rgba[2], rgba[3]};
    return true;
}

// ------------------------------------------------------------ drawing

struct BackendObject {
    PyObject_HEAD
    Binding binding;
};

const Binding& binding_of(PyObject* backend) { return reinterpret_cast<BackendObject*>(backend)->binding; }

// Tested after the arguments are converted (which may run Python code that
// closes the window) and right before the call: without a window raylib's
// drawing state is gone, and a call would write through freed memory.
bool window_ready(const Binding& binding, const char* function) {
    if (binding.raylib.IsWindowReady()) [[likely]]
        return true;
    PyErr_Format(PyExc_RuntimeError, "%s: raylib has no open window to draw into", function);
    return false;
}

// The whole texture at its own size, upside down when flipping: the source
// rectangle's height is negative then.
void draw_whole(const Binding& binding, const rl::Texture& texture, rl::Vector2 position, bool flip,
                rl::Color tint) {
    const float height = static_cast<float>(texture.height);
    binding.raylib.DrawTextureRec(texture, {0.0f, 0.0f, static_cast<float>(texture.width), flip ? -height : height},
                                  position, tint);
}

void draw_into(const Binding& binding, const rl::Texture& texture, rl::Rectangle source, rl::Rectangle dest,
               rl::Color tint) {
    binding.raylib.DrawTexturePro(texture, source, dest, rl::Vector2{0.0f, 0.0f}, 0.0f, tint);
}

// The texture that fast_blit_pro draws: a KlRenderTexture's or a
// RenderTexture's colour texture, or a Texture.
bool colour_texture(const Binding& binding, PyObject* object, rl::Texture& out) {
    constexpr const char* expected = "a raylib Texture, a raylib RenderTexture or a KlRenderTexture";
    if (PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(binding.kl_render_texture_type.get()))) {
        Ref texture = Ref::steal(PyObject_GetAttr(object, binding.texture_name.get()));
        return texture && from_cdata(binding, texture_struct, texture.get(), &out,
                                     {"fast_blit_pro", "texture.texture"}, "a raylib Texture");
    }
    if (is_cdata(binding, object)) {
        Ref ctype = Ref::steal(PyObject_CallOneArg(binding.typeof_cdata.get(), object));
        if (!ctype) return false;
        if (ctype.get() == binding.ctypes[render_texture_struct].get()) {
            rl::RenderTexture render_texture;
            if (!from_cdata(binding, render_texture_struct, object, &render_texture, {"fast_blit_pro", "texture"},
                            expected))
                return false;
            out = render_texture.texture;
            return true;
        }
    }
    return from_cdata(binding, texture_struct, object, &out, {"fast_blit_pro", "texture"}, expected);
}

bool fast_blit_pro(const Binding& binding, PyObject* texture_object, PyObject* dest, PyObject* flip_object,
                   PyObject* color) {
    constexpr const char* function = "fast_blit_pro";
    rl::Texture texture;
    if (!colour_texture(binding, texture_object, texture)) return false;
    Py_ssize_t size = 2;
    if (dest != Py_None) {
        size = PyTuple_CheckExact(dest) ? PyTuple_GET_SIZE(dest) : PyObject_Size(dest);
        if (size < 0) return false;
        if (size != 2 && size != 4) {
            kl::raise_invalid_dest(dest);
            return false;
        }
    }
    const int flip = PyObject_IsTrue(flip_object);
    if (flip < 0) return false;
    rl::Color tint;
    if (size == 2) {
        rl::Vector2 position{0.0f, 0.0f};
        if ((dest != Py_None && !to_vector2(binding, dest, position, {function, "dest"})) ||
            !to_color(binding, color, tint, white, {function, "color"}) || !window_ready(binding, function))
            return false;
        draw_whole(binding, texture, position, flip != 0, tint);
    } else {
        rl::Rectangle rectangle;
        if (!to_rectangle(binding, dest, rectangle, {function, "dest"}) ||
            !to_color(binding, color, tint, white, {function, "color"}) || !window_ready(binding, function))
            return false;
        const float height = static_cast<float>(texture.height);
        draw_into(binding, texture, {0.0f, 0.0f, static_cast<float>(texture.width), flip ? -height : height},
                  rectangle, tint);
    }
    return true;
}

// ------------------------------------------------------------ the type

PyObject* backend_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"ffi", "lib", nullptr};
    PyObject* ffi = nullptr;
    PyObject* lib = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:NativeBackend", const_cast<char**>(keywords), &ffi, &lib))
        return nullptr;
    Binding binding;
    if (!make_binding(ffi, lib, binding)) return nullptr;
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    // Nothing runs between the allocation and this: the binding is always
    // made when the object is seen.
    new (&self.as<BackendObject>()->binding) Binding(std::move(binding));
    return self.release();
}

void backend_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    reinterpret_cast<BackendObject*>(self)->binding.~Binding();
    Py_TYPE(self)->tp_free(self);
}

int backend_traverse(PyObject* self, visitproc visit, void* arg) {
    const Binding& binding = binding_of(self);
    Py_VISIT(binding.cdata_type.get());
    Py_VISIT(binding.typeof_cdata.get());
    for (const Ref& ctype : binding.ctypes) Py_VISIT(ctype.get());
    Py_VISIT(binding.kl_render_texture_type.get());
    return 0;
}

PyObject* method_c_clear_background(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_clear_background", nargs, 1)) return nullptr;
    clear_background(self, args[0]);
    return kl::none_unless_error();
}

PyObject* method_c_draw_texture_vec(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_draw_texture_vec", nargs, 4)) return nullptr;
    const int flip = PyObject_IsTrue(args[3]);
    if (flip < 0) return nullptr;
    draw_texture_vec(self, args[0], args[1], args[2], flip);
    return kl::none_unless_error();
}

PyObject* method_c_draw_texture_rec(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("c_draw_texture_rec", nargs, 4)) return nullptr;
    draw_texture_rec(self, args[0], args[1], args[2], args[3]);
    return kl::none_unless_error();
}

PyObject* method_begin_texture_mode(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("begin_texture_mode", nargs, 1)) return nullptr;
    begin_texture_mode(self, args[0]);
    return kl::none_unless_error();
}

PyObject* method_end_texture_mode(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("end_texture_mode", nargs, 0)) return nullptr;
    end_texture_mode(self);
    return kl::none_unless_error();
}

PyObject* method_begin_blend_mode(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("begin_blend_mode", nargs, 1)) return nullptr;
    int mode = 0;
    if (!kl::int_argument(args[0], mode)) return nullptr;
    begin_blend_mode(self, mode);
    return kl::none_unless_error();
}

PyObject* method_end_blend_mode(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (!kl::check_positional_count("end_blend_mode", nargs, 0)) return nullptr;
    end_blend_mode(self);
    return kl::none_unless_error();
}

PyObject* method_fast_blit_pro(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (!kl::check_positional_count("fast_blit_pro", nargs, 4)) return nullptr;
    if (!fast_blit_pro(binding_of(self), args[0], args[1], args[2], args[3])) return nullptr;
    Py_RETURN_NONE;
}

#define KL_METHOD(name, doc) \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_##name)), METH_FASTCALL, doc}

PyMethodDef backend_methods[] = {
    KL_METHOD(c_clear_background, "c_clear_background($self, color, /)\n--\n\nClear the current target; None is (0, 0, 0, 0)."),
    {"clear_background", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method_c_clear_background)),
     METH_FASTCALL, "clear_background($self, color, /)\n--\n\nClear the current target; None is (0, 0, 0, 0)."},
    KL_METHOD(c_draw_texture_vec, "c_draw_texture_vec($self, texture, dest, color, flip, /)\n--\n\n"
                                  "Draw a whole texture at the position dest, upside down when flip is true."),
    KL_METHOD(c_draw_texture_rec, "c_draw_texture_rec($self, texture, source, dest, color, /)\n--\n\n"
                                  "Draw the part source of a texture into the rectangle dest."),
    KL_METHOD(begin_texture_mode, "begin_texture_mode($self, render_texture, /)\n--\n\nDraw into a render texture."),
    KL_METHOD(end_texture_mode, "end_texture_mode($self, /)\n--\n\nEnd the active texture mode."),
    KL_METHOD(begin_blend_mode, "begin_blend_mode($self, mode, /)\n--\n\nDraw with one of raylib's blend modes."),
    KL_METHOD(end_blend_mode, "end_blend_mode($self, /)\n--\n\nEnd the active blend mode."),
    KL_METHOD(fast_blit_pro, "fast_blit_pro($self, texture, dest, flip, color, /)\n--\n\n"
                             "Draw a Texture, RenderTexture or KlRenderTexture at dest: None or (x, y) at its own "
                             "size, (x, y, w, h) scaled into that rectangle."),
    {nullptr, nullptr, 0, nullptr},
};

#undef KL_METHOD

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject backend_type = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "kelo_ui.fast.raylib.kelo_raylib.NativeBackend",
    .tp_basicsize = sizeof(BackendObject),
    .tp_dealloc = backend_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    .tp_doc = "NativeBackend(ffi, lib)\n--\n\n"
              "The drawing backend that calls raylib's C functions directly. Takes their addresses from the "
              "binding's cffi `ffi` and `lib` once, after checking that the binding's structs and functions are "
              "the ones it was written for; raises BindingMismatch otherwise.",
    .tp_traverse = backend_traverse,
    .tp_methods = backend_methods,
    .tp_new = backend_new,
};
#pragma GCC diagnostic pop

void clear_background(PyObject* backend, PyObject* color) {
    constexpr const char* function = "c_clear_background";
    const Binding& binding = binding_of(backend);
    rl::Color clear;
    if (!to_color(binding, color, clear, blank, {function, "color"}) || !window_ready(binding, function)) return;
    binding.raylib.ClearBackground(clear);
}

void draw_texture_vec(PyObject* backend, PyObject* texture_object, PyObject* dest, PyObject* color, int flip) {
    constexpr const char* function = "c_draw_texture_vec";
    const Binding& binding = binding_of(backend);
    rl::Texture texture;
    rl::Vector2 position;
    rl::Color tint;
    if (!to_texture(binding, texture_object, texture, {function, "texture"}) ||
        !to_vector2(binding, dest, position, {function, "dest"}) ||
        !to_color(binding, color, tint, white, {function, "color"}) || !window_ready(binding, function))
        return;
    draw_whole(binding, texture, position, flip != 0, tint);
}

void draw_texture_rec(PyObject* backend, PyObject* texture_object, PyObject* source_object, PyObject* dest_object,
                      PyObject* color) {
    constexpr const char* function = "c_draw_texture_rec";
    const Binding& binding = binding_of(backend);
    rl::Texture texture;
    rl::Rectangle source;
    rl::Rectangle dest;
    rl::Color tint;
    if (!to_texture(binding, texture_object, texture, {function, "texture"}) ||
        !to_rectangle(binding, source_object, source, {function, "source"}) ||
        !to_rectangle(binding, dest_object, dest, {function, "dest"}) ||
        !to_color(binding, color, tint, white, {function, "color"}) || !window_ready(binding, function))
        return;
    draw_into(binding, texture, source, dest, tint);
}

void begin_texture_mode(PyObject* backend, PyObject* render_texture_object) {
    constexpr const char* function = "begin_texture_mode";
    const Binding& binding = binding_of(backend);
    rl::RenderTexture render_texture;
    if (!from_cdata(binding, render_texture_struct, render_texture_object, &render_texture,
                    {function, "render_texture"}, "a raylib RenderTexture") ||
        !window_ready(binding, function))
        return;
    binding.raylib.BeginTextureMode(render_texture);
}

void end_texture_mode(PyObject* backend) {
    const Binding& binding = binding_of(backend);
    if (window_ready(binding, "end_texture_mode")) binding.raylib.EndTextureMode();
}

void begin_blend_mode(PyObject* backend, int blend_mode) {
    const Binding& binding = binding_of(backend);
    if (window_ready(binding, "begin_blend_mode")) binding.raylib.BeginBlendMode(blend_mode);
}

void end_blend_mode(PyObject* backend) {
    const Binding& binding = binding_of(backend);
    if (window_ready(binding, "end_blend_mode")) binding.raylib.EndBlendMode();
}

bool add_to_module(PyObject* module) {
    Ref mismatch_class = Ref::steal(PyErr_NewExceptionWithDoc(
        "kelo_ui.fast.raylib.kelo_raylib.BindingMismatch",
        "The installed raylib binding is not the one the native backend was written for.", PyExc_RuntimeError,
        nullptr));
    if (!mismatch_class || PyModule_AddObjectRef(module, "BindingMismatch", mismatch_class.get()) < 0) return false;
    binding_mismatch.set(std::move(mismatch_class));
    if (PyType_Ready(&backend_type) < 0) return false;
    return PyModule_AddObjectRef(module, "NativeBackend", reinterpret_cast<PyObject*>(&backend_type)) == 0;
}

}  // namespace kelo_raylib::native
