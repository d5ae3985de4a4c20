// The interpreter's types the kernels work in (Py_ssize_t, Py_UCS1, Py_UCS2,
// Py_UCS4): the only thing this folder takes from outside it, so that the
// vector code stands on nothing else of the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
