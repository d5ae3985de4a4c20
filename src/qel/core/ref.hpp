// Owning references.
//
// Rules, kept everywhere outside this folder:
//  * A C API call that returns a new reference goes straight into Ref::adopt().
//  * A borrowed pointer that must outlive its source goes into Ref::retain().
//  * Plain `PyObject*` in code outside core/ is always borrowed and never
//    decref'd.
//  * The raw pointer is reached only through get() (borrow) or release()
//    (hand the reference to the interpreter, e.g. as a slot's return value).
// A Ref that is empty after a call that produces one means "a Python error is
// set" -- the same convention the C API uses for NULL -- and nothing else. A
// fast path that may not apply returns an Outcome instead (below), so that
// "not done here" never needs PyErr_Occurred() to be told from a failure.
#pragma once

#include "core/compat.hpp"

#include <utility>

namespace qel::core {

class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}

    /// Takes over a new reference (may be null, meaning an error is set).
    static Ref adopt(PyObject* o) noexcept { return Ref(o); }
    /// Adds a reference to a borrowed pointer (may be null).
    static Ref retain(PyObject* o) noexcept { Py_XINCREF(o); return Ref(o); }

    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref other) noexcept { std::swap(p_, other.p_); return *this; }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    /// Drops the reference early (before a call that may run arbitrary code).
    void reset() noexcept { Py_CLEAR(p_); }

private:
    explicit Ref(PyObject* o) noexcept : p_(o) {}
    PyObject* p_ = nullptr;
};

/// What a fast path gives back: its result, or word that it was declined --
/// it does not apply, did nothing and set no error, and the caller takes the
/// general way. The result is a Ref like any other: empty only with an error
/// set. There is no default value; each return says which it is.
class Outcome {
public:
    /// The fast path applied; `result` is what it made (empty: an error is set).
    Outcome(Ref result) noexcept : result_(std::move(result)), handled_(true) {}
    /// The fast path does not apply; no error is set.
    static Outcome declined() noexcept { return Outcome(Declined{}); }

    bool handled() const noexcept { return handled_; }
    /// The result (borrowed); only for an outcome that was handled.
    PyObject* get() const noexcept { return result_.get(); }
    /// The result, handed over; only for an outcome that was handled.
    Ref take() noexcept { return std::move(result_); }

private:
    struct Declined {};
    explicit Outcome(Declined) noexcept {}
    Ref result_;
    bool handled_ = false;
};

/// A new reference to None, for functions that return nothing.
inline Ref none() { return Ref::retain(Py_None); }

/// A process-wide interned name, made on first use. The module lives in one
/// interpreter per process, so interned strings can be kept for its lifetime.
class Name {
public:
    constexpr explicit Name(const char* text) : text_(text) {}
    /// Borrowed; null (with MemoryError set) only if interning failed.
    PyObject* get() const {
        if (!object_) object_ = PyUnicode_InternFromString(text_);
        return object_;
    }
    const char* text() const { return text_; }

private:
    const char* text_;
    mutable PyObject* object_ = nullptr;
};

}  // namespace qel::core
