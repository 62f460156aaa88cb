// The one-time binding check of the window context (binding_check.h).
#include "kelo_ui/fast/raylib/private/binding_check.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace kelo_raylib::native {

kl::Pinned<> binding_mismatch;

namespace {

// What of `_cffi_backend` is used only while the binding is checked.
struct Cffi {
    Ref ctype_type;    // CType
    Ref sizeof_ctype;  // sizeof: a CType's own size
};

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
        return mismatch("field %zu of %s in the raylib binding is %R; kelo_ui assumes '%s'", index, declared.cname,
                        item, field.name);
    }
    Ref field_type = Ref::steal(PyObject_GetAttrString(PyTuple_GET_ITEM(item, 1), "type"));
    Ref cname = field_type ? Ref::steal(PyObject_GetAttrString(field_type.get(), "cname")) : Ref();
    if (!cname) {
        mismatch_from_pending("the type of %s.%s in the raylib binding is unknown", declared.cname, field.name);
        return false;
    }
    if (!same_ctype(cname.get(), field.ctype)) {
        return mismatch("%s.%s is %R in the raylib binding; kelo_ui assumes '%s'", declared.cname, field.name,
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
            return mismatch("%s.%s is at offset %zd in the raylib binding; kelo_ui assumes %zu", declared.cname,
                            field.name, at, field.offset);
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
        mismatch("%s is %R in the raylib binding; kelo_ui assumes '%s'", declared.name, cname.get(), declared.cname);
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
        mismatch("%s is %zd bytes in the raylib binding; kelo_ui assumes %zu", declared.cname, bytes, declared.size);
        return Ref();
    }
    // cffi's conversion writes as many bytes as the CType itself says, whatever
    // the ffi answered: that size is checked too, so that it never writes
    // past the struct it is given.
    Ref own_size = Ref::steal(PyObject_CallOneArg(cffi.sizeof_ctype.get(), ctype.get()));
    if (!own_size || !read_size(own_size.get(), bytes)) return Ref();
    if (static_cast<std::size_t>(bytes) != declared.size) {
        mismatch("the raylib binding's CType of %s is %zd bytes; kelo_ui assumes %zu", declared.cname, bytes,
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
        mismatch("%s has %zd fields in the raylib binding; kelo_ui assumes %zu", declared.cname, count,
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
bool find_function(PyObject* ffi, PyObject* lib, const DeclaredFunction& declared, Binding& binding, const Cffi& cffi) {
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
        return mismatch("%s is %R in the raylib binding; kelo_ui calls '%s'", declared.name, cname.get(),
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
// the conversion the context relies on, type test included.
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
        return mismatch("cffi's C-level conversion does not copy a Color as kelo_ui expects");
    }
    const auto* head = reinterpret_cast<const CDataHead*>(color.get());
    if (head->c_type != binding.ctype(color_struct) || head->c_data == nullptr ||
        std::memcmp(head->c_data, &converted, sizeof converted) != 0) {
        return mismatch("cffi's cdata objects are not laid out as kelo_ui expects");
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

// raylib's BlendMode must be the numbers 0 to blend_mode_count - 1, which
// the context accepts and no others.
bool check_blend_modes(PyObject* ffi) {
    Ref ctype = ask(ffi, "typeof", "(s)", "BlendMode");
    Ref elements = ctype ? Ref::steal(PyObject_GetAttrString(ctype.get(), "elements")) : Ref();
    if (!elements) {
        mismatch_from_pending("the raylib binding has no enum BlendMode");
        return false;
    }
    if (!PyDict_Check(elements.get())) return mismatch("the raylib binding's BlendMode lists %R", elements.get());
    bool known[blend_mode_count] = {};
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (Py_ssize_t at = 0; PyDict_Next(elements.get(), &at, &key, &value);) {
        const long mode = PyLong_Check(key) ? PyLong_AsLong(key) : -1;
        if (mode == -1 && PyErr_Occurred()) PyErr_Clear();
        if (mode < 0 || mode >= blend_mode_count) {
            return mismatch("the raylib binding's BlendMode has %R; kelo_ui assumes 0 to %d", key,
                            blend_mode_count - 1);
        }
        known[mode] = true;
    }
    for (int mode = 0; mode < blend_mode_count; ++mode)
        if (!known[mode]) return mismatch("the raylib binding's BlendMode lacks %d", mode);
    return true;
}

}  // namespace

bool make_binding(PyObject* ffi, PyObject* lib, Binding& binding) {
    Cffi cffi;
    if (!find_cffi(binding, cffi)) return false;
    for (std::size_t i = 0; i < struct_count; ++i) {
        binding.ctypes[i] = checked_struct(ffi, declared_structs[i], cffi);
        if (!binding.ctypes[i]) return false;
    }
    for (const DeclaredFunction& declared : declared_functions)
        if (!find_function(ffi, lib, declared, binding, cffi)) return false;
    if (!check_blend_modes(ffi) || !trial_conversion(ffi, binding) || !find_kl_render_texture(binding)) return false;
    binding.cast = Ref::steal(PyObject_GetAttrString(ffi, "cast"));
    binding.texture_pointer = ask(ffi, "typeof", "(s)", "Texture *");
    binding.render_texture_pointer = ask(ffi, "typeof", "(s)", "RenderTexture *");
    binding.new_ = Ref::steal(PyObject_GetAttrString(ffi, "new"));
    binding.float_pointer = ask(ffi, "typeof", "(s)", "float *");
    binding.void_pointer = ask(ffi, "typeof", "(s)", "void *");
    binding.sizeof_ = Ref::steal(PyObject_GetAttrString(ffi, "sizeof"));
    if (!binding.cast || !binding.texture_pointer || !binding.render_texture_pointer || !binding.new_ ||
        !binding.float_pointer || !binding.void_pointer || !binding.sizeof_) {
        mismatch_from_pending("the raylib binding cannot make views of its Texture and RenderTexture");
        return false;
    }
    return true;
}

}  // namespace kelo_raylib::native
