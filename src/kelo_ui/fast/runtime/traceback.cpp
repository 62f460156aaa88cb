#include "kelo_ui/fast/runtime/traceback.h"

#include <frameobject.h>

#include <new>
#include <string>
#include <unordered_map>

#include "kelo_ui/fast/runtime/ref.h"

namespace kl {
namespace {

// The frame of each entry, made once per function and line and kept for the
// life of the process. A frame that never runs carries nothing but its code
// and an empty namespace, so every traceback of that function may share it.
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

std::unordered_map<EntryKey, Pinned<>, EntryKeyHash>* frames = nullptr;
Pinned<> frame_globals;  // the entries' frames share one empty namespace

Ref make_frame(const char* funcname, const char* filename, int lineno) {
    if (!frame_globals) frame_globals.set(Ref::steal(PyDict_New()));
    if (!frame_globals) return {};
    Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, funcname, lineno)));
    if (!code) return {};
    return Ref::steal(reinterpret_cast<PyObject*>(
        PyFrame_New(PyThreadState_Get(), code.as<PyCodeObject>(), frame_globals.object(), nullptr)));
}

// A new reference to the entry's frame, or null.
Ref entry_frame(const char* funcname, const char* filename, int lineno) noexcept {
    try {
        if (frames == nullptr) frames = new std::unordered_map<EntryKey, Pinned<>, EntryKeyHash>();
        EntryKey key{funcname, filename, lineno};
        auto found = frames->find(key);
        if (found != frames->end()) return Ref::newref(found->second.object());
        Ref frame = make_frame(funcname, filename, lineno);
        if (frame) (*frames)[std::move(key)].set(Ref::newref(frame.get()));
        return frame;
    } catch (const std::bad_alloc&) {
        // Out of C++ memory: the entry is made without the cache.
        return make_frame(funcname, filename, lineno);
    }
}

}  // namespace

void add_traceback(const char* funcname, const char* filename, int lineno) {
    // Building the frame runs C-API calls that must not see the pending
    // exception; it is set aside and put back before the entry is added.
    Ref pending = Ref::steal(PyErr_GetRaisedException());
    Ref frame = entry_frame(funcname, filename, lineno);
    PyErr_Clear();  // a failure to build the entry must not replace the real error
    PyErr_SetRaisedException(pending.release());
    if (frame) {
        PyTraceBack_Here(frame.as<PyFrameObject>());
    }
}

}  // namespace kl
