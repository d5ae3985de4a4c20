#include "module/frame.hpp"

#include "core/klass.hpp"
#include "core/names.hpp"
#include "module/import_from.hpp"

namespace qel::module::frame {

int bind_version(const Globals& g) {
    return g.set(names::qel_version, Ref::adopt(PyFloat_FromDouble(2.2)));
}

int import_standard_modules(const Globals& g) {
    for (const Name* name : {&names::socket, &names::json, &names::sys, &names::os}) {
        if (g.set(*name, Ref::adopt(PyImport_Import(name->get()))) < 0) return -1;
    }
    return 0;
}

int import_helpers(const Globals& g) {
    if (g.set(names::ascii_uppercase, import_from(g, "string", "ascii_uppercase")) < 0) return -1;
    if (g.set(names::print_stack, import_from(g, "traceback", "print_stack")) < 0) return -1;
    return g.set(names::rd, import_from(g, "random", "randint"));
}

int define_vanilla(const Globals& g) {
    // Taken before the module binds its own `str` and `json`, so these are the
    // interpreter's string type and the standard json module.
    ClassBuilder vanilla(g, "vanilla", "vanilla",
                         "用于储存已被修改数据类型的原版类型. The original type used to store the modified data type.");
    vanilla.add("str", g.get(names::str)).add("json", g.get(names::json));
    return g.set(names::vanilla, vanilla.build());
}

int on_windows(const Globals& g) {
    Ref sys = g.get(names::sys);
    if (!sys) return -1;
    Ref platform = Ref::adopt(PyObject_GetAttrString(sys.get(), "platform"));
    Ref win32 = Ref::adopt(PyUnicode_FromString("win32"));
    if (!platform || !win32) return -1;
    return PyObject_RichCompareBool(platform.get(), win32.get(), Py_EQ);
}

int rewrite_file_path(const Globals& g) {
    int windows = on_windows(g);
    if (windows <= 0) return windows;
    Ref path = g.get(names::file);
    if (!path) return -1;
    Ref slashed = Ref::adopt(PyObject_CallMethod(path.get(), "replace", "ss", "\\", "/"));
    if (!slashed) return -1;
    Ref str = g.get(names::str);
    if (!str) return -1;
    return g.set(names::file, Ref::adopt(PyObject_CallOneArg(str.get(), slashed.get())));
}

}  // namespace qel::module::frame
