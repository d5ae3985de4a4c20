// A native function type that behaves like a function written in Python:
// __name__, __qualname__, __module__, __doc__, __defaults__, __kwdefaults__,
// __annotations__, __dict__, __globals__; bound to an instance when found on a
// class through that instance; arguments by position or keyword with the
// interpreter's own TypeError texts; a signature for inspect and help(); vectorcall.
#pragma once

#include "core/globals.hpp"

#include <array>
#include <cstddef>
#include <optional>

namespace qel::core {

struct FunctionObject;
class Call;

/// The body of a native function: gets every parameter bound, returns a new
/// reference, or an empty Ref with a Python exception set.
using Impl = Ref (*)(const Call&);

inline constexpr std::size_t max_params = 6;

/// What a function is, fixed at compile time. One static instance per function.
struct FunctionDef {
    const char* name;
    std::array<const char*, max_params> params;  // unused entries stay null
    Impl impl;
    const char* doc = nullptr;        // null: the function has no docstring
    int positional_only = 0;          // leading parameters that refuse keywords

    constexpr std::size_t param_count() const {
        std::size_t n = 0;
        while (n < params.size() && params[n]) ++n;
        return n;
    }
};

/// A running call: the bound parameters and the function's module namespace.
class Call {
public:
    Call(FunctionObject* function, PyObject* const* args, PyObject* globals)
        : function_(function), args_(args), globals_(globals) {}

    /// Parameter i, borrowed; every parameter is bound (defaults filled in).
    PyObject* arg(std::size_t i) const { return args_[i]; }
    /// The current meaning of a module global (module dict, then builtins).
    Ref global(const Name& name) const;
    /// A built-in as it is now, skipping the module namespace (the builtins
    /// the function was made with).
    Ref builtin(const Name& name) const;
    /// The module dict the function looks its globals up in (borrowed).
    PyObject* globals_dict() const { return globals_; }

private:
    FunctionObject* function_;
    PyObject* const* args_;
    PyObject* globals_;  // the function's, held by it for the call
};

/// Makes a function whose __qualname__ is `qualname_prefix.name`, or just the
/// name when the prefix is null. `defaults` (a tuple) and `annotations` (a dict)
/// may be absent (`{}`); one that is present but empty means making it failed,
/// and the error it set is passed on.
Ref make_function(const FunctionDef& definition, const Globals& globals, const char* qualname_prefix,
                  std::optional<Ref> defaults = {}, std::optional<Ref> annotations = {});

/// Whether `o` is one of this module's functions, optionally a given one.
bool is_function(PyObject* o, const FunctionDef* definition = nullptr);

/// Whether `method` is `self` bound to one of this module's functions, the
/// given one (so a call through it runs that function on `self`).
inline bool is_bound_function(PyObject* method, PyObject* self, const FunctionDef* definition) {
    return PyMethod_Check(method) && PyMethod_GET_SELF(method) == self &&
           is_function(PyMethod_GET_FUNCTION(method), definition);
}

/// The current __defaults__ of one of this module's functions (borrowed, may be null).
PyObject* function_defaults(PyObject* function);

/// Ready the type once per process; -1 with an exception set on failure.
int ready_function_type();

}  // namespace qel::core
