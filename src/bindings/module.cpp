// The module entry: the two classes and six functions, added in a fixed
// order, each name appended to __all__ as it is added. Nothing else runs at
// import time.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "bindings/classes.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/errors.hpp"
#include "bindings/functions.hpp"
#include "bindings/py_ref.hpp"

namespace bc::py {
namespace {

#define BC_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyMethodDef functions[] = {
    {"profile_hardware", BC_FASTCALL(profile_hardware), METH_FASTCALL | METH_KEYWORDS,
     doc::kProfileHardware},
    {"optimize", BC_FASTCALL(optimize), METH_FASTCALL | METH_KEYWORDS, doc::kOptimize},
    {"export_ollama", BC_FASTCALL(export_ollama), METH_FASTCALL | METH_KEYWORDS,
     doc::kExportOllama},
    {"analyze_model", BC_FASTCALL(analyze_model), METH_FASTCALL | METH_KEYWORDS,
     doc::kAnalyzeModel},
    {"convert_gguf_to_onnx", BC_FASTCALL(convert_gguf_to_onnx), METH_FASTCALL | METH_KEYWORDS,
     doc::kConvertGgufToOnnx},
    {"convert_onnx_to_gguf", BC_FASTCALL(convert_onnx_to_gguf), METH_FASTCALL | METH_KEYWORDS,
     doc::kConvertOnnxToGguf},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT,
                          "_brindlecove",
                          doc::kModule,
                          -1,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr};

// Appends `name` to __all__ (creating it on first use), then sets the
// attribute. Steals `value`.
bool add(PyObject* module, const char* name, PyObject* value) {
  PyRef owned(value);
  if (!owned) return false;
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  PyRef all_ref(all);
  if (all == nullptr) {
    PyErr_Clear();
    all_ref = PyRef(PyList_New(0));
    if (!all_ref || PyModule_AddObjectRef(module, "__all__", all_ref.get()) < 0) return false;
  }
  PyRef text(PyUnicode_FromString(name));
  if (!text || PyList_Append(all_ref.get(), text.get()) < 0) return false;
  return PyModule_AddObjectRef(module, name, owned.get()) == 0;
}

PyObject* init() {
  if (!create_internal_fault_type()) return nullptr;
  PyRef module(PyModule_Create(&module_def));
  if (!module) return nullptr;
  if (!add(module.get(), "HardwareProfile",
           reinterpret_cast<PyObject*>(create_hardware_profile_type())))
    return nullptr;
  if (!add(module.get(), "OptimizationResult",
           reinterpret_cast<PyObject*>(create_optimization_result_type())))
    return nullptr;
  PyRef module_name(PyModule_GetNameObject(module.get()));
  if (!module_name) return nullptr;
  for (PyMethodDef* def = functions; def->ml_name != nullptr; ++def) {
    if (!add(module.get(), def->ml_name, PyCFunction_NewEx(def, nullptr, module_name.get())))
      return nullptr;
  }
  return module.release();
}

}  // namespace
}  // namespace bc::py

PyMODINIT_FUNC PyInit__brindlecove(void) { return bc::py::init(); }
