// Classes made by calling the interpreter's `type(name, bases, namespace)`,
// exactly as a class statement does, so that the metaclass, instance dicts,
// subclassing and special-method slots behave as for classes written in Python.
//
// The builder keeps the first error: after a failed add() the later calls do
// nothing and build() returns an empty Ref, so a class reads as a list of its
// attributes in definition order with one check at the end.
#pragma once

#include "core/function.hpp"

#include <string>

namespace qel::core {

class ClassBuilder {
public:
    /// `qualname` is the dotted path from the module ("__string__.qel");
    /// `doc` is the class docstring, or null for a class without one.
    ClassBuilder(const Globals& globals, const char* name, const char* qualname, const char* doc);

    /// Adds a class attribute (the value may be empty, meaning an error is set).
    ClassBuilder& add(const char* name, const Ref& value);
    /// Adds a function named definition.name whose qualname is under this class.
    /// `defaults` and `annotations` as make_function takes them.
    ClassBuilder& add(const FunctionDef& definition, std::optional<Ref> defaults = {},
                      std::optional<Ref> annotations = {});
    /// Removes an attribute again (as `del name` in a class body).
    ClassBuilder& remove(const char* name);

    /// The namespace so far (borrowed), for steps that run inside a class body.
    PyObject* ns() const { return ns_.get(); }
    const Globals& globals() const { return globals_; }
    const char* qualname() const { return qualname_.c_str(); }
    bool failed() const { return failed_; }

    /// Calls type(name, bases, namespace); bases may be null for no bases.
    Ref build(PyObject* bases = nullptr);

private:
    const Globals& globals_;
    std::string name_;
    std::string qualname_;
    Ref ns_;
    bool failed_ = false;
};

/// One-argument annotations dict {"return": value}, for methods that carry a
/// return annotation.
Ref return_annotation(PyObject* value);

}  // namespace qel::core
