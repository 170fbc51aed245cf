#pragma once
// The two Python classes that wrap records.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>

#include "core/records.hpp"

namespace bc::py {

PyTypeObject* create_hardware_profile_type();
PyTypeObject* create_optimization_result_type();

// New instances; nullptr with a Python error set on failure.
PyObject* new_hardware_profile(const HardwareProfile& profile);
PyObject* new_optimization_result(std::string model_path, std::optional<std::string> output_path,
                                  const OptimizationResult& result);

// Reads back an OptimizationResult object; nullptr (TypeError set) when
// `obj` is not one.
struct OptimizationResultView {
  const std::string* model_path;
  const std::optional<std::string>* output_path;
  const OptimizationResult* result;
};
bool view_optimization_result(PyObject* obj, const char* argument_name,
                              OptimizationResultView& out);

// Shared by both classes: "No constructor defined for <name>".
PyObject* refuse_construction(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// An immutable heap type whose instances can only come from our own code.
PyTypeObject* make_wrapper_type(const char* qualified_name, size_t basic_size, const char* doc,
                                destructor dealloc, reprfunc repr, PyMethodDef* methods,
                                PyGetSetDef* getset);

}  // namespace bc::py
