#include "bindings/arguments.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace bc::py {
namespace {

std::string quoted_list(const std::vector<const char*>& names) {
  // CPython: 'a'; 'a' and 'b'; 'a', 'b', and 'c'
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

const char* type_name(PyObject* obj) { return Py_TYPE(obj)->tp_name; }

void conversion_error(const char* name, const char* expected, PyObject* obj) {
  // Heap types carry a dotted tp_name; the short name reads like CPython.
  const char* full = type_name(obj);
  const char* dot = std::strrchr(full, '.');
  PyErr_Format(PyExc_TypeError, "argument '%s': must be %s, not %s", name, expected,
               dot ? dot + 1 : full);
}

// Replaces the pending exception by "argument 'NAME': <its text>", raised as
// `type`, or as the pending exception's own type when `type` is null.
void prefix_pending_error(const char* name, PyObject* type, const char* fallback) {
  PyObject *pending, *value, *tb;
  PyErr_Fetch(&pending, &value, &tb);
  PyObject* text = value ? PyObject_Str(value) : nullptr;
  const char* utf8 = text ? PyUnicode_AsUTF8(text) : nullptr;
  if (utf8 == nullptr) PyErr_Clear();
  PyObject* raise_as = type ? type : (pending ? pending : PyExc_TypeError);
  PyErr_Format(raise_as, "argument '%s': %s", name, utf8 ? utf8 : fallback);
  Py_XDECREF(text);
  Py_XDECREF(pending);
  Py_XDECREF(value);
  Py_XDECREF(tb);
}

}  // namespace

bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::vector<PyObject*>& out) {
  const size_t total = sig.names.size();
  out.assign(total, nullptr);
  // CPython looks at the keywords before it counts surplus positionals, so
  // f(1, 2, 3, x=4) reports the keyword first.
  const size_t placed = std::min(static_cast<size_t>(nargs), total);
  for (size_t i = 0; i < placed; ++i) out[i] = args[i];

  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const char* key_text = PyUnicode_AsUTF8(key);
    if (key_text == nullptr) return false;
    size_t index = total;
    for (size_t j = 0; j < total; ++j) {
      if (std::strcmp(sig.names[j], key_text) == 0) {
        index = j;
        break;
      }
    }
    if (index == total) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", sig.function,
                   key_text);
      return false;
    }
    if (out[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.function,
                   key_text);
      return false;
    }
    out[index] = args[nargs + k];
  }

  if (static_cast<size_t>(nargs) > total) {
    std::string takes;
    if (sig.required == total) {
      takes = std::to_string(total);
    } else {
      takes = "from " + std::to_string(sig.required) + " to " + std::to_string(total);
    }
    PyErr_Format(PyExc_TypeError, "%s() takes %s positional argument%s but %zd %s given",
                 sig.function, takes.c_str(), total == 1 && sig.required == total ? "" : "s", nargs,
                 nargs == 1 ? "was" : "were");
    return false;
  }

  std::vector<const char*> missing;
  for (size_t j = 0; j < sig.required; ++j)
    if (out[j] == nullptr) missing.push_back(sig.names[j]);
  if (!missing.empty()) {
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s",
                 sig.function, missing.size(), missing.size() == 1 ? "" : "s",
                 quoted_list(missing).c_str());
    return false;
  }
  return true;
}

bool convert_str(PyObject* obj, const char* name, std::string& out) {
  if (!PyUnicode_Check(obj)) {
    conversion_error(name, "str", obj);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) {
    // A lone surrogate cannot be a path or a name we could pass on.
    prefix_pending_error(name, PyExc_TypeError, "invalid str");
    return false;
  }
  out.assign(data, static_cast<size_t>(size));
  return true;
}

bool convert_optional_str(PyObject* obj, const char* name, std::optional<std::string>& out) {
  out.reset();
  if (obj == nullptr || obj == Py_None) return true;
  if (!PyUnicode_Check(obj)) {
    conversion_error(name, "str or None", obj);
    return false;
  }
  std::string value;
  if (!convert_str(obj, name, value)) return false;
  out = std::move(value);
  return true;
}

bool convert_optional_float(PyObject* obj, const char* name, std::optional<double>& out) {
  out.reset();
  if (obj == nullptr || obj == Py_None) return true;
  double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
      // OverflowError and friends keep their own type, with our prefix.
      prefix_pending_error(name, nullptr, "conversion failed");
      return false;
    }
    PyErr_Clear();
    conversion_error(name, "real number or None", obj);
    return false;
  }
  out = v;
  return true;
}

bool convert_bool(PyObject* obj, const char* name, bool& out) {
  if (PyBool_Check(obj)) {
    out = obj == Py_True;
    return true;
  }
  // NumPy's scalar booleans are bools in all but type.
  const char* tn = type_name(obj);
  if (std::strcmp(tn, "numpy.bool_") == 0 || std::strcmp(tn, "numpy.bool") == 0) {
    int truth = PyObject_IsTrue(obj);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
  }
  conversion_error(name, "bool", obj);
  return false;
}

}  // namespace bc::py
