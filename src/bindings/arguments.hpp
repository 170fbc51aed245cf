#pragma once
// The one argument mechanism of every exported function: positional and
// keyword binding with CPython's own wording, then per-argument conversion
// whose failures read "argument 'NAME': ...".

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace bc::py {

struct Signature {
  const char* function;            // e.g. "optimize"
  std::vector<const char*> names;  // in signature order
  size_t required;                 // leading names that have no default
};

// Binds vectorcall arguments to the signature. `out` receives one borrowed
// reference per name, nullptr where the argument was not given. Returns
// false with a TypeError set on a binding fault.
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::vector<PyObject*>& out);

// Converters. Each returns false with TypeError set; `name` is the
// argument's name for the message. None counts as absent for the optional
// forms.
bool convert_str(PyObject* obj, const char* name, std::string& out);
bool convert_optional_str(PyObject* obj, const char* name, std::optional<std::string>& out);
bool convert_optional_float(PyObject* obj, const char* name, std::optional<double>& out);
bool convert_bool(PyObject* obj, const char* name, bool& out);

}  // namespace bc::py
