#include "kelo_ui/fast/runtime/traceback.h"

#include <frameobject.h>

#include <new>
#include <string>
#include <unordered_map>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {
namespace {

// The code object of each entry, made once per function and line and kept for
// the life of the process (making it is most of an entry's cost). The frame is
// new for every entry: tracebacks must not share one.
struct EntryKey {
    std::string funcname;
    std::string filename;
    int lineno;
    bool operator==(const EntryKey&) const = default;
};

struct EntryKeyHash {
    std::size_t operator()(const EntryKey& key) const noexcept {
        return std::hash<std::string>{}(key.funcname) ^ (std::hash<std::string>{}(key.filename) << 1) ^
               static_cast<std::size_t>(key.lineno);
    }
};

std::unordered_map<EntryKey, Pinned<>, EntryKeyHash>* codes = nullptr;

Ref make_entry_code(const char* funcname, const char* filename, int lineno) {
    return Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, funcname, lineno)));
}

// A new reference to the entry's code object, or null.
Ref entry_code(const char* funcname, const char* filename, int lineno) noexcept {
    try {
        if (codes == nullptr) codes = new std::unordered_map<EntryKey, Pinned<>, EntryKeyHash>();
        EntryKey key{funcname, filename, lineno};
        auto found = codes->find(key);
        if (found != codes->end()) return Ref::newref(found->second.object());
        Ref code = make_entry_code(funcname, filename, lineno);
        if (code) (*codes)[std::move(key)].set(Ref::newref(code.get()));
        return code;
    } catch (const std::bad_alloc&) {
        // Out of C++ memory: the entry is made without the cache.
        return make_entry_code(funcname, filename, lineno);
    }
}

}  // namespace

void add_traceback(const char* funcname, const char* filename, PyObject* globals, int lineno) {
    // Building the frame runs C-API calls that must not see the pending
    // exception; it is set aside and put back before the entry is added.
    Ref pending = Ref::steal(PyErr_GetRaisedException());
    Ref code = entry_code(funcname, filename, lineno);
    Ref namespace_ = globals != nullptr ? Ref::newref(globals) : Ref::steal(PyDict_New());
    Ref frame;
    if (code && namespace_) {
        frame = Ref::steal(reinterpret_cast<PyObject*>(
            PyFrame_New(PyThreadState_Get(), code.as<PyCodeObject>(), namespace_.get(), nullptr)));
    }
    PyErr_Clear();  // a failure to build the entry must not replace the real error
    PyErr_SetRaisedException(pending.release());
    if (frame) {
        PyTraceBack_Here(frame.as<PyFrameObject>());
    }
}

}  // namespace kl
