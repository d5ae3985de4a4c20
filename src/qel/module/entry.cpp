// The extension's entry point: multi-phase initialisation whose create slot
// hands back the finished module on every later import, and whose exec slot
// runs the module body once.
#include "core/function.hpp"
#include "core/process.hpp"
#include "module/module.hpp"

namespace qel::module {
namespace {

const char module_doc[] =
    "导入QEL前使用os库设置os.environ[\"qel.no_info\"]为1可隐藏库信息并跳过版本检测, "
    "设置os.environ[\"qel.no_check\"]为1可仅跳过版本检测. "
    "Use os library settings before importing QEL os.environ[\"qel.no_info\"] to 1 to hide library "
    "information and skip version detection, os.environ[\"qel.no_check\"] to 1 only version checking "
    "will be skipped";

PyObject* create_module(PyObject* module_spec, PyModuleDef*) noexcept {
    if (process::claim_interpreter() < 0) return nullptr;
    // A second import, one after removal from sys.modules, or a reload: the
    // same module object, and nothing runs again.
    if (PyObject* done = process::finished_module()) return Py_NewRef(done);
    // A first attempt, or a new one after a failed import: a fresh module.
    Ref name = Ref::adopt(PyObject_GetAttrString(module_spec, "name"));
    if (!name) return nullptr;
    return PyModule_NewObject(name.get());
}

int exec_module(PyObject* module) noexcept {
    if (module == process::finished_module()) return 0;
    if (ready_function_type() < 0) return -1;
    int result = -1;
    try {
        result = run_module_body(module);
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "qel: unexpected C++ exception while importing");
        result = -1;
    }
    if (result == 0) process::remember_finished(module);
    return result;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_multiple_interpreters
    // Declared so that the import system lets a second interpreter reach the
    // create slot, which then refuses it with this module's own message.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "qel",
    module_doc,
    0,        // no per-module state: everything lives in module globals
    nullptr,  // no method table: the body creates every function
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace qel::module

PyMODINIT_FUNC PyInit_qel() {
    return PyModuleDef_Init(&qel::module::module_def);
}
