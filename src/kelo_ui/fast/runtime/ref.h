// Owned object references.
//
// Ref owns one strong reference and releases it exactly once: when it is
// destroyed, reassigned, or handed on with release(); a plain PyObject* is
// a borrowed reference, valid while its owner keeps it. Pinned holds
// process-wide state for the life of the process: it is never released, so
// that no static destructor touches the interpreter after it has been
// finalised.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kl {

class Ref {
public:
    constexpr Ref() noexcept = default;

    // Take over a new reference (a C-API result); null is allowed.
    static Ref steal(PyObject* object) noexcept {
        Ref ref;
        ref.object_ = object;
        return ref;
    }
    // Take a new strong reference to a borrowed object; null is allowed.
    static Ref newref(PyObject* object) noexcept {
        Py_XINCREF(object);
        return steal(object);
    }

    Ref(Ref&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    Ref& operator=(Ref&& other) noexcept {
        PyObject* old = object_;
        object_ = other.object_;
        other.object_ = nullptr;
        Py_XDECREF(old);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    template <typename T>
    T* as() const noexcept {
        return reinterpret_cast<T*>(object_);
    }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hand the reference on (to a caller, or to a stealing C-API call).
    [[nodiscard]] PyObject* release() noexcept {
        PyObject* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    PyObject* object_ = nullptr;
};

// Process-wide state written once at start-up and kept until the process
// ends. Assigning over a previous value (a retried start-up) releases it.
template <typename T = PyObject>
class Pinned {
public:
    constexpr Pinned() noexcept = default;
    Pinned(const Pinned&) = delete;
    Pinned& operator=(const Pinned&) = delete;

    void set(Ref ref) noexcept {
        PyObject* old = reinterpret_cast<PyObject*>(object_);
        object_ = reinterpret_cast<T*>(ref.release());
        Py_XDECREF(old);
    }
    T* get() const noexcept { return object_; }
    PyObject* object() const noexcept { return reinterpret_cast<PyObject*>(object_); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

}  // namespace kl
