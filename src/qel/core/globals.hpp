// The module namespace as the module's own functions see it: names are looked
// up when a function runs, in the module dict first and then in the builtins,
// so rebinding a module attribute from outside changes later calls.
#pragma once

#include "core/ref.hpp"

namespace qel::core {

/// Looks `name` up in `globals`, then in `builtins`; NameError when absent.
Ref lookup_global(PyObject* globals, PyObject* builtins, PyObject* name);

/// The namespace of the module being built, handed to every step of the body.
class Globals {
public:
    explicit Globals(PyObject* module);

    PyObject* module() const { return module_; }
    PyObject* dict() const { return dict_; }
    PyObject* builtins() const { return builtins_; }

    /// The current meaning of a global name (module dict, then builtins).
    Ref get(const Name& name) const { return lookup_global(dict_, builtins_, name.get()); }
    /// Binds a module global; -1 with an exception set on failure (or if value is empty).
    int set(const Name& name, const Ref& value) const;
    /// Unbinds a module global; KeyError-free only if the name is bound.
    int remove(const Name& name) const;

private:
    PyObject* module_;   // borrowed: the module outlives the body that builds it
    PyObject* dict_;     // borrowed from the module
    PyObject* builtins_; // borrowed from the interpreter
};

}  // namespace qel::core
