#include "core/process.hpp"

namespace qel::core::process {
namespace {

constexpr int64_t no_interpreter = -1;
int64_t owner = no_interpreter;
PyObject* finished = nullptr;  // strong; kept for the life of the process

}  // namespace

int claim_interpreter() {
    const int64_t current = compat::interpreter_id();
    if (current < 0) return -1;
    if (owner == no_interpreter) owner = current;
    if (owner != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per process.");
        return -1;
    }
    return 0;
}

PyObject* finished_module() { return finished; }

void remember_finished(PyObject* module) {
    Py_XSETREF(finished, Py_NewRef(module));
}

}  // namespace qel::core::process
