#pragma once
// The module's six functions, vectorcall style.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace bc::py {

PyObject* profile_hardware(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* optimize(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* export_ollama(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* analyze_model(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* convert_gguf_to_onnx(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);
PyObject* convert_onnx_to_gguf(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);

}  // namespace bc::py
