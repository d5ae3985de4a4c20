#include "core/klass.hpp"

namespace qel::core {

ClassBuilder::ClassBuilder(const Globals& globals, const char* name, const char* qualname, const char* doc)
    : globals_(globals), name_(name), qualname_(qualname), ns_(Ref::adopt(PyDict_New())) {
    // The order a class statement gives: __module__, __qualname__, then __doc__.
    // __module__ must be explicit: type() would otherwise take it from the
    // calling frame, which here is the import machinery.
    failed_ = !ns_;
    add("__module__", Ref::adopt(PyUnicode_FromString("qel")));
    add("__qualname__", Ref::adopt(PyUnicode_FromString(qualname)));
    if (doc) add("__doc__", Ref::adopt(PyUnicode_FromString(doc)));
}

ClassBuilder& ClassBuilder::add(const char* name, const Ref& value) {
    if (failed_) return *this;
    failed_ = !value || PyDict_SetItemString(ns_.get(), name, value.get()) < 0;
    return *this;
}

ClassBuilder& ClassBuilder::add(const FunctionDef& definition, std::optional<Ref> defaults,
                                std::optional<Ref> annotations) {
    if (failed_) return *this;
    return add(definition.name, make_function(definition, globals_, qualname_.c_str(), std::move(defaults),
                                        std::move(annotations)));
}

ClassBuilder& ClassBuilder::remove(const char* name) {
    if (failed_) return *this;
    failed_ = PyDict_DelItemString(ns_.get(), name) < 0;
    return *this;
}

Ref ClassBuilder::build(PyObject* bases) {
    if (failed_) return {};
    Ref base_tuple = bases ? Ref::retain(bases) : Ref::adopt(PyTuple_New(0));
    if (!base_tuple) return {};
    return Ref::adopt(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "sOO", name_.c_str(),
                                            base_tuple.get(), ns_.get()));
}

Ref return_annotation(PyObject* value) {
    Ref d = Ref::adopt(PyDict_New());
    if (!d || PyDict_SetItemString(d.get(), "return", value) < 0) return {};
    return d;
}

}  // namespace qel::core
